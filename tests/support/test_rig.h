#pragma once

#include "platform/curl/curl_inet.h"
#include "platform/qt/drive_file_system.h"
#include "support/fakes.h"
#include "support/station.h"
#include "window/form1.h"

#include <QTemporaryDir>

#include <memory>

// A window on fakes for the players and the outside world, and on the real file system
// (a temporary drive folder), socket set and picture loader.
struct TestRig {
    struct Options {
        bool realStore = false;  // the QSettings store in the temporary folder
        bool realInet = false;   // the libcurl transfer control
        // New content files (and the main movie) are checked to be what their names say,
        // as in the program; the tests of other matters keep bytes that are not.
        bool checkContent = false;
        platform::InetLimits inetLimits;
        quint16 port = 0;  // the push server's port; 0 takes a free one
        int pushIdleMs = 10 * 60 * 1000;
        std::optional<platform::Endpoints> endpoints;
        // Replaces components before the window is made.
        std::function<void(platform::Platform&)> customize;
        platform::DiskReserve reserve;  // what the drive's writes leave free
        QString driveFolder;            // the drive's host folder; empty: one of the rig's own
        // Puts a layer between the window and the real drive (to make it fail).
        std::function<std::unique_ptr<platform::FileSystem>(std::unique_ptr<platform::FileSystem>)>
            wrapFiles;
    };
    TestRig();
    explicit TestRig(Options options);
    ~TestRig();

    // Form_Load; fails the test when the push server cannot listen.
    void Load();
    // The host path of a drive path.
    QString Host(const QString& drivePath) const;
    // Writes a file on the drive, creating its folders.
    void WriteDriveFile(const QString& drivePath, const QByteArray& bytes) const;
    // What the drive holds once the writes under way have landed.
    QByteArray ReadDriveFile(const QString& drivePath) const;
    // Pumps events until the drive's commits and moves asked for so far are over.
    void WaitForDisk() const;

    QTemporaryDir temp;
    platform::FileSystem* files = nullptr;
    FakeFlash* flash1 = nullptr;
    FakeFlash* flash2 = nullptr;
    FakeMedia* media = nullptr;
    FakeInet* inet = nullptr;
    platform::Inet* anyInet = nullptr;
    FakeDialog* dialog = nullptr;
    FakeShell* shell = nullptr;
    FakePointer* pointer = nullptr;
    FakeClock* clock = nullptr;
    FakePowerOff* powerOff = nullptr;
    FakeDialUp* dialUp = nullptr;
    FakeMemory* memory = nullptr;
    MemoryStore* store = nullptr;
    platform::WskServer* sockets = nullptr;
    std::unique_ptr<Form1> form;
};

// Pumps events until `done` or `ms` have passed.
bool PumpUntil(const std::function<bool()>& done, int ms = 5000);
