// dravonelle-push: pushes files to a display over its push port (1001).
//
//   dravonelle-push [--port N] [--chunk BYTES] [--timeout SECONDS] HOST FILE[=NAME]...
//
// Each FILE goes to the display's content folder under NAME (default: its own name).
// Exit status: 0 all sent; 2 usage; 3 no connection; 4 the display did not answer as
// the protocol says; 5 a local file could not be read.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>

#include <unistd.h>
#include <cstdio>

namespace {

enum Exit { kOk = 0, kUsage = 2, kNoConnection = 3, kProtocol = 4, kLocalFile = 5 };

const QByteArray kDst = "Msg_Dst_";
const QByteArray kEof = "Msg_Eof_";
const QByteArray kOkS = "Msg_OkS";
const QByteArray kRec = "Msg_Rec";
constexpr int kQuietMs = 100;  // the display takes each message as one read: keep them apart

[[noreturn]] void Fail(Exit code, const QString& message) {
    std::fprintf(stderr, "\ndravonelle-push: %s\n", qPrintable(message));
    std::exit(code);
}

class Session {
  public:
    Session(QTcpSocket& socket, int timeoutMs) : socket_(socket), timeoutMs_(timeoutMs) {}

    // Waits for `reply`; extra acknowledgements (the display answers every read it
    // makes, and the network may split a chunk) are counted and skipped.
    void Expect(const QByteArray& reply) {
        QElapsedTimer clock;
        clock.start();
        while (!TakeReply(reply)) {
            const int left = timeoutMs_ - static_cast<int>(clock.elapsed());
            if (left <= 0 || !socket_.waitForReadyRead(left)) {
                if (socket_.state() != QAbstractSocket::ConnectedState) {
                    Fail(kProtocol, "the display closed the connection (waiting for " +
                                        QString::fromLatin1(reply) + ")");
                }
                Fail(kProtocol, "no " + QString::fromLatin1(reply) + " from the display within " +
                                    QString::number(timeoutMs_ / 1000) + " s");
            }
            pending_ += socket_.readAll();
        }
    }

    // Sends one message once the display has been quiet for a moment, so that it does
    // not run into the previous one.
    void SendAlone(const QByteArray& message) {
        Quiet();
        Send(message);
    }

    void Send(const QByteArray& message) {
        if (socket_.write(message) != message.size()) {
            Fail(kProtocol, "cannot send: " + socket_.errorString());
        }
        while (socket_.bytesToWrite() > 0) {
            if (!socket_.waitForBytesWritten(timeoutMs_)) {
                Fail(kProtocol, "cannot send: " + socket_.errorString());
            }
        }
    }

    void Quiet() {
        while (socket_.waitForReadyRead(kQuietMs)) {
            pending_ += socket_.readAll();
        }
        pending_.replace(kRec, "");
        if (!pending_.isEmpty()) {
            Fail(kProtocol, "unexpected reply: " + QString::fromLatin1(pending_.left(32)));
        }
    }

  private:
    bool TakeReply(const QByteArray& reply) {
        const qsizetype at = pending_.indexOf(reply);
        if (at < 0) {
            return false;
        }
        QByteArray before = pending_.left(at);
        before.replace(kRec, "");
        if (!before.isEmpty()) {
            Fail(kProtocol, "unexpected reply: " + QString::fromLatin1(before.left(32)));
        }
        pending_.remove(0, at + reply.size());
        return true;
    }

