// The operator's import of files chosen in the open-file dialog. The files are copied one
// after another on a worker, with their progress on the status line.
#include "platform/log.h"
#include "window/form1.h"

void Form1::FileCopyButton_Click() {
    if (Importing()) {
        qCInfo(lcPush) << "an import is still under way; a new one waits until it is done";
        return;
    }
    CommonDialog1.ShowOpen();
    const QString title = CommonDialog1.FileTitle;
    const QString fileName = CommonDialog1.FileName;
    if (!title.isEmpty()) {
        push_.importQueue.append({fileName, title});
    } else if (!fileName.isEmpty()) {
        const QStringList parts = fileName.split(QChar(0));
        for (qsizetype i = 1; i < parts.size(); ++i) {
            push_.importQueue.append({parts[0] + '\\' + parts[i], parts[i]});
        }
    }
    push_.importFailed.clear();
    ImportNext();
}

void Form1::ImportNext() {
    if (push_.importQueue.isEmpty()) {
        if (platform_.asrun) {
            platform_.asrun->StoreOrigins();
        }
        if (!push_.importFailed.isEmpty()) {
            SetStatus(QStringLiteral("Copy failed: ") + push_.importFailed);  // the last word
        }
        return;
    }
    const auto [source, name] = push_.importQueue.first();
    const QString target = ContentPath(name).toLower();
    auto refused = std::make_shared<std::optional<content::Refused>>();
    platform_.files->CopyFile(
        source, target,
        [this, name](int percent) {
            SetStatus(QStringLiteral("Copy: %1 %2 %").arg(name).arg(percent));
        },
        [this, source, target, name, refused](const platform::Result<>& copied) {
            if (copied) {
                qCInfo(lcPush).noquote() << "copied in" << source << "as" << target;
                if (platform_.asrun) {
                    platform_.asrun->NoteOrigin(name, {asrun::origin::kImport, QString()});
                }
            } else {
                if (*refused) {
                    status.ContentRefused(name, **refused, false);
                }
                qCWarning(lcPush).noquote()
                    << "cannot copy" << source << "to" << target << ":" << copied.reason();
                push_.importFailed = name + QStringLiteral(" (") + copied.reason() + ')';
                SetStatus(QStringLiteral("Copy failed: ") + push_.importFailed);
            }
            push_.importQueue.removeFirst();
            ImportNext();
        },
        ContentCheckFor(target.mid(target.lastIndexOf('\\') + 1), refused));
}
