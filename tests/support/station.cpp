#include "support/station.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTcpServer>
#include <QThread>

namespace {

constexpr int kWaitMs = 20000;

}  // namespace

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

Station::Station() {
    settings["system/push_port"] = QString::number(FreePort());
    settings["system/status_port"] = QString::number(FreePort());
}

Station::~Station() {
    Stop();
}

void Station::NoSite() {
    settings["main/lokatie"] = "http://127.0.0.1:9/test";
    settings["endpoints/site_host"] = "127.0.0.1:9";
    settings["endpoints/weather_url"] = "http://127.0.0.1:9/weer.jpg";
    settings["endpoints/radio_url"] = "http://127.0.0.1:9/radio.asx";
}

void Station::WriteDriveFile(const QString& relative, const QByteArray& bytes) const {
    const QString path = DriveFolder() + '/' + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
    }
}

void Station::Start(const QMap<QString, QString>& environment, const QString& program,
                    const QStringList& arguments) {
    {
        QSettings config(temp_.path() + "/config/dravonelle/dravonelle.conf", QSettings::IniFormat);
        for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
            config.setValue(it.key(), it.value());
        }
    }
    QProcessEnvironment env;
    const QProcessEnvironment outer = QProcessEnvironment::systemEnvironment();
    for (const char* kept : {"PATH", "HOME", "USER", "LANG", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (outer.contains(kept)) {
            env.insert(kept, outer.value(kept));
        }
    }
    // The web engine trips one check of AddressSanitizer on its own and leaves Chromium's
    // blocks at exit (see the Flash tests); the test program itself keeps both checks.
    env.insert("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1:new_delete_type_mismatch=0");
    env.insert("XDG_CONFIG_HOME", temp_.path() + "/config");
    env.insert("XDG_DATA_HOME", temp_.path() + "/data");
    env.insert("XDG_RUNTIME_DIR", temp_.path());
    // No session bus: without an address libdbus would start one itself, forking from a
    // program with many threads, and under AddressSanitizer that child can spin for ever
    // on a lock another thread held (it outlived a test run once, at a whole core).
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + temp_.path() + "/no-session-bus");
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        env.insert(it.key(), it.value());
    }
    log_.clear();
    process_ = std::make_unique<QProcess>();
    process_->setProcessEnvironment(env);
    process_->setWorkingDirectory(temp_.path());
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->start(program.isEmpty() ? QStringLiteral(DRAVONELLE_BINARY) : program, arguments);
    process_->waitForStarted(kWaitMs);
}

QString Station::State() const {
    if (!process_) {
        return QStringLiteral("not started");
    }
    if (Running()) {
        return QStringLiteral("running");
    }
    return process_->exitStatus() == QProcess::CrashExit
               ? QStringLiteral("ended by signal")
               : QStringLiteral("ended with status %1").arg(process_->exitCode());
}

QString Station::Log() {
    if (process_) {
        log_ += process_->readAllStandardError();
    }
    return QString::fromUtf8(log_);
}

void Station::Stop() {
    if (!Running()) {
        return;
    }
    process_->terminate();
    if (!process_->waitForFinished(kWaitMs)) {
        process_->kill();
        process_->waitForFinished(kWaitMs);
    }
    Log();
}

XServer::XServer(QSize size) : size_(size) {
    // -noreset: the server keeps its RandR modes when its last client goes.
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    server_.setStandardErrorFile(QProcess::nullDevice());
    server_.start("Xvfb", {"-displayfd", "1", "-screen", "0",
                           QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
                           "-nolisten", "tcp", "-noreset"});
    QByteArray number;
    while (!number.contains('\n') && server_.waitForReadyRead(kWaitMs)) {
        number += server_.readAllStandardOutput();
    }
    if (!number.trimmed().isEmpty()) {
        display_ = ':' + QString::fromLatin1(number.trimmed());
    }
}

XServer::~XServer() {
    for (QProcess* process : {&windowManager_, &server_}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }
}

QString XServer::Run(const QString& program, const QStringList& arguments, bool* ok) const {
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    run.setProcessEnvironment(env);
    run.start(program, arguments);
    const bool finished = run.waitForFinished(kWaitMs);
    if (ok != nullptr) {
        *ok = finished && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    }
    return QString::fromUtf8(run.readAllStandardOutput() + run.readAllStandardError());
}

bool XServer::StartWindowManager(const QString& name) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    windowManager_.setProcessEnvironment(env);
    windowManager_.setStandardOutputFile(QProcess::nullDevice());
    windowManager_.setStandardErrorFile(QProcess::nullDevice());
    QStringList arguments;
    if (name == "matchbox-window-manager") {
        arguments = {"-use_titlebar", "no"};
    }
    windowManager_.start(name, arguments);
    if (!windowManager_.waitForStarted(kWaitMs)) {
        return false;
    }
    // A window manager has taken the screen once it owns the selection WM_S0.
    for (int tries = 0; tries < 100; ++tries) {
        if (Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id")) {
            return true;
        }
        QThread::msleep(100);
    }
    return windowManager_.state() == QProcess::Running;
}

bool XServer::SetSize(QSize size) {
    const QString mode = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    bool ok = false;
    // A mode of that size for the server's only output, then the switch to it.
    Run("xrandr",
        {"--newmode", mode, "60", QString::number(size.width()), QString::number(size.width() + 8),
         QString::number(size.width() + 16), QString::number(size.width() + 24),
         QString::number(size.height()), QString::number(size.height() + 1),
         QString::number(size.height() + 2), QString::number(size.height() + 3)});
    Run("xrandr", {"--addmode", "screen", mode});
    Run("xrandr", {"--output", "screen", "--mode", mode}, &ok);
    if (ok) {
        size_ = size;
    }
    return ok;
}

QImage XServer::Grab() const {
    QProcess grab;
    grab.start("ffmpeg", {"-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0", "-video_size",
                          QStringLiteral("%1x%2").arg(size_.width()).arg(size_.height()), "-i",
                          display_, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    if (!grab.waitForFinished(kWaitMs)) {
        grab.kill();
        grab.waitForFinished();
        return {};
    }
    const QByteArray pixels = grab.readAllStandardOutput();
    if (pixels.size() != qsizetype(size_.width()) * size_.height() * 3) {
        return {};
    }
    QImage image(reinterpret_cast<const uchar*>(pixels.constData()), size_.width(), size_.height(),
                 size_.width() * 3, QImage::Format_RGB888);
    return image.copy();
}

QString XServer::WindowTree() const {
    return Run("xwininfo", {"-root", "-tree"});
}
