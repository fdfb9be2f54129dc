// The service manager's side of the watchdog: a datagram socket like systemd's.
#include "platform/systemd/service_watchdog.h"
#include "support/test_rig.h"

#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace {

struct NotifySocket {
    NotifySocket() {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(temp.path() + "/notify");
        std::memcpy(address.sun_path, path.constData(), path.size());
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        qputenv("NOTIFY_SOCKET", path);
        qputenv("WATCHDOG_USEC", "200000");
        qputenv("WATCHDOG_PID", QByteArray::number(::getpid()));
    }
    ~NotifySocket() {
        qunsetenv("NOTIFY_SOCKET");
        qunsetenv("WATCHDOG_USEC");
        qunsetenv("WATCHDOG_PID");
        ::close(fd);
    }
    // The messages that arrived since the last call.
    QStringList Take() {
        QStringList messages;
        char buffer[256];
        for (;;) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got < 0) {
                return messages;
            }
            messages << QString::fromUtf8(buffer, got);
        }
    }
    QTemporaryDir temp;
    int fd = -1;
    bool bound = false;
};

}  // namespace

TEST(ServiceWatchdog, HeartbeatWhileTheLoopRunsAndNoneWhileItHangs) {
    NotifySocket manager;
    ASSERT_TRUE(manager.bound);
    platform::ServiceWatchdog watchdog;
    EXPECT_EQ(watchdog.IntervalMs(), 100);
    watchdog.Ready();
    QStringList running;  // taken as they come, as the service manager does
    PumpUntil(
        [&] {
            running += manager.Take();
            return false;
        },
        1000);
    EXPECT_TRUE(running.contains("READY=1"));
    EXPECT_GE(running.count("WATCHDOG=1"), 6) << running.join(' ').toStdString();

    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the loop hangs
    EXPECT_EQ(manager.Take(), QStringList());

    QStringList again;
    PumpUntil(
        [&] {
            again += manager.Take();
            return false;
        },
        300);
    EXPECT_GE(again.count("WATCHDOG=1"), 1);
}

TEST(ServiceWatchdog, OutsideAServiceItIsSilent) {
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
    platform::ServiceWatchdog watchdog;
    EXPECT_EQ(watchdog.IntervalMs(), 0);
    watchdog.Ready();  // nowhere to send it: nothing happens
}
