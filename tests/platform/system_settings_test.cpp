#include "platform/system_settings.h"
#include "platform/qt/qt_settings_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::SystemSettings;

// Each key with a value it takes, at its edge, and ones it does not: a refused value keeps
// the default and says so once.
TEST(SystemSettings, EachKeyTakesWhatItsRowSaysAndKeepsItsDefaultOtherwise) {
    const auto read = [](const QString& key, const QString& text, QStringList* warnings) {
        return platform::ReadSystemSettings(
            [&](const QString& asked) {
                return asked == key ? std::optional<QString>(text) : std::nullopt;
            },
            warnings);
    };
    const SystemSettings defaults;
    const struct {
        const char* key;
        const char* text;
        std::function<bool(const SystemSettings&)> holds;  // the value it was given, taken
        const char* warning;                               // or this, and the default kept
    } rows[] = {
        {"push_port", "2001", [](auto& s) { return s.pushPort == 2001; }, nullptr},
        {"push_port", "65535", [](auto& s) { return s.pushPort == 65535; }, nullptr},
        {"push_port", "0", nullptr,
         "[system] push_port is not a port from 1 to 65535; kept at 1001"},
        {"push_port", "65536", nullptr,
         "[system] push_port is not a port from 1 to 65535; kept at 1001"},
        {"memory_ceiling_mb", " 512 ", [](auto& s) { return s.memoryCeilingMb == 512; }, nullptr},
        {"memory_ceiling_mb", "-5", nullptr,
         "[system] memory_ceiling_mb is not a positive number; kept at 2048"},
        {"memory_ceiling_mb", "99999999999", nullptr,
         "[system] memory_ceiling_mb is not a positive number; kept at 2048"},
        {"fetch_deadline_s", "12", [](auto& s) { return s.fetchDeadlineS == 12; }, nullptr},
        {"fetch_deadline_s", "ten", nullptr,
         "[system] fetch_deadline_s is not a positive number; kept at 1800"},
        {"fetch_max_bytes", "8589934592",
         [](auto& s) { return s.fetchMaxBytes == qint64(8) << 30; }, nullptr},
        {"push_max_bytes", "1", [](auto& s) { return s.pushMaxBytes == 1; }, nullptr},
        {"push_max_bytes", "", nullptr,
         "[system] push_max_bytes is not a positive number; kept at 4294967296"},
        {"insert_stall_s", "2147483", [](auto& s) { return s.insertStallS == 2147483; }, nullptr},
        {"insert_stall_s", "2147484", nullptr,
         "[system] insert_stall_s is not a positive number; kept at 60"},
        {"min_free_mb", "1", [](auto& s) { return s.minFreeMb == 1; }, nullptr},
        {"min_free_mb", "0", nullptr, "[system] min_free_mb is not a positive number; kept at 256"},
        {"asrun_days", "100000", [](auto& s) { return s.asrunDays == 100000; }, nullptr},
        {"asrun_days", "100001", nullptr,
         "[system] asrun_days is not a positive number up to 100000; kept at 400"},
        {"flash_renderer", "canvas", [](auto& s) { return s.flashRenderer == "canvas"; }, nullptr},
        {"flash_renderer", "opengl", nullptr,
         "[system] flash_renderer is not auto, webgl or canvas; kept at auto"},
        {"screen", " HDMI-1 ", [](auto& s) { return s.screen == "HDMI-1"; }, nullptr},
        {"status_port", "0", [](auto& s) { return s.statusPort == 0; }, nullptr},
        {"status_port", "-1", nullptr,
         "[system] status_port is not a port (0 turns it off); kept at 8101"},
        {"push_allow", "10.0.0.0/8, ::1", [](auto& s) { return s.pushAllow == "10.0.0.0/8, ::1"; },
         nullptr},
        {"status_allow", "", [](auto& s) { return s.statusAllow == QString(); }, nullptr},
    };
    for (const auto& row : rows) {
        const std::string what = std::string(row.key) + "=" + row.text;
        QStringList warnings;
        const SystemSettings read1 = read(row.key, row.text, &warnings);
        if (row.warning) {
            EXPECT_EQ(warnings, QStringList{row.warning}) << what;
            EXPECT_EQ(read1.pushPort, defaults.pushPort) << what;
            EXPECT_EQ(read1.memoryCeilingMb, defaults.memoryCeilingMb) << what;
            EXPECT_EQ(read1.flashRenderer, defaults.flashRenderer) << what;
            EXPECT_EQ(read1.statusPort, defaults.statusPort) << what;
        } else {
            EXPECT_TRUE(warnings.isEmpty()) << what;
            EXPECT_TRUE(row.holds(read1)) << what;
        }
    }
    // Absent, status_allow stays absent (the push list then applies); nothing is said.
    QStringList warnings;
    EXPECT_FALSE(read("", "", &warnings).statusAllow.has_value());
    EXPECT_TRUE(warnings.isEmpty());
}

// The settings file as a station writes it by hand: a list without quotes is read as its
// text, and every key of the section is documented for the station.
TEST(SystemSettings, ReadThroughTheStoreAndEveryKeyDocumented) {
    QTemporaryDir temp;
    QDir().mkpath(temp.path() + "/dravonelle");
    QFile conf(temp.path() + "/dravonelle/dravonelle.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[system]\npush_allow=10.0.0.0/8, 192.168.1.20\nstatus_port=8102\n");
    conf.close();
    platform::QtSettingsStore store(temp.path());
    QStringList warnings;
    const SystemSettings read = platform::ReadSystemSettings(store, "dravonelle", &warnings);
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_EQ(read.pushAllow.toStdString(), "10.0.0.0/8, 192.168.1.20");
    EXPECT_EQ(read.statusPort, 8102);

    QFile readme(DRAVONELLE_SOURCE_DIR "/README.md");
    QFile map(DRAVONELLE_SOURCE_DIR "/docs/architecture.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly) && map.open(QIODevice::ReadOnly));
    const QString station = QString::fromUtf8(readme.readAll());
    const QString developer = QString::fromUtf8(map.readAll());
    for (const platform::SystemKey& key : platform::SystemKeys()) {
        const QString quoted = '`' + QLatin1String(key.name) + '`';
        EXPECT_TRUE(station.contains(quoted)) << key.name << " is not in the README";
        EXPECT_TRUE(developer.contains(quoted)) << key.name << " is not in docs/architecture.md";
    }
}
