#include "window/screen_keeper.h"

#include "platform/log.h"

#include <QGuiApplication>

ScreenKeeper::ScreenKeeper(QWidget* window, QString wantedName)
    : QObject(window), window_(window), wanted_(std::move(wantedName)) {
    settle_.setSingleShot(true);
    settle_.setInterval(100);
    connect(&settle_, &QTimer::timeout, this, [this] { Fit(); });
    auto* app = qGuiApp;
    connect(app, &QGuiApplication::screenAdded, this, [this] { FitSoon(); });
    connect(app, &QGuiApplication::screenRemoved, this, [this] { FitSoon(); });
    connect(app, &QGuiApplication::primaryScreenChanged, this, [this] { FitSoon(); });
    if (!wanted_.isEmpty() && Choose(QGuiApplication::screens(), nullptr, wanted_) == nullptr) {
        QStringList names;
        for (const QScreen* screen : QGuiApplication::screens()) {
            names << screen->name();
        }
        qCWarning(lcApp).noquote()
            << QStringLiteral(
                   "[system] screen: no screen %1 (screens: %2); the primary screen "
                   "is used until it appears")
                   .arg(wanted_, names.join(QStringLiteral(", ")));
    }
}

QScreen* ScreenKeeper::Choose(const QList<QScreen*>& screens, QScreen* primary,
                              const QString& wanted) {
    if (!wanted.isEmpty()) {
        for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
            for (QScreen* screen : screens) {
                if (screen->name().compare(wanted, cs) == 0) {
                    return screen;
                }
            }
        }
    }
    return primary;
}

void ScreenKeeper::Show() {
    Fit();
    window_->showFullScreen();
    // Without a window manager nothing acts on the request for full screen, and Qt may
    // have placed the window at its last normal geometry: fit it once more.
    Fit();
}

void ScreenKeeper::FitSoon() {
    settle_.start();
}

void ScreenKeeper::Fit() {
    QScreen* chosen = Choose(QGuiApplication::screens(), QGuiApplication::primaryScreen(), wanted_);
    if (chosen == nullptr) {
        return;  // no screen at all for now: wait for one to be added
    }
    if (chosen != screen_) {
        if (screen_) {
            disconnect(screen_, nullptr, this, nullptr);
        }
        screen_ = chosen;
        connect(chosen, &QScreen::geometryChanged, this, [this] { FitSoon(); });
        qCInfo(lcApp).noquote() << "screen:" << chosen->name() << chosen->geometry();
        window_->setScreen(chosen);
    }
    const QRect area = chosen->geometry();
    if (window_->geometry() != area) {
        qCInfo(lcApp) << "window fitted to" << area;
        window_->setGeometry(area);
    }
}
