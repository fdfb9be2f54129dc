#pragma once

#include <QString>
#include <QtGlobal>

// What the display's read-only status server and the tools that ask it share.
namespace status_protocol {

constexpr quint16 kPort = 8101;  // a display's port unless its [system] status_port says another

// The keys of the /status answer that the fleet tool reads too.
namespace key {
inline const QString kVersion = QStringLiteral("version");
inline const QString kUptime = QStringLiteral("uptime_s");
inline const QString kState = QStringLiteral("state");
inline const QString kReasons = QStringLiteral("reasons");
inline const QString kOnAir = QStringLiteral("on_air");  // by kind: main, insert, photo, ...
inline const QString kName = QStringLiteral("name");     // of what is on air
inline const QString kLastCycle = QStringLiteral("last_cycle");
inline const QString kEnd = QStringLiteral("end");  // of the last cycle
inline const QString kResult = QStringLiteral("result");
inline const QString kListingSha256 = QStringLiteral("listing_sha256");
inline const QString kContent = QStringLiteral("content");
inline const QString kFreeBytes = QStringLiteral("free_bytes");
inline const QString kMemory = QStringLiteral("memory");
inline const QString kPssMib = QStringLiteral("pss_mib");
}  // namespace key

}  // namespace status_protocol
