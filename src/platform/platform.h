#pragma once

#include "platform/asrun_log.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/flash_player.h"
#include "platform/inet.h"
#include "platform/media_player.h"
#include "platform/media_probe.h"
#include "platform/memory_gauge.h"
#include "platform/picture_grabber.h"
#include "platform/settings_store.h"
#include "platform/sockets.h"
#include "platform/status_server.h"
#include "platform/system_power.h"
#include "platform/system_settings.h"

#include <memory>

namespace platform {

// Where the program keeps the last main movie that played well: on the drive, outside the
// content folder that the site mirrors and pushes write.
inline const QString kLastGoodFolder = QStringLiteral("c:\\dravonelle\\lastgood");

// Every platform component that the window uses. The program builds the real set at
// start-up; tests build one with fakes where a real part cannot run.
struct Platform {
    std::unique_ptr<SettingsStore> settings;
    Endpoints endpoints = Endpoints::Defaults();
    std::unique_ptr<FileSystem> files;
    std::unique_ptr<ShockwaveFlash> flash1;
    std::unique_ptr<ShockwaveFlash> flash2;
    std::unique_ptr<WindowsMediaPlayer> media;
    std::unique_ptr<Inet> inet;
    std::unique_ptr<WskServer> sockets;
    std::unique_ptr<PictureLoader> pictures;
    std::unique_ptr<FileDialog> fileDialog;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<Pointer> pointer;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<ClockSync> clockSync;  // none: not known
    std::unique_ptr<Random> random;
    std::unique_ptr<PowerOff> powerOff;
    std::unique_ptr<DialUp> dialUp;
    std::unique_ptr<MemoryGauge> memory;  // none: no ceiling is watched
    // Finds the streams of a film or sound file before it replaces one; none: not looked for.
    std::unique_ptr<MediaProbe> mediaProbe;
    // Whether a new content file is checked to be what its name says before it replaces
    // the old one (the program always; tests of other matters may leave it out).
    bool checkContent = true;

    // The defaults of the [system] settings, which the program's start replaces.
    quint16 pushPort = push_protocol::kPort;   // the push server's port
    QString programFolder;                     // host path of the program's own folder
    int pushIdleTimeoutMs = 10 * 60 * 1000;    // a push connection silent this long is closed
    std::unique_ptr<AddressFilter> pushAllow;  // who may push; none: anyone
    qint64 pushMaxBytes = SystemSettings{}.pushMaxBytes;  // a push past this is dropped
    // Past this many MiB the program ends at a quiet moment, to be started afresh.
    int memoryCeilingMb = SystemSettings{}.memoryCeilingMb;
    QString screenName;       // the output the window covers; empty: the primary screen
    qint64 minFreeBytes = 0;  // what the drive's writes leave free
    // An inserted movie whose frame stands still this long ends as if at its last frame.
    int insertStallMs = SystemSettings{}.insertStallS * 1000;
    // The read-only status server and what it shows; none: no status server.
    std::unique_ptr<StatusServer> statusServer;
    quint16 statusPort = static_cast<quint16>(SystemSettings{}.statusPort);
    std::unique_ptr<PictureGrabber> grabber;
    QString version;
    std::unique_ptr<AsRunLog> asrun;  // none: nothing recorded
};

}  // namespace platform
