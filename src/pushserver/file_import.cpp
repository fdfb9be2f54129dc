// The operator's import of files chosen in the open-file dialog.
#include "platform/log.h"
#include "window/form1.h"

void Form1::FileCopyButton_Click() {
    CommonDialog1.ShowOpen();
    const QString title = CommonDialog1.FileTitle;
    const QString fileName = CommonDialog1.FileName;
    auto copy = [this](const QString& source, const QString& name) {
        const QString target = ContentPath(name).toLower();
        if (platform_.files->CopyFile(source, target)) {
            qCInfo(lcPush).noquote() << "copied in" << source << "as" << target;
        } else {
            qCWarning(lcPush).noquote() << "cannot copy" << source << "to" << target;
            SetStatus(QStringLiteral("Copy failed: ") + name);
        }
    };
    if (!title.isEmpty()) {
        copy(fileName, title);
        return;
    }
    if (fileName.isEmpty()) {
        return;
    }
    const QStringList parts = fileName.split(QChar(0));
    for (qsizetype i = 1; i < parts.size(); ++i) {
        copy(parts[0] + '\\' + parts[i], parts[i]);
    }
}
