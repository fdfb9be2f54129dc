// dravonelle-push: pushes files to a display over its push port (1001), or to many.
//
//   dravonelle-push [--port N] [--chunk BYTES] [--timeout SECONDS] HOST FILE[=NAME]...
//   dravonelle-push [options] (--host HOST[:PORT])... [--hosts FILE] [--parallel N]
//                   FILE[=NAME]...
//
// Each FILE goes to the display's content folder under NAME (default: its own name).
// With --host or --hosts the same files go to every display named, to at most N at a time
// (default 4), each on its own connection with its own time-outs; the run ends with a
// table of the displays. A hosts file has one HOST[:PORT] a line; "#" starts a comment.
// Each file's end asks the display for its verdict, and a file is sent only once the
// display has it in place; a display of an older version gives none, and its files count
// as sent when the time-out has passed.
// Exit status: 0 all sent; 2 usage; 3 no connection; 4 the display did not answer as
// the protocol says; 5 a local file could not be read; 6 (many displays) not every
// display has the files; 7 the display refused a file (its content is not what its name
// says, or its disk did not take it).
#include "hosts_file.h"
#include "platform/program_info.h"
#include "platform/push_protocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>

#include <deque>

#include <unistd.h>
#include <cstdio>
#include <optional>

namespace {

enum Exit {
    kOk = 0,
    kUsage = 2,
    kNoConnection = 3,
    kProtocol = 4,
    kLocalFile = 5,
    kNotAll = 6,
    kRefused = 7
};

bool report = false;  // pushing for a run over many displays: progress as lines

using push_protocol::kAcc;
using push_protocol::kAskVerdict;
using push_protocol::kDst;
using push_protocol::kEof;
using push_protocol::kOkS;
using push_protocol::kRec;
using push_protocol::kRef;
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
        if (!Await(reply)) {
            Fail(kProtocol, "no " + QString::fromLatin1(reply) + " from the display within " +
                                QString::number(timeoutMs_ / 1000) + " s");
        }
    }

    // The display's verdict on the file just ended: false when it gave none in time (a
    // display of an older version).
    bool Verdict() { return Await(kAcc); }

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
        Refusal();
        pending_.replace(kRec, "");
        if (!pending_.isEmpty()) {
            Fail(kProtocol, "unexpected reply: " + QString::fromLatin1(pending_.left(32)));
        }
    }

  private:
    // Waits for `reply`, or fails when the display refused or closed; false at the time-out.
    bool Await(const QByteArray& reply) {
        QElapsedTimer clock;
        clock.start();
        while (!TakeReply(reply)) {
            const int left = timeoutMs_ - static_cast<int>(clock.elapsed());
            if (left <= 0 || !socket_.waitForReadyRead(left)) {
                pending_ += socket_.readAll();
                Refusal();
                if (socket_.state() != QAbstractSocket::ConnectedState) {
                    Fail(kProtocol, "the display closed the connection (waiting for " +
                                        QString::fromLatin1(reply) + ")");
                }
                return false;
            }
            pending_ += socket_.readAll();
        }
        return true;
    }

    // A refusal ends the run with the display's reason.
    void Refusal() {
        if (const qsizetype at = pending_.indexOf(kRef); at >= 0) {
            Fail(kRefused, "the display refused the file: " +
                               QString::fromUtf8(pending_.mid(at + kRef.size())).trimmed());
        }
    }

    bool TakeReply(const QByteArray& reply) {
        Refusal();
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
    if (report) {
        std::printf("progress %lld %lld\n", static_cast<long long>(done),
                    static_cast<long long>(total));
        std::fflush(stdout);
        return;
    }
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

// ---- Many displays: one run of this program per display, a few at a time ----

struct Display : hosts::Display {
    Display() = default;
    explicit Display(const hosts::Display& at) : hosts::Display(at) {}
    QProcess* process = nullptr;
    QElapsedTimer clock;
    qint64 sent = 0, total = 0;  // of the file under way
    int files = 0;
    qint64 bytes = 0;
    double seconds = 0;
    QString result;  // empty while under way or waiting
    QString reason;  // the last word of its run
};

class ManyDisplays {
  public:
    // Pushes `files` with the options `childArgs` to each display.
    ManyDisplays(QList<Display> displays, QStringList childArgs, QStringList files, int parallel)
        : files_(std::move(files)),
          displays_(std::move(displays)),
          childArgs_(std::move(childArgs)),
          parallel_(parallel),
          terminal_(isatty(STDERR_FILENO)) {}

    int Run() {
        for (qsizetype i = 0; i < displays_.size(); ++i) {
            waiting_.push_back(i);
        }
        StartMore();
        Draw();
        loop_.exec();
        Draw();
        return Table();
    }

  private:
    void StartMore() {
        while (running_ < parallel_ && !waiting_.empty()) {
            Display& display = displays_[waiting_.front()];
            waiting_.pop_front();
            ++running_;
            display.process = new QProcess(&loop_);
            display.clock.start();
            QProcess* process = display.process;
            QObject::connect(process, &QProcess::readyReadStandardOutput, &loop_,
                             [this, &display] { Read(display); });
            QObject::connect(process, &QProcess::finished, &loop_,
                             [this, &display](int code, QProcess::ExitStatus status) {
                                 Finished(display, status == QProcess::NormalExit ? code : -1);
                             });
            process->start(QCoreApplication::applicationFilePath(),
                           QStringList{"--report", "--port", QString::number(display.port)} +
                               childArgs_ + QStringList{display.host} + files_);
        }
        if (running_ == 0 && waiting_.empty()) {
            loop_.quit();
        }
    }

    void Read(Display& display) {
        while (display.process->canReadLine()) {
            const QString line = QString::fromUtf8(display.process->readLine()).trimmed();
            const QStringList words = line.split(' ');
            if (words.size() == 3 && words[0] == "progress") {
                display.sent = words[1].toLongLong();
                display.total = words[2].toLongLong();
            } else if (line.startsWith("sent ")) {
                ++display.files;
                display.bytes += display.total;
            }
        }
        Draw();
    }

    void Finished(Display& display, int code) {
        Read(display);
        display.seconds = display.clock.elapsed() / 1000.0;
        const QStringList errors = QString::fromUtf8(display.process->readAllStandardError())
                                       .split('\n', Qt::SkipEmptyParts);
        display.reason =
            errors.isEmpty() ? QString() : QString(errors.last()).remove("dravonelle-push: ");
        display.result = code == kOk
                             ? QStringLiteral("ok")
                             : (display.reason.isEmpty() ? QStringLiteral("ended with %1").arg(code)
                                                         : display.reason);
        if (!terminal_) {
            std::printf("%s: %s, %d files, %lld bytes, %.1f s\n", qPrintable(display.Name()),
                        qPrintable(display.result), display.files,
                        static_cast<long long>(display.bytes), display.seconds);
            std::fflush(stdout);
        }
        display.process->deleteLater();
        display.process = nullptr;
        --running_;
        StartMore();
    }

    // On a terminal, a line per display, drawn again in place.
    void Draw() {
        if (!terminal_) {
            return;
        }
        if (drawn_) {
            std::fprintf(stderr, "\033[%lldA", static_cast<long long>(displays_.size()));
        }
        drawn_ = true;
        for (const Display& display : displays_) {
            QString state;
            if (!display.result.isEmpty()) {
                state = display.result;
            } else if (!display.process) {
                state = "waiting";
            } else if (display.total == 0) {
                state = QStringLiteral("connecting (%1 sent)").arg(display.files);
            } else {
                const int percent = static_cast<int>(display.sent * 100 / display.total);
                state = QStringLiteral("file %1: [%2%3] %4%")
                            .arg(display.files + 1)
                            .arg(QString(percent / 5, '#'), QString(20 - percent / 5, '.'))
                            .arg(percent);
            }
            std::fprintf(stderr, "\r\033[K%-26s %s\n", qPrintable(display.Name()),
                         qPrintable(state.left(100)));
        }
    }

    int Table() {
        bool all = true;
        std::printf("%-26s %5s %12s %9s  %s\n", "display", "files", "bytes", "time", "result");
        for (const Display& display : displays_) {
            all = all && display.result == "ok";
            std::printf("%-26s %5d %12lld %7.1f s  %s\n", qPrintable(display.Name()), display.files,
                        static_cast<long long>(display.bytes), display.seconds,
                        qPrintable(display.result));
        }
        return all ? kOk : kNotAll;
    }

    QStringList files_;
    QList<Display> displays_;
    QStringList childArgs_;
    int parallel_;
    bool terminal_;
    bool drawn_ = false;
    int running_ = 0;
    std::deque<qsizetype> waiting_;
    QEventLoop loop_;
};

// Files to many displays: those --host and --hosts name.
int ToManyDisplays(const QCommandLineParser& parser, const QStringList& args, int port,
                   qint64 chunk, int timeout, int parallel) {
    QList<hosts::Display> named;
    for (const QString& name : parser.values("host")) {
        const auto display = hosts::Parse(name, static_cast<quint16>(port));
        if (!display) {
            std::fprintf(stderr, "dravonelle-push: --host %s\n", qPrintable(display.reason()));
            return kUsage;
        }
        named << *display;
    }
    if (parser.isSet("hosts")) {
        QFile list(parser.value("hosts"));
        if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
            Fail(kLocalFile, "cannot read " + list.fileName() + ": " + list.errorString());
        }
        const auto listed =
            hosts::ParseList(QString::fromUtf8(list.readAll()), static_cast<quint16>(port));
        if (!listed) {
            std::fprintf(stderr, "dravonelle-push: %s, %s\n", qPrintable(list.fileName()),
                         qPrintable(listed.reason()));
            return kUsage;
        }
        named << *listed;
    }
    QList<Display> displays;
    for (const hosts::Display& display : named) {
        displays << Display(display);
    }
    if (displays.isEmpty()) {
        std::fputs("dravonelle-push: no display named\n", stderr);
        return kUsage;
    }
    for (const QString& arg : args) {
        const QString path = arg.section('=', 0, 0);
        if (!QFileInfo(path).isFile()) {
            Fail(kLocalFile, "not a file: " + path);
        }
    }
    return ManyDisplays(displays,
                        {"--chunk", QString::number(chunk), "--timeout", QString::number(timeout)},
                        args, parallel)
        .Run();
}

