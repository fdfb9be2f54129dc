#include "platform/real_platform.h"

#include "platform/dbus/dbus_power.h"
#include "platform/http/qt_status_server.h"
#include "platform/http/screen_grabber.h"
#include "platform/log.h"
#include "platform/qt/asrun_file_log.h"
#include "platform/qt/drive_file_system.h"
#include "platform/qt/proc_memory_gauge.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/qt_inet.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_wsk_server.h"
#include "platform/ruffle/ruffle_flash_player.h"
#include "platform/vlc/vlc_media_player.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <malloc.h>
#include <unistd.h>
#include <climits>

namespace platform {

Places DefaultPlaces() {
    return Places{QtSettingsStore::DefaultFolder(), DriveFileSystem::DefaultDriveFolder(),
                  QCoreApplication::applicationDirPath()};
}

void PrepareAllocator() {
    constexpr int kMapThreshold = 128 * 1024;
    mallopt(M_MMAP_THRESHOLD, kMapThreshold);
    if (qEnvironmentVariableIsEmpty("MALLOC_MMAP_THRESHOLD_")) {
        qputenv("MALLOC_MMAP_THRESHOLD_", QByteArray::number(kMapThreshold));
    }
}

void PrepareWebEngine() {
    const bool card = !QDir(QStringLiteral("/dev/dri"))
                           .entryList({QStringLiteral("renderD*")}, QDir::System | QDir::Files)
                           .isEmpty();
    // Without a graphics card the window and its web views are drawn without OpenGL, by
    // Qt Quick's software renderer: GL drawn in software (llvmpipe) took a core of its own
    // at 1920 x 1080 and some 120 MiB more. QT_QUICK_BACKEND=rhi asks for OpenGL anyway.
    if (!card && qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        qputenv("QT_QUICK_BACKEND", "software");
        if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION")) {
            qputenv("QT_XCB_GL_INTEGRATION", "none");
        }
    } else {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) {
        // The engine's GPU process is started only on a machine with a graphics card (a
        // render node): elsewhere it would draw GL in software, slower than without it.
        // The movies' sound is sent out from the program's process (one process less).
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                QByteArray(card ? "" : "--disable-gpu ") +
                    "--no-first-run --disable-background-networking "
                    "--disable-component-update --disable-sync "
                    "--disable-features=Translate,AudioServiceOutOfProcess");
    }
    // Movies reach the network as Flash let them, without the web's cross-origin rules
    // (their page is a local file, which no server names in its answers). What they reach
    // on this machine is held by the players' request guard instead.
    // Both players' pages (one profile, one origin) share one renderer process.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const QByteArray flag : {"--disable-web-security", "--process-per-site"}) {
        if (!flags.contains(flag)) {
            flags += ' ' + flag;
        }
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
}