    QTcpSocket& socket_;
    int timeoutMs_;
    QByteArray pending_;
};

void Progress(const QString& name, qint64 done, qint64 total) {
    if (!isatty(STDERR_FILENO)) {
        return;
    }
    const int width = 30;
    const int filled = total > 0 ? static_cast<int>(done * width / total) : width;
    std::fprintf(stderr, "\r%-24.24s [%s%s] %3d%%", qPrintable(name),
                 QByteArray(filled, '#').constData(), QByteArray(width - filled, '.').constData(),
                 total > 0 ? static_cast<int>(done * 100 / total) : 100);
}

// A chunk must not begin with a control word, or the display takes it for one: such a
// chunk goes as a read of 7 bytes (shorter reads are always data), and a chunk is cut
// shorter where the next one would begin with a control word.
bool IsControlWord(const QByteArray& bytes) {
    return bytes == kEof || bytes == kDst;
}

qsizetype SafeChunkLength(const QByteArray& rest, qsizetype wanted) {
    qsizetype length = std::min<qsizetype>(wanted, rest.size());
    if (IsControlWord(rest.left(8))) {
        length = std::min<qsizetype>(length, 7);
    }
    while (length > 1 && length < rest.size() && IsControlWord(rest.mid(length, 8))) {
        --length;
    }
    return length;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("dravonelle-push");
    QCommandLineParser parser;
    parser.setApplicationDescription("Pushes files to a dravonelle display.");
    parser.addHelpOption();
    parser.addOption({"port", "The display's push port.", "N", "1001"});
    parser.addOption({"chunk", "Bytes per data message.", "BYTES", "65536"});
    parser.addOption({"timeout", "Seconds to wait for each reply.", "SECONDS", "30"});
    parser.addPositionalArgument("host", "The display.");
    parser.addPositionalArgument("files", "FILE or FILE=NAME on the display.", "FILE[=NAME]...");
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    bool portOk = false, chunkOk = false, timeoutOk = false;
    const int port = parser.value("port").toInt(&portOk);
    const qint64 chunk = parser.value("chunk").toLongLong(&chunkOk);
    const int timeout = parser.value("timeout").toInt(&timeoutOk);
    if (args.size() < 2 || !portOk || port <= 0 || port > 65535 || !chunkOk || chunk <= 0 ||
        !timeoutOk || timeout <= 0) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return kUsage;
    }

    struct Item {
        QString path, name;
    };
    QList<Item> items;
    for (const QString& arg : args.mid(1)) {
        const qsizetype eq = arg.indexOf('=');
        Item item{eq < 0 ? arg : arg.left(eq), eq < 0 ? QString() : arg.mid(eq + 1)};
        if (item.name.isEmpty()) {
            item.name = QFileInfo(item.path).fileName();
        }
        if (!QFileInfo(item.path).isFile()) {
            Fail(kLocalFile, "not a file: " + item.path);
        }
        items << item;
    }

    QTcpSocket socket;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.connectToHost(args.first(), static_cast<quint16>(port));
    if (!socket.waitForConnected(timeout * 1000)) {
        Fail(kNoConnection, "cannot connect to " + args.first() + ":" + QString::number(port) +
                                ": " + socket.errorString());
    }
    Session session(socket, timeout * 1000);
    for (const Item& item : items) {
        QFile file(item.path);
        if (!file.open(QIODevice::ReadOnly)) {
            Fail(kLocalFile, "cannot read " + item.path + ": " + file.errorString());
        }
        const qint64 total = file.size();
        session.SendAlone(kDst + "000" + item.name.toUtf8());
        session.Expect(kOkS);
        qint64 sent = 0;
        QByteArray rest;
        Progress(item.name, 0, total);
        while (sent < total) {
            if (rest.size() < chunk + 8) {
                rest += file.read(chunk + 8 - rest.size() + chunk);
            }
            if (rest.isEmpty()) {
                Fail(kLocalFile, "cannot read " + item.path + ": " + file.errorString());
            }
            const qsizetype length = SafeChunkLength(rest, chunk);
            session.Send(rest.left(length));
            rest.remove(0, length);
            sent += length;
            session.Expect(kRec);
            Progress(item.name, sent, total);
        }
        session.SendAlone(kEof);
        if (isatty(STDERR_FILENO)) {
            std::fputs("\n", stderr);
        }
        std::printf("sent %s as %s (%lld bytes)\n", qPrintable(item.path), qPrintable(item.name),
                    static_cast<long long>(total));
    }
    session.Quiet();
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.waitForDisconnected(timeout * 1000);
    }
    return kOk;
}
