#include "platform/dbus/dbus_power.h"

#include "platform/log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>

#include <memory>

namespace platform {

namespace {

const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

Failure ErrorOf(const QDBusMessage& reply) {
    return Fail(reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
}

void WhenDone(QObject* owner, const QDBusPendingCall& call, SystemDone done) {
    auto* watcher = new QDBusPendingCallWatcher(call, owner);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, owner, [watcher, done = std::move(done)] {
            const QDBusMessage reply = watcher->reply();
            watcher->deleteLater();
            if (done) {
                done(reply.type() == QDBusMessage::ErrorMessage ? Result<>(ErrorOf(reply))
                                                                : Result<>());
            }
        });
}

using Answer = std::function<void(const QDBusMessage& reply)>;

// Sends `call` and hands its reply (or error) to `then` through the event loop.
void Ask(QObject* owner, const QDBusConnection& bus, const QDBusMessage& call, int timeoutMs,
         Answer then) {
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                     [watcher, then = std::move(then)] {
                         watcher->deleteLater();
                         then(watcher->reply());
                     });
}

// A reply with arguments, or the error it brought.
Result<> Answered(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        return {};
    }
    return ErrorOf(reply);
}

QDBusMessage PropertyCall(const QString& path, const QString& interface, const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(kNm, path, kProperties, "Get");
    call << interface << name;
    return call;
}

QVariant PropertyValue(const QDBusMessage& reply) {
    return reply.arguments().first().value<QDBusVariant>().variant();
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

}  // namespace

// A snapshot under way: the connections so far, and the answers still to come.
struct DialUpSnapshot {
    QList<ActiveConnection> connections;
    int pending = 1;  // the listing itself, until every question is asked
    DialUp::SnapshotDone done;
    void Answered() {
        if (--pending == 0 && done) {
            done(connections);
        }
    }
};

TimedateClockSync::TimedateClockSync(QDBusConnection bus, int refreshMs) : bus_(std::move(bus)) {
    connect(&refresh_, &QTimer::timeout, this, [this] { Ask(); });
    refresh_.start(refreshMs);
    QTimer::singleShot(0, this, [this] { Ask(); });
}

void TimedateClockSync::Ask() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("/org/freedesktop/timedate1"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.timedate1") << QStringLiteral("NTPSynchronized");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (reply.isError()) {
            synchronised_.reset();
        } else {
            synchronised_ = reply.value().variant().toBool();
        }
    });
}

LogindPowerOff::LogindPowerOff(QDBusConnection bus, int timeoutMs)
    : bus_(std::move(bus)), timeoutMs_(timeoutMs) {}

void LogindPowerOff::RequestPowerOff(SystemDone done) {
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

void NetworkManagerDialUp::ActiveConnections(SnapshotDone done) {
    if (!bus_.isConnected()) {
        QTimer::singleShot(0, this, [done] { done(Fail(QStringLiteral("no system bus"))); });
        return;
    }
    const auto listed = [this, done](const QDBusMessage& reply) {
        if (const auto answered = Answered(reply); !answered) {
            done(Fail(answered.reason()));
            return;
        }
        auto snapshot = std::make_shared<DialUpSnapshot>();
        snapshot->done = done;
        for (const QDBusObjectPath& path : ObjectPaths(PropertyValue(reply))) {
            snapshot->connections.append(ActiveConnection{path.path(), {}, {}, {}});
        }
        for (qsizetype i = 0; i < snapshot->connections.size(); ++i) {
            AskAbout(snapshot, i);
        }
        snapshot->Answered();
    };
    Ask(this, bus_, PropertyCall(kNmPath, kNm, QStringLiteral("ActiveConnections")), timeoutMs_,
        listed);
}

// Asks for the id and type of connection `i`, and for a Bluetooth one what kind it is.
void NetworkManagerDialUp::AskAbout(const std::shared_ptr<DialUpSnapshot>& snapshot, qsizetype i) {
    const QString active = kNm + QStringLiteral(".Connection.Active");
    const QString path = snapshot->connections[i].path;
    snapshot->pending += 2;
    Ask(this, bus_, PropertyCall(path, active, QStringLiteral("Id")), timeoutMs_,
        [snapshot, i](const QDBusMessage& reply) {
            if (Answered(reply)) {
                snapshot->connections[i].id = PropertyValue(reply).toString();
            }
            snapshot->Answered();
        });
    Ask(this, bus_, PropertyCall(path, active, QStringLiteral("Type")), timeoutMs_,
        [this, snapshot, i, path, active](const QDBusMessage& reply) {
            if (Answered(reply)) {
                snapshot->connections[i].type = PropertyValue(reply).toString();
            }
            if (snapshot->connections[i].type == QLatin1String("bluetooth")) {
                ++snapshot->pending;
                Ask(this, bus_, PropertyCall(path, active, QStringLiteral("Connection")),
                    timeoutMs_, [this, snapshot, i](const QDBusMessage& profile) {
                        if (Answered(profile)) {
                            AskBluetoothKind(
                                snapshot, i,
                                PropertyValue(profile).value<QDBusObjectPath>().path());
                        }
                        snapshot->Answered();
                    });
            }
            snapshot->Answered();
        });
}

// The "type" of the "bluetooth" settings of a connection profile ("dun" or "panu").
void NetworkManagerDialUp::AskBluetoothKind(const std::shared_ptr<DialUpSnapshot>& snapshot,
                                            qsizetype i, const QString& settingsPath) {
    ++snapshot->pending;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        kNm, settingsPath, QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
        "GetSettings");
    Ask(this, bus_, call, timeoutMs_, [snapshot, i](const QDBusMessage& reply) {
        if (Answered(reply)) {
            QMap<QString, QVariantMap> settings;
            reply.arguments().first().value<QDBusArgument>() >> settings;
            snapshot->connections[i].bluetoothKind = settings.value(QStringLiteral("bluetooth"))
                                                         .value(QStringLiteral("type"))
                                                         .toString();
        }
        snapshot->Answered();
    });
}

void NetworkManagerDialUp::Deactivate(const ActiveConnection& connection, SystemDone done) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kNm, kNmPath, kNm, QStringLiteral("DeactivateConnection"));
    call << QVariant::fromValue(QDBusObjectPath(connection.path));
    WhenDone(this, bus_.asyncCall(call, timeoutMs_), std::move(done));
}

}  // namespace platform
