// What the transfer alone costs, with no window and no engine: the same files from the
// same loopback server onto the same disk, each put on the disk before it replaces its
// target, fetched
//   - by curl, then sync(1) of its files (the baseline),
//   - by the program's HTTP client (CurlInet, libcurl on its transfer thread),
//   - by a plain HTTP/1.1 reader that reads the socket straight into the file on a thread
//     of its own (an experiment: what the client would cost without Qt's HTTP thread).
// Each is run --runs times, in turn; the medians are compared with curl + sync.
//
//   transfer_bench [--files N] [--total-mib M] [--runs R]
#include "bench_support.h"
#include "content_site.h"
#include "platform/curl/curl_inet.h"
#include "platform/event_loop.h"
#include "platform/qt/drive_file_system.h"
#include "platform/real_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <future>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A keep-alive HTTP/1.1 connection read with plain system calls: GET, the head up to its
// blank line, then exactly Content-Length bytes of body, written as they come.
class PlainReader {
  public:
    explicit PlainReader(quint16 port) : port_(port) { Connect(); }
    ~PlainReader() { Disconnect(); }
    // The body's length, or -1 when the answer was not a 200 with a length. A connection
    // the server closed between requests (it keeps one for so many) is made anew.
    qint64 Get(const QString& path, platform::FileWriter& writer) {
        const qint64 length = GetOnce(path, writer);
        if (length == kClosed) {
            Disconnect();
            Connect();
            return GetOnce(path, writer);
        }
        return length;
    }

  private:
    static constexpr qint64 kClosed = -2;  // closed before the answer began

    void Connect() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            Disconnect();
        }
    }
    void Disconnect() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }
    qint64 GetOnce(const QString& path, platform::FileWriter& writer) {
        const QByteArray request = "GET " + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (fd_ < 0 || ::send(fd_, request.constData(), request.size(), MSG_NOSIGNAL) < 0) {
            return -1;
        }
        QByteArray head;
        qsizetype end = -1;
        while ((end = head.indexOf("\r\n\r\n")) < 0) {
            const ssize_t got = ::recv(fd_, buffer_.data(), 4096, 0);
            if (got <= 0) {
                return head.isEmpty() ? kClosed : -1;
            }
            head.append(buffer_.constData(), got);
        }
        QByteArray body = head.mid(end + 4);
        head.truncate(end);
        const qsizetype at = head.toLower().indexOf("\r\ncontent-length:");
        if (!head.startsWith("HTTP/1.1 200") || at < 0) {
            return -1;
        }
        const qint64 length =
            head.mid(at + 17, head.indexOf('\r', at + 2) - at - 17).trimmed().toLongLong();
        qint64 left = length - body.size();
        if (!writer.Write(body)) {
            return -1;
        }
        while (left > 0) {
            const ssize_t got =
                ::recv(fd_, buffer_.data(),
                       static_cast<size_t>(std::min<qint64>(left, buffer_.size())), 0);
            if (got <= 0 || !writer.Write(buffer_.constData(), got)) {
                return -1;
            }
            left -= got;
        }
        return length;
    }

    quint16 port_;
    int fd_ = -1;
    QByteArray buffer_{256 * 1024, Qt::Uninitialized};
};

