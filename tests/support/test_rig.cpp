#include "support/test_rig.h"

#include "platform/curl/curl_inet.h"
#include "platform/event_loop.h"
#include "platform/qt/drive_file_system.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_wsk_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

TestRig::TestRig() : TestRig(Options{}) {}

TestRig::TestRig(Options options) {
    platform::Platform p;
    if (options.realStore) {
        p.settings = std::make_unique<platform::QtSettingsStore>(temp.path() + "/config");
    } else {
        auto memory = std::make_unique<MemoryStore>();
        store = memory.get();
        p.settings = std::move(memory);
    }
    p.endpoints = options.endpoints.value_or(
        platform::Endpoints{"site.test", "http://weather.test/freedata/meerdaagsebanner.jpg",
                            "http://radio.test/radio.asx"});
    auto drive = std::make_unique<platform::DriveFileSystem>(
        options.driveFolder.isEmpty() ? temp.path() + "/drive_c" : options.driveFolder,
        options.reserve);
    files = drive.get();
    p.files = options.wrapFiles ? options.wrapFiles(std::move(drive)) : std::move(drive);
    auto f1 = std::make_unique<FakeFlash>();
    auto f2 = std::make_unique<FakeFlash>();
    auto m = std::make_unique<FakeMedia>();
    flash1 = f1.get();
    flash2 = f2.get();
    media = m.get();
    p.flash1 = std::move(f1);
    p.flash2 = std::move(f2);
    p.media = std::move(m);
    if (options.realInet) {
        p.inet = std::make_unique<platform::CurlInet>(options.inetLimits);
    } else {
        auto i = std::make_unique<FakeInet>();
        inet = i.get();
        p.inet = std::move(i);
    }
    anyInet = p.inet.get();
    auto s = std::make_unique<platform::QtWskServer>();
    sockets = s.get();
    p.sockets = std::move(s);
    p.pictures = std::make_unique<platform::QtPictureLoader>();
    auto d = std::make_unique<FakeDialog>();
    dialog = d.get();
    p.fileDialog = std::move(d);
    auto sh = std::make_unique<FakeShell>();
    shell = sh.get();
    p.shell = std::move(sh);
    auto pt = std::make_unique<FakePointer>();
    pointer = pt.get();
    p.pointer = std::move(pt);
    auto c = std::make_unique<FakeClock>();
    clock = c.get();
    p.clock = std::move(c);
    p.random = std::make_unique<platform::LcgRandom>();
    auto po = std::make_unique<FakePowerOff>();
    powerOff = po.get();
    p.powerOff = std::move(po);
    auto du = std::make_unique<FakeDialUp>();
    dialUp = du.get();
    p.dialUp = std::move(du);
    auto mem = std::make_unique<FakeMemory>();
    memory = mem.get();
    p.memory = std::move(mem);
    p.pushPort = options.port;
    p.pushIdleTimeoutMs = options.pushIdleMs;
    p.programFolder = temp.path() + "/program";
    p.checkContent = options.checkContent;
    if (options.customize) {
        options.customize(p);
        // Pointers to the fakes that were replaced would dangle.
        if (p.media.get() != media) {
            media = nullptr;
        }
        if (p.powerOff.get() != powerOff) {
            powerOff = nullptr;
        }
        if (p.dialUp.get() != dialUp) {
            dialUp = nullptr;
        }
    }
    form = std::make_unique<Form1>(std::move(p));
}

TestRig::~TestRig() {
    if (form) {
        form->close();
        form.reset();
    }
}

void TestRig::Load() {
    const auto loaded = form->Form_Load();
    ASSERT_TRUE(loaded) << loaded.reason().toStdString();
}

QString TestRig::Host(const QString& drivePath) const {
    return files->HostPath(drivePath).value_or(QString());
}

void TestRig::WriteDriveFile(const QString& drivePath, const QByteArray& bytes) const {
    const QString host = Host(drivePath);
    QDir().mkpath(QFileInfo(host).absolutePath());
    QFile file(host);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

void TestRig::WaitForDisk() const {
    if (!files) {
        return;
    }
    bool landed = false;
    files->AfterCommits([&landed] { landed = true; });
    EXPECT_TRUE(PumpUntil([&] { return landed; }, 20000)) << "the drive's writes did not land";
}

QByteArray TestRig::ReadDriveFile(const QString& drivePath) const {
    WaitForDisk();
    QFile file(Host(drivePath));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    return platform::WaitUntil(done, nullptr, ms);
}
