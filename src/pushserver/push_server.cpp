// The file push server on TCP port 1001.
#include "content/content_names.h"
#include "platform/log.h"
#include "platform/push_protocol.h"
#include "pushserver/push_names.h"
#include "window/form1.h"

using namespace push_protocol;

bool Form1::PushBusy() const {
    return push_.receiving || Importing();
}

void Form1::WskServer_ConnectionRequest(int Index, long requestID) {
    const int index = Index + 1;
    if (platform_.pushAllow) {
        const QString peer = WskServer.PeerAddress(requestID);
        if (!platform_.pushAllow->Allows(peer)) {
            // Not accepted: the request is closed unread, and the connection being
            // served stays.
            qCWarning(lcPush).noquote()
                << "connection refused:" << peer << "is not allowed to push";
            status.PushRefused();
            SetStatus(QStringLiteral("Connection refused: ") + peer);
            return;
        }
    }
    // What the previous connection has already delivered is handled before it goes: a
    // peer may close right after "Msg_Eof_", which has no reply, and connect again.
    if (const qint64 pending = WskServer.BytesPending(index); pending > 0) {
        WskServer_DataArrival(index, pending);
    }
    if (WskServer.IsConnected(index)) {
        // A new connection takes the place of the previous one.
        qCInfo(lcPush) << "new connection replaces the previous one";
        DropPushReceive();
        WskServer.Close(index);
    }
    const QString peer = WskServer.PeerAddress(requestID);
    if (const auto accepted = WskServer.Accept(index, requestID); !accepted) {
        qCWarning(lcPush).noquote()
            << "connection request could not be accepted:" << accepted.reason();
        return;
    }
    push_.index = index;
    ++push_.connection;
    status.PushPeer(peer);
    RestartPushIdleTimer();
    SetStatus(QStringLiteral("Connection Estabilished..."));
}

void Form1::WskServer_DataArrival(int Index, qint64) {
    const QByteArray s = WskServer.GetData(Index);
    if (Index == push_.index) {
        RestartPushIdleTimer();
    }
    const QByteArray head = s.left(8);
    if (head == kEof) {
        ReceiveEnd(Index, s.mid(8).startsWith(kAskVerdict));
    } else if (head == kDst) {
        ReceiveDestination(Index, s);
    } else {
        ReceiveData(Index, s);
    }
}

// "Msg_Dst_": a new file, accepted ("Msg_OkS") even when it cannot be stored; its data
// then ends the connection with the reason.
void Form1::ReceiveDestination(int index, const QByteArray& message) {
    if (message.size() < 8 + kSkipAfterDst) {
        FailPushConnection(index, QStringLiteral("destination message too short"));
        return;
    }
    DropPushReceive();
    const QString name = pushserver::DecodeName(message.mid(8 + kSkipAfterDst));
    ReceivePath = ContentPath(name);
    push_.receiving = true;
    push_.receivedBytes = 0;
    push_.file = DestinationFile(name);
    if (!push_.file) {
        qCWarning(lcPush).noquote() << "destination refused:" << name << "-" << push_.file.reason();
    }
    if (const auto sent = WskServer.SendData(index, kOkS); !sent) {
        qCWarning(lcPush).noquote() << "no answer sent to the peer:" << sent.reason();
    }
}

// The new version of ReceivePath, put in place once complete, or why there is none.
platform::Result<std::unique_ptr<platform::DurableFile>> Form1::DestinationFile(
    const QString& name) {
    if (const QString refused = content::RefusalReason(name, content::kPushedName);
        !refused.isEmpty()) {
        return platform::Fail(refused);
    }
    if (!platform_.files->IsDrivePath(ReceivePath)) {
        return platform::Fail(QStringLiteral("name that leaves the folder"));
    }
    return platform_.files->CreateDurable(ReceivePath);
}

// Whether the push under way has a file to go into; else its connection ends with why not.
bool Form1::Storable(int index) {
    if (push_.file) {
        return true;
    }
    FailPushConnection(index, QStringLiteral("cannot store ") + ReceivePath + QStringLiteral(": ") +
                                  push_.file.reason());
    return false;
}

// The file's bytes, each message answered with "Msg_Rec".
void Form1::ReceiveData(int index, const QByteArray& message) {
    if (!push_.receiving) {
        FailPushConnection(index, QStringLiteral("data before any destination"));
        return;
    }
    if (!Storable(index)) {
        return;
    }
    push_.receivedBytes += message.size();
    if (push_.receivedBytes > platform_.pushMaxBytes) {
        FailPushConnection(index, QStringLiteral("push larger than %1 bytes: %2 dropped")
                                      .arg(platform_.pushMaxBytes)
                                      .arg(ReceivePath));
        return;
    }
    if (const auto written = (*push_.file)->Write(message); !written) {
        FailPushConnection(
            index,
            platform::WriteFailure(ReceivePath, written.failure(), push_.receivedBytes).reason);
        return;
    }
    if (const auto sent = WskServer.SendData(index, kRec); !sent) {
        qCWarning(lcPush).noquote() << "no answer sent to the peer:" << sent.reason();
    }
}

