#include "platform/real_platform.h"

#include "platform/curl/curl_inet.h"
#include "platform/dbus/dbus_power.h"
#include "platform/http/qt_status_server.h"
#include "platform/log.h"
#include "platform/qt/asrun_file_log.h"
#include "platform/qt/drive_file_system.h"
#include "platform/qt/proc_memory_gauge.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_wsk_server.h"
#include "platform/qt/screen_grabber.h"
#include "platform/qt/subnet_filter.h"
#include "platform/ruffle/ruffle_flash_player.h"
#include "platform/system_settings.h"
#include "platform/vlc/vlc_media_player.h"
#include "platform/vlc/vlc_media_probe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <malloc.h>
#include <unistd.h>

namespace platform {

Places DefaultPlaces() {
    return Places{QtSettingsStore::DefaultFolder(), DriveFileSystem::DefaultDriveFolder(),
                  QCoreApplication::applicationDirPath()};
}

void PrepareAllocator() {
    // From 1 MiB up the program's blocks (a decoded photo, say) are mapped on their own.
    // Below, they come from the heap and are reused: a fetch passes its body through
    // buffers of up to 256 KiB, which mapped on their own cost a page fault every 4 KiB
    // (with a 128 KiB threshold, twice the CPU per MiB of a fetch).
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    // Fixing that threshold also fixes the one above which a free gives the heap's top
    // back to the system, at 128 KiB: every fetch's buffer, freed when the fetch ends,
    // would then be given back and taken again, each time with a flush of every core's
    // address cache (a quarter of the transfer thread's time). Twice the mapping
    // threshold, as the allocator itself would choose.
    mallopt(M_TRIM_THRESHOLD, 2 * 1024 * 1024);
    // The engine's processes draw a frame into buffers of a screen's size (8 MiB at
    // 1920 x 1080) many times a second: mapped on their own, each would be mapped and
    // unmapped again per frame (50,000 page faults a second in the renderer). Up to
    // 32 MiB they come from the heap, which keeps reusing them.
    if (qEnvironmentVariableIsEmpty("MALLOC_MMAP_THRESHOLD_")) {
        qputenv("MALLOC_MMAP_THRESHOLD_", QByteArray::number(32 * 1024 * 1024));
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
    const QString app = QStringLiteral("dravonelle");
    p.endpoints = store->ReadEndpoints(app);
    QStringList warnings;
    const SystemSettings system = ReadSystemSettings(*store, app, &warnings);
    for (const QString& warning : warnings) {
        qCWarning(lcApp).noquote() << warning;
    }
    p.pushPort = static_cast<quint16>(system.pushPort);
    p.memoryCeilingMb = system.memoryCeilingMb;
    InetLimits inetLimits;
    inetLimits.deadlineSeconds = system.fetchDeadlineS;
    inetLimits.maxUnannouncedBytes = system.fetchMaxBytes;
    p.pushMaxBytes = system.pushMaxBytes;
    p.insertStallMs = system.insertStallS * 1000;
    DiskReserve reserve;
    reserve.keepFreeBytes = qint64(system.minFreeMb) << 20;
    RuffleFlashPlayer::Options flash;
    flash.renderer = system.flashRenderer;
    p.screenName = system.screen;
    p.statusPort = static_cast<quint16>(system.statusPort);
    // Who may ask: its own list, else the push list, else loopback only.
    // An entry that is not an address or range is left out, said once for its key.
    const auto filter = [](const char* key, const QString& list, bool report) {
        QStringList malformed;
        auto made = SubnetFilter::FromSetting(list, &malformed);
        for (const QString& entry : report ? malformed : QStringList()) {
            qCWarning(lcApp).noquote()
                << QStringLiteral("[system] %1: not an address or range, left out: %2")
                       .arg(QLatin1String(key), entry);
        }
        return made;
    };
    p.statusServer = std::make_unique<QtStatusServer>(
        system.statusAllow ? filter("status_allow", *system.statusAllow, true)
                           : filter("push_allow", system.pushAllow, false),
        QtStatusServer::Limits{});
    p.grabber = std::make_unique<QtPictureGrabber>();
    p.version = QStringLiteral(DRAVONELLE_VERSION);
    p.pushAllow = filter("push_allow", system.pushAllow, true);
    qCInfo(lcApp).noquote() << "settings:" << store->FilePath(app);
    qCInfo(lcApp).noquote() << "drive c:" << places.driveFolder;
    p.settings = std::move(store);
    p.minFreeBytes = reserve.keepFreeBytes;
    p.files = std::make_unique<DriveFileSystem>(places.driveFolder, reserve);
    platform::FileSystem* files = p.files.get();
    flash.engineFolder = places.programFolder + QStringLiteral("/ruffle");
    flash.programFolder = places.programFolder;
    flash.rememberedVariables = movie::kVariables;
    flash.hostPath = [files](const QString& path) { return files->HostPath(path); };
    // The last good main movie plays from where it is kept.
    flash.contentFolders << kLastGoodFolder;
    p.flash1 = std::make_unique<RuffleFlashPlayer>(flash);
    p.flash2 = std::make_unique<RuffleFlashPlayer>(flash);
    VlcMediaPlayer::Options media;
    media.hostPath = [files](const QString& path) { return files->HostPath(path); };
    p.media = std::make_unique<VlcMediaPlayer>(media);
    p.mediaProbe = std::make_unique<VlcMediaProbe>();
    p.inet = std::make_unique<CurlInet>(inetLimits);
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
    asrun.keepDays = system.asrunDays;
    asrun.reserveBytes = reserve.keepFreeBytes;
    asrun.hostPath = [files](const QString& path) { return files->HostPath(path); };
    qCInfo(lcApp).noquote() << "as-run log:" << asrun.folder;
    p.asrun = std::make_unique<AsRunFileLog>(asrun);
    return p;
}

}  // namespace platform