Platform MakeRealPlatform(const Places& places) {
    Platform p;
    auto store = std::make_unique<QtSettingsStore>(places.configFolder);
    p.endpoints = store->ReadEndpoints(QStringLiteral("dravonelle"));
    QtInet::Limits inetLimits;
    DiskReserve reserve;
    reserve.keepFreeBytes = qint64(256) << 20;
    RuffleFlashPlayer::Options flash;
    int asrunDays = 400;
    {
        QSettings settings(store->FilePath(QStringLiteral("dravonelle")), QSettings::IniFormat);
        bool ok = false;
        const int port = settings.value(QStringLiteral("system/push_port"), 1001).toInt(&ok);
        p.pushPort = ok && port > 0 && port < 65536 ? static_cast<quint16>(port) : 1001;
        // A [system] number that must be positive; anything else keeps the default.
        const auto positive = [&settings](const char* key, qint64 fallback) {
            bool valid = false;
            const qint64 value =
                settings.value(QStringLiteral("system/") + QLatin1String(key), fallback)
                    .toLongLong(&valid);
            if (valid && value > 0) {
                return value;
            }
            qCWarning(lcApp).noquote()
                << "[system]" << key << "is not a positive number; kept at" << fallback;
            return fallback;
        };
        p.memoryCeilingMb = static_cast<int>(
            std::min<qint64>(positive("memory_ceiling_mb", p.memoryCeilingMb), INT_MAX));
        inetLimits.deadlineSeconds = static_cast<int>(
            std::min<qint64>(positive("fetch_deadline_s", inetLimits.deadlineSeconds), INT_MAX));
        inetLimits.maxUnannouncedBytes =
            positive("fetch_max_bytes", inetLimits.maxUnannouncedBytes);
        p.pushMaxBytes = positive("push_max_bytes", p.pushMaxBytes);
        p.insertStallMs = static_cast<int>(
            std::min<qint64>(positive("insert_stall_s", p.insertStallMs / 1000), INT_MAX / 1000) *
            1000);
        reserve.keepFreeBytes = positive("min_free_mb", reserve.keepFreeBytes >> 20) << 20;
        asrunDays = static_cast<int>(std::min<qint64>(positive("asrun_days", asrunDays), 100000));
        const QString renderer =
            settings.value(QStringLiteral("system/flash_renderer"), flash.renderer).toString();
        if (QStringList{"auto", "webgl", "canvas"}.contains(renderer)) {
            flash.renderer = renderer;
        } else {
            qCWarning(lcApp).noquote() << "[system] flash_renderer is not auto, webgl or canvas;"
                                       << "kept at" << flash.renderer;
        }
        p.screenName = settings.value(QStringLiteral("system/screen")).toString().trimmed();
        const int statusPort =
            settings.value(QStringLiteral("system/status_port"), p.statusPort).toInt(&ok);
        if (ok && statusPort >= 0 && statusPort < 65536) {
            p.statusPort = static_cast<quint16>(statusPort);
        } else {
            qCWarning(lcApp).noquote() << "[system] status_port is not a port (0 turns it off);"
                                       << "kept at" << p.statusPort;
        }
        // Who may ask: its own list, else the push list, else loopback only.
        QStringList malformedStatus;
        const QVariant statusAllow = settings.value(QStringLiteral("system/status_allow"));
        auto statusFilter = SubnetFilter::FromSetting(
            statusAllow.isValid() ? statusAllow
                                  : settings.value(QStringLiteral("system/push_allow")),
            &malformedStatus);
        for (const QString& entry : malformedStatus) {
            qCWarning(lcApp).noquote()
                << "[system] status_allow: not an address or range, left out:" << entry;
        }
        p.statusServer =
            std::make_unique<QtStatusServer>(std::move(statusFilter), QtStatusServer::Limits{});
        p.grabber = std::make_unique<QtPictureGrabber>();
        p.version = QStringLiteral(DRAVONELLE_VERSION);
        QStringList malformed;
        p.pushAllow = SubnetFilter::FromSetting(settings.value(QStringLiteral("system/push_allow")),
                                                &malformed);
        for (const QString& entry : malformed) {
            qCWarning(lcApp).noquote()
                << "[system] push_allow: not an address or range, left out:" << entry;
        }
    }
    qCInfo(lcApp).noquote() << "settings:" << store->FilePath(QStringLiteral("dravonelle"));
    qCInfo(lcApp).noquote() << "drive c:" << places.driveFolder;
    p.settings = std::move(store);
    p.minFreeBytes = reserve.keepFreeBytes;
    p.files = std::make_unique<DriveFileSystem>(places.driveFolder, reserve);
    platform::FileSystem* files = p.files.get();
    flash.engineFolder = places.programFolder + QStringLiteral("/ruffle");
    flash.programFolder = places.programFolder;
    flash.rememberedVariables = movie::kVariables;
    flash.hostPath = [files](const QString& path) { return files->HostPath(path); };
    p.flash1 = std::make_unique<RuffleFlashPlayer>(flash);
    p.flash2 = std::make_unique<RuffleFlashPlayer>(flash);
    VlcMediaPlayer::Options media;
    media.hostPath = [files](const QString& path) { return files->HostPath(path); };
    p.media = std::make_unique<VlcMediaPlayer>(media);
    p.inet = std::make_unique<QtInet>(inetLimits);
    p.sockets = std::make_unique<QtWskServer>();
    p.pictures = std::make_unique<QtPictureLoader>();
    p.fileDialog = std::make_unique<QtFileDialog>();
    p.shell = std::make_unique<QtShell>();
    p.pointer = std::make_unique<QtPointer>();
    p.clock = std::make_unique<QtClock>();
    p.random = std::make_unique<LcgRandom>();
    p.powerOff = std::make_unique<LogindPowerOff>(QDBusConnection::systemBus());
    p.clockSync = std::make_unique<TimedateClockSync>(QDBusConnection::systemBus());
    p.dialUp = std::make_unique<NetworkManagerDialUp>(QDBusConnection::systemBus());
    p.memory = std::make_unique<ProcMemoryGauge>();
    p.programFolder = places.programFolder;
    // Beside the drive, outside the content: what went on air.
    AsRunFileLog::Options asrun;
    asrun.folder = QFileInfo(places.driveFolder).absolutePath() + QStringLiteral("/asrun");
    asrun.keepDays = asrunDays;
    asrun.reserveBytes = reserve.keepFreeBytes;
    asrun.hostPath = [files](const QString& path) { return files->HostPath(path); };
    qCInfo(lcApp).noquote() << "as-run log:" << asrun.folder;
    p.asrun = std::make_unique<AsRunFileLog>(asrun);
    return p;
}

}  // namespace platform