// "Msg_Eof_", which has no answer unless it asks for the verdict or the file is refused:
// the file replaces the previous one.
void Form1::ReceiveEnd(int index, bool verdictAsked) {
    if (!push_.receiving) {
        SetStatus(QStringLiteral("File Received..."));
        return;
    }
    if (!Storable(index)) {
        return;
    }
    push_.receiving = false;
    CommitReceivedFile(std::move(*push_.file), index, verdictAsked);
    push_.file = PushInProgress::NoPush();
}

// In place, and said so, once the disk has it and its content is what its name says;
// pushes to one name replace in the order they arrived. A file not put in place is told to
// its peer, whose connection then ends.
void Form1::CommitReceivedFile(std::unique_ptr<platform::DurableFile> file, int index,
                               bool verdictAsked) {
    const QString path = ReceivePath;
    const qint64 size = push_.receivedBytes;
    const QString name = path.mid(path.lastIndexOf('\\') + 1);
    auto refused = std::make_shared<std::optional<content::Refused>>();
    const auto sameConnection = [this, index, connection = push_.connection] {
        return index == push_.index && connection == push_.connection &&
               WskServer.IsConnected(index);
    };
    const auto done = [this, path, name, size, refused, sameConnection,
                       verdictAsked](const platform::Result<>& committed) {
        if (!committed) {
            const QString error =
                *refused ? name + QStringLiteral(": ") + (*refused)->reason
                         : platform::WriteFailure(path, committed.failure(), size).reason;
            if (*refused) {
                status.ContentRefused(name, **refused, false);
                qCWarning(lcPush).noquote() << "pushed file refused, previous file kept:" << error;
            }
            if (sameConnection()) {
                (void)WskServer.SendData(push_.index, kRef + ' ' + error.toUtf8());
                FailPushConnection(push_.index, error);
            } else {
                qCWarning(lcPush).noquote() << error;
                SetStatus(error);
            }
            return;
        }
        if (verdictAsked && sameConnection()) {
            (void)WskServer.SendData(push_.index, kAcc);
        }
        qCInfo(lcPush).noquote() << "received" << path;
        if (platform_.asrun) {
            platform_.asrun->NoteOrigin(path.mid(path.lastIndexOf('\\') + 1),
                                        {asrun::origin::kPush, QString()});
            platform_.asrun->StoreOrigins();
        }
        status.PushReceived(path);
        SetStatus(QStringLiteral("File Received..."));
    };
    file->CommitChecked(ContentCheckFor(name, refused), done);
}

void Form1::WskServer_Close(int Index) {
    SetStatus(QStringLiteral("Connection Closed..."));
    if (Index == push_.index) {
        DropPushReceive();
        pushIdle_.SetEnabled(false);
    }
    WskServer.Close(Index);
}

void Form1::WskServer_Error(int Index, int Number, const QString& Description) {
    if (Number == 0) {
        return;
    }
    // Reported where the operator looks, without a box over the channel's picture.
    qCWarning(lcPush).noquote() << "socket error" << Number << "on element" << Index << ":"
                                << Description;
    SetStatus(QString::number(Number));
    if (Index == push_.index && !WskServer.IsConnected(Index)) {
        DropPushReceive();
    }
}

void Form1::DropPushReceive() {
    if (!push_.receiving) {
        return;
    }
    push_.receiving = false;
    if (push_.file) {
        (*push_.file)->Discard();  // the file goes, without being put on the disk
        qCInfo(lcPush).noquote() << "incomplete file dropped, previous kept:" << ReceivePath;
    }
    push_.file = PushInProgress::NoPush();
}

void Form1::FailPushConnection(int index, const QString& description) {
    qCWarning(lcPush).noquote() << description << "- connection closed";
    SetStatus(description);
    DropPushReceive();
    WskServer.Close(index);
    if (index == push_.index) {
        pushIdle_.SetEnabled(false);
    }
}

void Form1::RestartPushIdleTimer() {
    if (!pushIdle_.Tick) {
        pushIdle_.Tick = [this] {
            pushIdle_.SetEnabled(false);
            if (WskServer.IsConnected(push_.index)) {
                qCWarning(lcPush) << "push connection silent too long";
                DropPushReceive();
                WskServer.Close(push_.index);
                SetStatus(QStringLiteral("Connection Closed..."));
            }
        };
    }
    pushIdle_.SetEnabled(false);
    pushIdle_.SetInterval(platform_.pushIdleTimeoutMs);
    pushIdle_.SetEnabled(true);
}
