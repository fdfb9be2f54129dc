#include "module1/module1.h"

#include "platform/log.h"

namespace Module1 {

bool IsDialUp(const platform::ActiveConnection& connection) {
    static const QStringList kinds = {QStringLiteral("gsm"), QStringLiteral("cdma"),
                                      QStringLiteral("pppoe"), QStringLiteral("adsl")};
    if (kinds.contains(connection.type)) {
        return true;
    }
    return connection.type == QLatin1String("bluetooth") &&
           connection.bluetoothKind == QLatin1String("dun");
}

void HangUpDialUp(platform::DialUp& dialUp) {
    static bool reportedUnavailable = false;
    platform::DialUp* system = &dialUp;
    dialUp.ActiveConnections([system](const auto& connections) {
        if (!connections) {
            if (!reportedUnavailable) {
                qCInfo(lcPower).noquote()
                    << "no dial-up connections can be listed:" << connections.reason();
                reportedUnavailable = true;
            }
            return;
        }
        reportedUnavailable = false;
        for (const auto& connection : *connections) {
            if (!IsDialUp(connection)) {
                continue;
            }
            qCInfo(lcPower).noquote()
                << "hanging up" << connection.id << "(" << connection.type << ")";
            const QString id = connection.id;
            system->Deactivate(connection, [id](const platform::Result<>& done) {
                if (!done) {
                    qCWarning(lcPower).noquote() << "cannot hang up" << id << ":" << done.reason();
                }
            });
        }
    });
}

}  // namespace Module1
