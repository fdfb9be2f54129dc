#pragma once

#include "platform/push_protocol.h"
#include "platform/settings_store.h"
#include "platform/status_protocol.h"

#include <QString>
#include <QStringList>

#include <climits>
#include <functional>
#include <optional>
#include <span>
#include <variant>

namespace platform {

// The [system] section of the settings file: what a station may tune on one display. The
// program reads it once at start and never writes it. Each member holds its key's default.
struct SystemSettings {
    int pushPort = push_protocol::kPort;  // push_port
    int memoryCeilingMb = 2048;           // memory_ceiling_mb
    int fetchDeadlineS = 1800;  // fetch_deadline_s: a slow line must still get a film through
    qint64 fetchMaxBytes = qint64(4) << 30;  // fetch_max_bytes: a body without a length
    qint64 pushMaxBytes = qint64(4) << 30;   // push_max_bytes
    int insertStallS = 60;                   // insert_stall_s
    int minFreeMb = 256;                     // min_free_mb: what the drive's writes leave free
    int asrunDays = 400;                     // asrun_days
    QString flashRenderer = QStringLiteral("auto");  // flash_renderer
    QString screen;                                  // screen; empty: the primary screen
    int statusPort = status_protocol::kPort;         // status_port; 0: no status server
    QString pushAllow;                               // push_allow; empty: anyone
    std::optional<QString> statusAllow;              // status_allow; absent: push_allow's
};

// One key of the section: what it takes and where it goes. A value that it does not take
// keeps the default, with a warning: "[system] NAME is not TAKES; kept at DEFAULT".
struct SystemKey {
    const char* name;
    const char* takes;
    std::variant<int SystemSettings::*, qint64 SystemSettings::*, QString SystemSettings::*,
                 std::optional<QString> SystemSettings::*>
        field;
    qint64 least = 1;       // a number: the smallest it takes
    qint64 most = INT_MAX;  // and the largest
    QStringList choices{};  // a text: the values it takes; empty: any (trimmed)
};

std::span<const SystemKey> SystemKeys();

// The section as `value` gives it (nullopt: the key is absent), key by key through
// SystemKeys(); each value that was not taken adds its warning to `warnings`.
SystemSettings ReadSystemSettings(
    const std::function<std::optional<QString>(const QString& key)>& value, QStringList* warnings);
// The section of `app` in `store`; a value the store cannot read keeps the default, with
// a warning "[system] NAME: REASON".
SystemSettings ReadSystemSettings(SettingsStore& store, const QString& app, QStringList* warnings);

}  // namespace platform
