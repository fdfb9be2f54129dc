#include "platform/dbus/dbus_power.h"

#include "platform/log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace platform {

namespace {

const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

void WhenDone(QObject* owner, const QDBusPendingCall& call,
              std::function<void(const QString& error)> done) {
    auto* watcher = new QDBusPendingCallWatcher(call, owner);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, owner, [watcher, done = std::move(done)] {
            const QDBusMessage reply = watcher->reply();
            QString error;
            if (reply.type() == QDBusMessage::ErrorMessage) {
                error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
            }
            watcher->deleteLater();
            if (done) {
                done(error);
            }
        });
}

// Reads one property, bounded by `timeoutMs`.
bool Property(const QDBusConnection& bus, const QString& path, const QString& interface,
              const QString& name, int timeoutMs, QVariant* value, QString* error) {
    QDBusMessage call = QDBusMessage::createMethodCall(kNm, path, kProperties, "Get");
    call << interface << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return false;
    }
    *value = reply.arguments().first().value<QDBusVariant>().variant();
    return true;
}

QList<QDBusObjectPath> ObjectPaths(const QVariant& value) {
    QList<QDBusObjectPath> paths;
    if (value.canConvert<QDBusArgument>()) {
        value.value<QDBusArgument>() >> paths;
    } else {
        paths = qvariant_cast<QList<QDBusObjectPath>>(value);
    }
    return paths;
}

// The "type" of the "bluetooth" settings of a connection profile ("dun" or "panu").
QString BluetoothKind(const QDBusConnection& bus, const QString& settingsPath, int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kNm, settingsPath, QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
        "GetSettings");
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    QMap<QString, QVariantMap> settings;
    reply.arguments().first().value<QDBusArgument>() >> settings;
    return settings.value(QStringLiteral("bluetooth")).value(QStringLiteral("type")).toString();
}

}  // namespace

LogindPowerOff::LogindPowerOff(QDBusConnection bus, int timeoutMs)
    : bus_(std::move(bus)), timeoutMs_(timeoutMs) {}

void LogindPowerOff::RequestPowerOff(std::function<void(const QString& error)> done) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << false;  // not interactive: no question to anybody
    WhenDone(this, bus_.asyncCall(call, timeoutMs_), std::move(done));
}

NetworkManagerDialUp::NetworkManagerDialUp(QDBusConnection bus, int timeoutMs)
    : bus_(std::move(bus)), timeoutMs_(timeoutMs) {
    qDBusRegisterMetaType<QMap<QString, QVariantMap>>();
}

bool NetworkManagerDialUp::ActiveConnections(QList<ActiveConnection>* out, QString* error) {
    out->clear();
    if (!bus_.isConnected()) {
        *error = QStringLiteral("no system bus");
        return false;
    }
    QVariant value;
    if (!Property(bus_, kNmPath, kNm, QStringLiteral("ActiveConnections"), timeoutMs_, &value,
                  error)) {
        return false;
    }
    const QString activeInterface = kNm + QStringLiteral(".Connection.Active");
    for (const QDBusObjectPath& path : ObjectPaths(value)) {
        ActiveConnection connection;
        connection.path = path.path();
        QVariant field;
        QString ignored;
        if (Property(bus_, connection.path, activeInterface, QStringLiteral("Type"), timeoutMs_,
                     &field, &ignored)) {
            connection.type = field.toString();
        }
        if (Property(bus_, connection.path, activeInterface, QStringLiteral("Id"), timeoutMs_,
                     &field, &ignored)) {
            connection.id = field.toString();
        }
        if (connection.type == QLatin1String("bluetooth") &&
            Property(bus_, connection.path, activeInterface, QStringLiteral("Connection"),
                     timeoutMs_, &field, &ignored)) {
            connection.bluetoothKind =
                BluetoothKind(bus_, field.value<QDBusObjectPath>().path(), timeoutMs_);
        }
        out->append(connection);
    }
    return true;
}

void NetworkManagerDialUp::Deactivate(const ActiveConnection& connection,
                                      std::function<void(const QString& error)> done) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kNm, kNmPath, kNm, QStringLiteral("DeactivateConnection"));
    call << QVariant::fromValue(QDBusObjectPath(connection.path));
    WhenDone(this, bus_.asyncCall(call, timeoutMs_), std::move(done));
}

}  // namespace platform
