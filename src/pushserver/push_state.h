#pragma once

#include "platform/file_system.h"

#include <QList>
#include <QString>

#include <memory>
#include <utility>

// The window's state for a pushed file, written only by the push server's routines.
struct PushReceiveState {
    // The content file that the push under way replaces once "Msg_Eof_" arrives.
    QString ReceivePath;
};

// The push under way, and the operator's import, seen only by their routines.
struct PushInProgress {
    static platform::Failure NoPush() { return platform::Fail(QStringLiteral("no push")); }
    bool receiving = false;  // a destination was accepted and its end has not come
    int index = -1;          // the connection element that pushes; -1 when none does
    quint64 connection = 0;  // counts the accepted connections, to tell one from the next
    // The new version of ReceivePath, written until "Msg_Eof_" and then committed, or why
    // the destination cannot be stored.
    platform::Result<std::unique_ptr<platform::DurableFile>> file = NoPush();
    qint64 receivedBytes = 0;
    QList<std::pair<QString, QString>> importQueue;  // (source, name) still to copy in
    QString importFailed;  // the last name that could not be copied in, and why
};
