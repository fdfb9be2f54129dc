// The program: one full-screen window that plays the channel's picture.
#include "platform/log.h"
#include "platform/program_info.h"
#include "platform/push_protocol.h"
#include "platform/real_platform.h"
#include "platform/status_protocol.h"
#include "platform/systemd/service_watchdog.h"
#include "window/form1.h"
#include "window/screen_keeper.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

namespace {

// The usage, with the default ports filled in.
QByteArray Help() {
    return QString::fromUtf8(
               "Usage: dravonelle [--help] [--version]\n"
               "Plays a local cable-TV information channel full screen, all day and\n"
               "unattended: the channel's main Flash movie with the inserted movies, films,\n"
               "photos and background radio it asks for. It mirrors the channel's content web\n"
               "site, takes files pushed to its push port (%1), powers the computer off at\n"
               "the set time and answers on its status port (%2): /status, /metrics,\n"
               "/screenshot.jpg and a page for a browser.\n"
               "\n"
               "Options:\n"
               "  --help      shows this text\n"
               "  --version   shows the version\n"
               "\n"
               "Environment:\n"
               "DRAVONELLE_WINDOWED=1 shows the picture in an ordinary window instead of full\n"
               "screen. XDG_CONFIG_HOME and XDG_DATA_HOME move the settings and the data folder.\n"
               "\n"
               "Files:\n"
               "~/.config/dravonelle/dravonelle.conf holds the settings; "
               "~/.local/share/dravonelle/\n"
               "the data: drive_c/ (the content, c:\\fileftp) and asrun/ (the as-run log).\n"
               "\n"
               "Examples:\n"
               "Run as a systemd unit, every line reaches the journal with its priority:\n"
               "  journalctl --user -u dravonelle -p warning   shows the warnings and worse only\n")
        .arg(push_protocol::kPort)
        .arg(status_protocol::kPort)
        .toUtf8();
}

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM (the system's shutdown, systemd stopping the unit) and SIGINT close the window
// through its normal close sequence.
void CloseOnSignals(Form1& form) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        qCWarning(lcApp) << "signals will end the program without its close sequence";
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        qCInfo(lcApp) << "close requested by signal";
        form.close();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered =
            platform::AnswerHelpOrVersion(argc, argv, "dravonelle", Help().constData())) {
        return *answered;
    }
    platform::WriteLogForTheJournal();
    platform::PrepareAllocator();
    platform::PrepareWebEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("dravonelle"));
    qCInfo(lcApp) << "dravonelle starts";

    Form1 form(platform::MakeRealPlatform(platform::DefaultPlaces()));
    if (const auto loaded = form.Form_Load(); !loaded) {
        std::fprintf(stderr, "dravonelle: %s\n", qPrintable(loaded.reason()));
        return 1;
    }
    CloseOnSignals(form);
    platform::ServiceWatchdog watchdog;
    if (qEnvironmentVariableIsSet("DRAVONELLE_WINDOWED")) {
        form.show();
    } else {
        form.setWindowFlag(Qt::FramelessWindowHint);
        (new ScreenKeeper(&form, form.Platform().screenName))->Show();
    }
    watchdog.Ready();
    QTimer::singleShot(0, &form, [&form] { form.Form_Activate(); });
    const int status = QApplication::exec();
    qCInfo(lcApp) << "dravonelle stops, status" << status;
    return status;
}