struct Item {
    QString path, name;  // the local file, and its name on the display
};

// One file over a session: its destination, its data in chunks, each answered, its end.
void SendItem(Session& session, const Item& item, qint64 chunk) {
    QFile file(item.path);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(kLocalFile, "cannot read " + item.path + ": " + file.errorString());
    }
    const qint64 total = file.size();
    session.SendAlone(kDst + QByteArray(push_protocol::kSkipAfterDst, '0') + item.name.toUtf8());
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
    session.SendAlone(kEof + kAskVerdict);
    const bool verdict = session.Verdict();
    if (isatty(STDERR_FILENO)) {
        std::fputs("\n", stderr);
    }
    if (!verdict) {
        std::fprintf(stderr,
                     "dravonelle-push: no verdict on %s from the display (an older version?)\n",
                     qPrintable(item.name));
    }
    std::printf("sent %s as %s (%lld bytes)\n", qPrintable(item.path), qPrintable(item.name),
                static_cast<long long>(total));
}

// Files to one display: HOST FILE[=NAME]...
int ToOneDisplay(const QStringList& args, int port, qint64 chunk, int timeout) {
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
        SendItem(session, item, chunk);
    }
    session.Quiet();
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.waitForDisconnected(timeout * 1000);
    }
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("dravonelle-push");
    QCoreApplication::setApplicationVersion(QString::fromLatin1(platform::kVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Pushes files to a dravonelle display, or to many at once, over its push port.\n"
        "Each file is committed on the display only once it arrived whole and its content\n"
        "is what its name says; the display's verdict is waited for.\n"
        "Exits 0 when all arrived; 2 usage; 3 no connection; 4 the display broke the\n"
        "protocol; 5 a local file cannot be read; 6 not every display took every file;\n"
        "7 the display refused a file.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {"port", "The display's push port.", "N", QString::number(push_protocol::kPort)});
    parser.addOption({"chunk", "Bytes per data message.", "BYTES", "65536"});
    parser.addOption({"timeout", "Seconds to wait for each reply.", "SECONDS", "30"});
    parser.addOption({"host", "A display, HOST[:PORT]; the option may repeat.", "HOST"});
    parser.addOption({"hosts", "A file of displays, one HOST[:PORT] a line.", "FILE"});
    parser.addOption({"parallel", "Displays served at once.", "N", "4"});
    QCommandLineOption reportOption("report");
    reportOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(reportOption);
    parser.addPositionalArgument("host", "The display (without --host or --hosts).");
    parser.addPositionalArgument("files", "FILE or FILE=NAME on the display.", "FILE[=NAME]...");
    parser.process(app);
    report = parser.isSet(reportOption);
    const bool many = parser.isSet("host") || parser.isSet("hosts");
    const QStringList args = parser.positionalArguments();
    bool portOk = false, chunkOk = false, timeoutOk = false, parallelOk = false;
    const int port = parser.value("port").toInt(&portOk);
    const qint64 chunk = parser.value("chunk").toLongLong(&chunkOk);
    const int timeout = parser.value("timeout").toInt(&timeoutOk);
    const int parallel = parser.value("parallel").toInt(&parallelOk);
    if (args.size() < (many ? 1 : 2) || !portOk || port <= 0 || port > 65535 || !chunkOk ||
        chunk <= 0 || !timeoutOk || timeout <= 0 || !parallelOk || parallel <= 0) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return kUsage;
    }
    return many ? ToManyDisplays(parser, args, port, chunk, timeout, parallel)
                : ToOneDisplay(args, port, chunk, timeout);
}