// Fetches every path onto the drive through `fetch` (which writes one body and says
// whether it came whole), committing each file; until the disk has them all.
template <typename Fetch>
bench::Usage RunFetches(platform::FileSystem& files, const QStringList& paths, Fetch fetch) {
    const double wall = bench::Now(), cpu = bench::CpuSeconds(RUSAGE_SELF);
    int i = 0;
    for (const QString& path : paths) {
        auto file = files.CreateDurable(QStringLiteral("c:\\fileftp\\f%1").arg(i++));
        if (!file || !fetch(path, **file)) {
            std::fprintf(stderr, "fetch of %s failed\n", qPrintable(path));
            continue;
        }
        platform::DurableFile* committing = file->release();
        committing->Commit([committing](const platform::Result<>&) { delete committing; });
    }
    bool landed = false;
    files.AfterCommits([&landed] { landed = true; });
    platform::WaitUntil([&] { return landed; }, nullptr, -1);
    return {bench::Now() - wall, bench::CpuSeconds(RUSAGE_SELF) - cpu};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    platform::PrepareAllocator();
    const QStringList args = app.arguments();
    const int files = static_cast<int>(bench::IntArg(args, "--files", 200));
    const qint64 total = bench::IntArg(args, "--total-mib", 256) << 20;
    const int runs = static_cast<int>(bench::IntArg(args, "--runs", 5));
    bench::Site site;
    const QStringList paths = bench::MakeSite(site, bench::MixedSizes(files, total));
    if (!site.Start()) {
        std::fprintf(stderr, "content site did not start\n");
        return 1;
    }
    QTemporaryDir drive;
    QDir().mkpath(drive.path() + "/drive_c/fileftp");
    platform::DriveFileSystem fs(drive.path() + "/drive_c");
    platform::CurlInet inet;
    const QString base = "http://127.0.0.1:" + QString::number(site.port);
    const auto viaQt = [&](const QString& path, platform::FileWriter& writer) {
        std::optional<platform::Result<int>> ended;
        inet.StateChanged = [&](const platform::Result<int>& state) {
            if (!state || *state == platform::kInetResponseReceived) {
                ended = state;
            }
        };
        inet.SetBodyWriter(&writer);
        inet.Execute(base + path, "GET");
        platform::WaitUntil([&] { return ended.has_value(); }, nullptr, 60000);
        inet.SetBodyWriter(nullptr);
        return ended && *ended && inet.ResponseCode() == 200;
    };
    PlainReader reader(site.port);
    const auto viaPlain = [&](const QString& path, platform::FileWriter& writer) {
        // On a thread of its own, as the client's transfer runs; the window's thread waits.
        auto fetched = std::async(std::launch::async, [&] {
            const qint64 length = reader.Get(path, writer);
            // The end reaches the waiting thread through its queue, as a transfer reports.
            QMetaObject::invokeMethod(
                qApp, [] { platform::WakeWaiters(); }, Qt::QueuedConnection);
            return length;
        });
        platform::WaitUntil(
            [&] { return fetched.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            nullptr, 60000);
        return fetched.get() >= 0;
    };
    QList<double> wall[3], cpu[3];
    for (int run = 0; run < runs; ++run) {
        ::sync();
        const bench::Usage c = bench::RunCurl(site.port, paths, true);
        ::sync();
        const bench::Usage q = RunFetches(fs, paths, viaQt);
        ::sync();
        const bench::Usage r = RunFetches(fs, paths, viaPlain);
        for (const auto& [i, u] : {std::pair{0, c}, std::pair{1, q}, std::pair{2, r}}) {
            wall[i] << u.wall;
            cpu[i] << u.cpu;
        }
        std::printf(
            "run %d: curl+sync %.2f s %.2f cpu-s, CurlInet %.2f s %.2f cpu-s, plain reader "
            "%.2f s %.2f cpu-s\n",
            run + 1, c.wall, c.cpu, q.wall, q.cpu, r.wall, r.cpu);
    }
    const double mib = total / 1048576.0;
    const char* names[] = {"curl + sync", "CurlInet", "plain reader"};
    std::printf("transfer: %d files, %.0f MiB, loopback, medians of %d runs\n", files, mib, runs);
    for (int i = 0; i < 3; ++i) {
        const double w = bench::Median(wall[i]), c = bench::Median(cpu[i]);
        std::printf(
            "  %-13s wall %5.2f s  cpu %5.2f s  %.4f cpu-s/MiB  throughput %.2fx  cpu per "
            "MiB %.2fx of curl + sync\n",
            names[i], w, c, c / mib, bench::Median(wall[0]) / w, c / bench::Median(cpu[0]));
    }
    return 0;
}
