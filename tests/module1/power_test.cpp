#include "module1/module1.h"
#include "platform/dbus/dbus_power.h"
#include "platform/qt/qt_desktop.h"
#include "support/test_rig.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const char* kPython = "/usr/bin/python3";

// A private D-Bus bus for the test, with python-dbusmock services on it.
class PrivateBus {
  public:
    PrivateBus() {
        daemon_.setProgram("dbus-daemon");
        daemon_.setArguments({"--session", "--nofork", "--nopidfile", "--print-address=1"});
        daemon_.setStandardErrorFile(QProcess::nullDevice());
        daemon_.start();
        if (daemon_.waitForReadyRead(10000)) {
            address = QString::fromUtf8(daemon_.readLine().trimmed());
        }
        static int count = 0;
        name_ = "test-bus-" + QString::number(++count);
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(name_);
        for (auto& mock : mocks_) {
            mock->kill();
            mock->waitForFinished();
        }
        daemon_.kill();
        daemon_.waitForFinished();
    }
    QDBusConnection Bus() { return QDBusConnection::connectToBus(address, name_); }

    // Starts `python3 -m dbusmock ARGS` on this bus and waits until `service` answers a
    // property read of `path`.
    bool StartMock(const QStringList& args, const QString& service, const QString& path) {
        auto mock = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", address);
        mock->setProcessEnvironment(env);
        mock->setStandardOutputFile(QProcess::nullDevice());
        mock->setStandardErrorFile(QProcess::nullDevice());
        mock->start(kPython, QStringList({"-m", "dbusmock", "--system"}) + args);
        mocks_.push_back(std::move(mock));
        QDBusConnection bus = Bus();
        return PumpUntil(
            [&] {
                QDBusMessage call = QDBusMessage::createMethodCall(
                    service, path, "org.freedesktop.DBus.Properties", "GetAll");
                call << QString();
                return bus.call(call, QDBus::Block, 500).type() == QDBusMessage::ReplyMessage;
            },
            15000);
    }
    // The methods called on the mock object at `path`, each with its argument's D-Bus
    // type and value.
    QStringList Calls(const QString& service, const QString& path) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", "GetCalls");
        const QDBusMessage reply = Bus().call(call, QDBus::Block, 2000);
        QStringList calls;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            return {"<error " + reply.errorName() + ">"};
        }
        const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            quint64 time;
            QString method;
            list.beginStructure();
            list >> time >> method;
            QString text = method;
            list.beginArray();
            while (!list.atEnd()) {
                QDBusVariant arg;
                list >> arg;
                const QVariant value = arg.variant();
                if (value.canConvert<QDBusObjectPath>() &&
                    value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
                    text += " o:" + value.value<QDBusObjectPath>().path().section('/', -1);
                } else {
                    text += QString(" ") + value.metaType().name() + ":" + value.toString();
                }
            }
            list.endArray();
            list.endStructure();
            calls << text;
        }
        list.endArray();
        return calls;
    }
    bool RunSetup(const QStringList& args) {
        QProcess setup;
        setup.setProcessChannelMode(QProcess::ForwardedChannels);
        setup.start(kPython,
                    QStringList({DRAVONELLE_TEST_DATA "/module1/nm_setup.py", address}) + args);
        return setup.waitForFinished(20000) && setup.exitCode() == 0;
    }

    QString address;

  private:
    QProcess daemon_;
    QString name_;
    std::vector<std::unique_ptr<QProcess>> mocks_;
};

const QString kLogin = "org.freedesktop.login1";
const QString kLoginPath = "/org/freedesktop/login1";
const QString kNm = "org.freedesktop.NetworkManager";
const QString kNmPath = "/org/freedesktop/NetworkManager";

// Replaces logind's PowerOff on the mock with one declared with a variant, so that the
// mock keeps the type that arrives, and runs `code` for it.
bool DeclarePowerOff(PrivateBus& bus, const QString& code) {
    QDBusMessage add = QDBusMessage::createMethodCall(kLogin, kLoginPath,
                                                      "org.freedesktop.DBus.Mock", "AddMethod");
    add << "org.freedesktop.login1.Manager"
        << "PowerOff"
        << "v"
        << "" << code;
    return bus.Bus().call(add).type() == QDBusMessage::ReplyMessage;
}

