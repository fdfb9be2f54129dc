// The operator's import of files chosen in the open-file dialog. The files are copied one
// after another on a worker, with their progress on the status line.
#include "platform/log.h"
#include "window/form1.h"

void Form1::FileCopyButton_Click() {
    if (!importQueue_.isEmpty()) {
        qCInfo(lcPush) << "an import is still under way; a new one waits until it is done";
        return;
    }
    CommonDialog1.ShowOpen();
    const QString title = CommonDialog1.FileTitle;
    const QString fileName = CommonDialog1.FileName;
    if (!title.isEmpty()) {
        importQueue_.append({fileName, title});
    } else if (!fileName.isEmpty()) {
        const QStringList parts = fileName.split(QChar(0));
        for (qsizetype i = 1; i < parts.size(); ++i) {
            importQueue_.append({parts[0] + '\\' + parts[i], parts[i]});
        }
    }
    importFailed_.clear();
    ImportNext();
}

void Form1::ImportNext() {
    if (importQueue_.isEmpty()) {
        if (!importFailed_.isEmpty()) {
            SetStatus(QStringLiteral("Copy failed: ") + importFailed_);  // the last word
        }
        return;
    }
    const auto [source, name] = importQueue_.first();
    const QString target = ContentPath(name).toLower();
    platform_.files->CopyFile(
        source, target,
        [this, name](int percent) {
            SetStatus(QStringLiteral("Copy: %1 %2 %").arg(name).arg(percent));
        },
        [this, source, target, name](bool ok, const QString& error) {
            if (ok) {
                qCInfo(lcPush).noquote() << "copied in" << source << "as" << target;
            } else {
                qCWarning(lcPush).noquote()
                    << "cannot copy" << source << "to" << target << ":" << error;
                SetStatus(QStringLiteral("Copy failed: ") + name);
                importFailed_ = name;
            }
            importQueue_.removeFirst();
            ImportNext();
        });
}
