// The settings panel and the per-user store behind it.
#include "platform/log.h"
#include "window/form1.h"

namespace {

void Store(platform::SettingsStore& store, const char* key, const QString& value) {
    const auto stored = store.Set(QStringLiteral("dravonelle"), QStringLiteral("main"),
                                  QString::fromUtf8(key), value);
    if (!stored) {
        // The setting stays in its control and takes effect; only its storing failed.
        qCWarning(lcSettings) << "cannot store" << key << ":" << stored.reason();
    }
}

}  // namespace

void Form1::CmdShowinstelling_Click() {
    extra->setVisible(!extra->isVisible());
    KeepControlsInFront();
    MediaPlayer1.SetTop(MediaPlayer1.Top() - 5.0f);
}

void Form1::Lokatie_LostFocus() {
    Store(*platform_.settings, "lokatie", Lokatie->text());
}

void Form1::TxttijdUit_Change() {
    Store(*platform_.settings, "compuit", TxttijdUit->text());
}

void Form1::ChkNoUpdate_Click() {
    Store(*platform_.settings, "update", QString::number(NoUpdateValue()));
}

int Form1::NoUpdateValue() const {
    // 0 unticked, 1 ticked, 2 greyed.
    switch (ChkNoUpdate->checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        default:
            return 0;
    }
}

void Form1::SetNoUpdateValue(int value) {
    ChkNoUpdate->setTristate(value == 2);
    ChkNoUpdate->setCheckState(value == 1   ? Qt::Checked
                               : value == 2 ? Qt::PartiallyChecked
                                            : Qt::Unchecked);
}

void Form1::cmdEdit_Click() {
    const int state = windowState() & Qt::WindowMinimized   ? 1
                      : windowState() & Qt::WindowMaximized ? 2
                                                            : 0;
    if (!platform_.shell->Open(Lokatie->text(), state)) {
        qCWarning(lcSettings) << "cannot open" << Lokatie->text();
    }
}