// A window whose power-off goes to logind on the private bus.
struct PowerRig {
    explicit PowerRig(PrivateBus& bus) {
        TestRig::Options options;
        options.customize = [&](platform::Platform& p) {
            p.powerOff = std::make_unique<platform::LogindPowerOff>(bus.Bus(), 3000);
        };
        rig = std::make_unique<TestRig>(options);
        rig->Load();
    }
    std::unique_ptr<TestRig> rig;
};

}  // namespace

TEST(PowerOff, MatchingTickAsksLogindOnceWithABooleanFalse) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty());
    ASSERT_TRUE(bus.StartMock({"--template", "logind"}, kLogin, kLoginPath));
    ASSERT_TRUE(DeclarePowerOff(bus, ""));

    PowerRig power(bus);
    auto& form = *power.rig->form;
    form.TxttijdUit->setText("22:30");
    power.rig->clock->now = "22:29:59";
    form.CheckCompUit_Timer();
    power.rig->clock->now = "22:30:15";
    form.CheckCompUit_Timer();
    EXPECT_TRUE(PumpUntil([&] { return !bus.Calls(kLogin, kLoginPath).isEmpty(); }, 5000));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(bus.Calls(kLogin, kLoginPath), QStringList({"PowerOff bool:false"}));
}

TEST(PowerOff, ButtonAsksAtOnceAndRefusalOrAbsenceKeepsTheProgramRunning) {
    PrivateBus bus;
    {
        PowerRig power(bus);  // nobody on the bus answers for logind
        power.rig->form->CmdCompUit_Click();
        PumpUntil([] { return false; }, 300);
        EXPECT_FALSE(power.rig->form->Closing());
    }
    ASSERT_TRUE(bus.StartMock({"--template", "logind"}, kLogin, kLoginPath));
    ASSERT_TRUE(DeclarePowerOff(bus,
                                "raise dbus.exceptions.DBusException('denied', "
                                "name='org.freedesktop.DBus.Error.AccessDenied')"));
    PowerRig power(bus);
    power.rig->form->CmdCompUit_Click();
    EXPECT_TRUE(PumpUntil([&] { return !bus.Calls(kLogin, kLoginPath).isEmpty(); }, 5000));
    EXPECT_EQ(bus.Calls(kLogin, kLoginPath), QStringList({"PowerOff bool:false"}));
    EXPECT_FALSE(power.rig->form->Closing());
}

TEST(PowerOff, ClockTextIsComparedCharacterForCharacter) {
    TestRig rig;
    rig.Load();
    auto& form = *rig.form;
    struct Case {
        QString setting, clock;
        bool match;
    };
    const QList<Case> cases = {
        {"22:30", "22:30:00", true},    {"22:30", "22:30:59", true},
        {"22:30", "22:31:00", false},   {"09:05", "9:05:12", false},      // no leading zero
        {"9:05:", "9:05:12", true},     {"22:30", "10:30:15 PM", false},  // 12-hour text
        {"10:30", "10:30:15 AM", true}, {"10:30", "10:30:15 PM", true},
        {"", "22:30:00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.setting + " / " + c.clock).toStdString());
        rig.powerOff->requests = 0;
        form.TxttijdUit->setText(c.setting);
        rig.clock->now = c.clock;
        form.CheckCompUit_Timer();
        EXPECT_EQ(rig.powerOff->requests, c.match ? 1 : 0);
    }
}

// Under en_US the locale's time reads "3:07:00 PM": the clock text stays 24-hour.
TEST(PowerOff, SystemClockTextIsTwentyFourHourUnderEveryLocale) {
    const QLocale before;
    for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates),
                                  QLocale(QLocale::Dutch), QLocale(QLocale::Arabic)}) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        EXPECT_EQ(platform::QtClock::FormatTime(QTime(15, 7)), "15:07:00");
        EXPECT_EQ(platform::QtClock::FormatTime(QTime(9, 5, 12)), "09:05:12");
        EXPECT_EQ(platform::QtClock::FormatTime(QTime(22, 30, 15)), "22:30:15");
        EXPECT_EQ(platform::QtClock().TimeText().size(), 8);
    }
    QLocale::setDefault(before);
}

namespace {

struct Snapshot {
    bool ok = false;
    QList<platform::ActiveConnection> connections;
    QString error;
};

// The snapshot as the event loop brings it.
Snapshot TakeSnapshot(platform::DialUp& dialUp) {
    std::optional<Snapshot> taken;
    dialUp.ActiveConnections([&](const auto& connections) {
        taken = connections ? Snapshot{true, *connections, {}}
                            : Snapshot{false, {}, connections.reason()};
    });
    EXPECT_FALSE(taken.has_value());  // never inside the call
    EXPECT_TRUE(PumpUntil([&] { return taken.has_value(); }, 10000));
    return taken.value_or(Snapshot{});
}

}  // namespace

