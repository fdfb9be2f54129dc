#include "platform/system_settings.h"

#include <climits>

namespace platform {

namespace {

const SystemSettings kDefaults;

const SystemKey kKeys[] = {
    {"push_port", "a port from 1 to 65535", &SystemSettings::pushPort, 1, 65535},
    {"memory_ceiling_mb", "a positive number", &SystemSettings::memoryCeilingMb},
    {"fetch_deadline_s", "a positive number", &SystemSettings::fetchDeadlineS},
    {"fetch_max_bytes", "a positive number", &SystemSettings::fetchMaxBytes, 1, LLONG_MAX},
    {"push_max_bytes", "a positive number", &SystemSettings::pushMaxBytes, 1, LLONG_MAX},
    {"insert_stall_s", "a positive number", &SystemSettings::insertStallS, 1, INT_MAX / 1000},
    {"min_free_mb", "a positive number", &SystemSettings::minFreeMb},
    {"asrun_days", "a positive number up to 100000", &SystemSettings::asrunDays, 1, 100000},
    {"flash_renderer",
     "auto, webgl or canvas",
     &SystemSettings::flashRenderer,
     0,
     0,
     {"auto", "webgl", "canvas"}},
    {"screen", "", &SystemSettings::screen},
    {"status_port", "a port (0 turns it off)", &SystemSettings::statusPort, 0, 65535},
    {"push_allow", "", &SystemSettings::pushAllow},
    {"status_allow", "", &SystemSettings::statusAllow},
};

template <typename... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

// The default of `key` as the warning shows it.
QString DefaultText(const SystemKey& key) {
    return std::visit(
        Overloaded{[](QString SystemSettings::*f) { return kDefaults.*f; },
                   [](std::optional<QString> SystemSettings::*f) {
                       return (kDefaults.*f).value_or(QString());
                   },
                   [](auto SystemSettings::*f) { return QString::number(kDefaults.*f); }},
        key.field);
}

// Puts `text` in the settings' field of `key`; false when the key does not take it.
bool Take(const SystemKey& key, const QString& text, SystemSettings& settings) {
    const auto number = [&](auto& field) {
        bool ok = false;
        const qint64 value = text.trimmed().toLongLong(&ok);
        if (!ok || value < key.least || value > key.most) {
            return false;
        }
        field = static_cast<std::remove_reference_t<decltype(field)>>(value);
        return true;
    };
    const auto words = [&](auto& field) {
        const QString value = text.trimmed();
        if (!key.choices.isEmpty() && !key.choices.contains(value)) {
            return false;
        }
        field = value;
        return true;
    };
    return std::visit(Overloaded{[&](int SystemSettings::*f) { return number(settings.*f); },
                                 [&](qint64 SystemSettings::*f) { return number(settings.*f); },
                                 [&](auto SystemSettings::*f) { return words(settings.*f); }},
                      key.field);
}

}  // namespace

std::span<const SystemKey> SystemKeys() {
    return kKeys;
}

SystemSettings ReadSystemSettings(
    const std::function<std::optional<QString>(const QString& key)>& value, QStringList* warnings) {
    SystemSettings settings;
    for (const SystemKey& key : kKeys) {
        const std::optional<QString> text = value(QLatin1String(key.name));
        if (text && !Take(key, *text, settings)) {
            warnings->append(
                QStringLiteral("[system] %1 is not %2; kept at %3")
                    .arg(QLatin1String(key.name), QLatin1String(key.takes), DefaultText(key)));
        }
    }
    return settings;
}

SystemSettings ReadSystemSettings(SettingsStore& store, const QString& app, QStringList* warnings) {
    return ReadSystemSettings(
        [&](const QString& key) -> std::optional<QString> {
            const auto value = store.Get(app, QStringLiteral("system"), key);
            if (!value) {
                warnings->append(QStringLiteral("[system] %1: %2").arg(key, value.reason()));
                return std::nullopt;
            }
            return *value;
        },
        warnings);
}

}  // namespace platform
