// The file push server on TCP port 1001.
#include "module1/content_names.h"
#include "platform/log.h"
#include "pushserver/push_names.h"
#include "pushserver/push_protocol.h"
#include "window/form1.h"

using namespace push_protocol;

void Form1::WskServer_ConnectionRequest(int Index, long requestID) {
    const int index = Index + 1;
    if (platform_.pushAllow) {
        const QString peer = WskServer.PeerAddress(requestID);
        if (!platform_.pushAllow->Allows(peer)) {
            // Not accepted: the request is closed unread, and the connection being
            // served stays.
            qCWarning(lcPush).noquote()
                << "connection refused:" << peer << "is not allowed to push";
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
    if (!WskServer.Accept(index, requestID)) {
        qCWarning(lcPush) << "connection request could not be accepted";
        return;
    }
    pushIndex_ = index;
    RestartPushIdleTimer();
    SetStatus(QStringLiteral("Connection Estabilished..."));
}

void Form1::WskServer_DataArrival(int Index, qint64) {
    const QByteArray s = WskServer.GetData(Index);
    if (Index == pushIndex_) {
        RestartPushIdleTimer();
    }
    const QByteArray head = s.left(8);
    if (head == kEof) {
        if (receiving_ && !receiveError_.isEmpty()) {
            FailPushConnection(Index, QStringLiteral("cannot store ") + ReceivePath +
                                          QStringLiteral(": ") + receiveError_);
            return;
        }
        if (receiving_) {
            receiving_ = false;
            QString error;
            const bool closed = receiveFile_->Close();
            if (!closed) {
                error = receiveFile_->ErrorText();
            }
            receiveFile_.reset();
            if (!closed) {
                platform_.files->DeleteFile(receiveTemp_);
                FailPushConnection(Index,
                                   platform::WriteFailure(ReceivePath, error, receivedBytes_));
                return;
            }
            if (!platform_.files->ReplaceFile(receiveTemp_, ReceivePath, &error)) {
                platform_.files->DeleteFile(receiveTemp_);
                FailPushConnection(Index, QStringLiteral("cannot store ") + ReceivePath +
                                              QStringLiteral(": ") + error);
                return;
            }
            qCInfo(lcPush).noquote() << "received" << ReceivePath;
        }
        SetStatus(QStringLiteral("File Received..."));
        return;
    }
    if (head == kDst) {
        if (s.size() < 8 + kSkipAfterDst) {
            FailPushConnection(Index, QStringLiteral("destination message too short"));
            return;
        }
        DropPushReceive();
        const QString name = pushserver::DecodeName(s.mid(8 + kSkipAfterDst));
        ReceivePath = ContentPath(name);
        receiving_ = true;
        receivedBytes_ = 0;
        receiveError_ = content::RefusalReason(name, content::kPushedName);
        if (receiveError_.isEmpty() && !platform_.files->IsDrivePath(ReceivePath)) {
            receiveError_ = QStringLiteral("name that leaves the folder");
        }
        if (receiveError_.isEmpty()) {
            receiveTemp_ = platform::TemporaryBeside(ReceivePath);  // in place once complete
            receiveFile_ = platform_.files->CreateFile(receiveTemp_, &receiveError_);
            if (receiveFile_) {
                receiveError_.clear();
            } else if (receiveError_.isEmpty()) {
                receiveError_ = QStringLiteral("cannot open");
            }
        }
        if (!receiveError_.isEmpty()) {
            qCWarning(lcPush).noquote() << "destination refused:" << name << "-" << receiveError_;
        }
        WskServer.SendData(Index, kOkS);
        return;
    }
    if (!receiving_) {
        FailPushConnection(Index, QStringLiteral("data before any destination"));
        return;
    }
    if (!receiveFile_) {
        FailPushConnection(Index, QStringLiteral("cannot store ") + ReceivePath +
                                      QStringLiteral(": ") + receiveError_);
        return;
    }
    receivedBytes_ += s.size();
    if (receivedBytes_ > platform_.pushMaxBytes) {
        FailPushConnection(Index, QStringLiteral("push larger than %1 bytes: %2 dropped")
                                      .arg(platform_.pushMaxBytes)
                                      .arg(ReceivePath));
        return;
    }
    if (!receiveFile_->Write(s)) {
        FailPushConnection(
            Index, platform::WriteFailure(ReceivePath, receiveFile_->ErrorText(), receivedBytes_));
        return;
    }
    WskServer.SendData(Index, kRec);
}

void Form1::WskServer_Close(int Index) {
    SetStatus(QStringLiteral("Connection Closed..."));
    if (Index == pushIndex_) {
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
    if (Index == pushIndex_ && !WskServer.IsConnected(Index)) {
        DropPushReceive();
    }
}

void Form1::DropPushReceive() {
    if (!receiving_) {
        return;
    }
    receiving_ = false;
    receiveError_.clear();
    if (receiveFile_) {
        receiveFile_->Close();
        receiveFile_.reset();
        platform_.files->DeleteFile(receiveTemp_);
        qCInfo(lcPush).noquote() << "incomplete file dropped, previous kept:" << ReceivePath;
    }
}

void Form1::FailPushConnection(int index, const QString& description) {
    qCWarning(lcPush).noquote() << description << "- connection closed";
    SetStatus(description);
    DropPushReceive();
    WskServer.Close(index);
    if (index == pushIndex_) {
        pushIdle_.SetEnabled(false);
    }
}

void Form1::RestartPushIdleTimer() {
    if (!pushIdle_.Tick) {
        pushIdle_.Tick = [this] {
            pushIdle_.SetEnabled(false);
            if (WskServer.IsConnected(pushIndex_)) {
                qCWarning(lcPush) << "push connection silent too long";
                DropPushReceive();
                WskServer.Close(pushIndex_);
                SetStatus(QStringLiteral("Connection Closed..."));
            }
        };
    }
    pushIdle_.SetEnabled(false);
    pushIdle_.SetInterval(platform_.pushIdleTimeoutMs);
    pushIdle_.SetEnabled(true);
}