TEST(HangUp, DeactivatesExactlyTheDialUpConnectionsInOrder) {
    PrivateBus bus;
    ASSERT_TRUE(bus.StartMock({"--template", "networkmanager"}, kNm, kNmPath));
    ASSERT_TRUE(bus.RunSetup({"802-3-ethernet:lan", "gsm:mobile", "802-11-wireless:wifi",
                              "pppoe:dsl", "vpn:office", "bluetooth:phone:dun",
                              "bluetooth:pan:panu", "cdma:modem", "adsl:line"}));
    platform::NetworkManagerDialUp dialUp(bus.Bus());
    const Snapshot snapshot = TakeSnapshot(dialUp);
    ASSERT_TRUE(snapshot.ok) << snapshot.error.toStdString();
    const QList<platform::ActiveConnection>& active = snapshot.connections;
    ASSERT_EQ(active.size(), 9);
    EXPECT_EQ(active[5].bluetoothKind, "dun");
    Module1::HangUpDialUp(dialUp);
    const QStringList expected = {"DeactivateConnection o:mobile", "DeactivateConnection o:dsl",
                                  "DeactivateConnection o:phone", "DeactivateConnection o:modem",
                                  "DeactivateConnection o:line"};
    EXPECT_TRUE(PumpUntil(
        [&] { return bus.Calls(kNm, kNmPath).filter("Deactivate").size() >= expected.size(); },
        5000));
    EXPECT_EQ(bus.Calls(kNm, kNmPath).filter("Deactivate"), expected);
}

TEST(HangUp, NoneActiveOneFailingAndNoNetworkManager) {
    PrivateBus bus;
    {
        platform::NetworkManagerDialUp absent(bus.Bus());
        const Snapshot snapshot = TakeSnapshot(absent);
        EXPECT_FALSE(snapshot.ok);
        EXPECT_TRUE(snapshot.error.contains("ServiceUnknown")) << snapshot.error.toStdString();
        Module1::HangUpDialUp(absent);  // nothing to hang up, logged
    }
    ASSERT_TRUE(bus.StartMock({"--template", "networkmanager"}, kNm, kNmPath));
    platform::NetworkManagerDialUp dialUp(bus.Bus());
    Module1::HangUpDialUp(dialUp);
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(bus.Calls(kNm, kNmPath).filter("Deactivate").isEmpty());

    ASSERT_TRUE(bus.RunSetup({"gsm:fail", "gsm:second"}));
    Module1::HangUpDialUp(dialUp);
    EXPECT_TRUE(
        PumpUntil([&] { return bus.Calls(kNm, kNmPath).filter("Deactivate").size() >= 2; }, 5000));
    EXPECT_EQ(bus.Calls(kNm, kNmPath).filter("Deactivate"),
              QStringList({"DeactivateConnection o:fail", "DeactivateConnection o:second"}));
}

TEST(HangUp, EveryCycleEndsWithTheHangUp) {
    TestRig rig;
    rig.Load();
    rig.dialUp->connections = {{"/a", "lan", "802-3-ethernet", ""}, {"/b", "mobile", "gsm", ""}};
    rig.form->Form_Activate();
    EXPECT_TRUE(PumpUntil([&] { return !rig.dialUp->deactivated.isEmpty(); }, 5000));
    EXPECT_EQ(rig.dialUp->deactivated, QStringList({"mobile"}));
}

// The clock's synchronisation as systemd-timedated tells it, asked without waiting; not
// known while nobody answers.
TEST(ClockSync, FollowsTimedated) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty());
    platform::TimedateClockSync nobody(bus.Bus(), 100);
    PumpUntil([] { return false; }, 300);
    EXPECT_FALSE(nobody.Synchronised().has_value());
    ASSERT_TRUE(bus.StartMock({"--template", "timedated", "--parameters", R"({"NTP": false})"},
                              "org.freedesktop.timedate1", "/org/freedesktop/timedate1"));
    platform::TimedateClockSync sync(bus.Bus(), 100);
    EXPECT_TRUE(PumpUntil([&] { return sync.Synchronised().has_value(); }, 5000));
    EXPECT_EQ(sync.Synchronised(), std::optional<bool>(false));
}
