#pragma once

#include "platform/platform.h"
#include "support/printers.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <map>

// Players that record every call and raise their events when a test says so.
class FakeFlash : public platform::ShockwaveFlash {
  public:
    QWidget* Widget() override { return &widget_; }
    void SetMovie(const QString& path) override {
        movie = path;
        calls << "Movie=" + path;
    }
    void SetMovieFrom(const QString& path, const QString& baseFolder) override {
        movie = path;
        calls << "Movie=" + path + " from " + baseFolder;
    }
    QString Movie() const override { return movie; }
    void Rewind() override { calls << "Rewind"; }
    void Play() override { calls << "Play"; }
    void Stop() override { calls << "Stop"; }
    void SetVariable(const QString& name, const QString& value) override {
        variables[name] = value;
        calls << name + "=" + value;
        setVariables << name + "=" + value;
    }
    int CurrentFrame() override { return currentFrame; }
    int TotalFrames() override { return totalFrames; }
    void SetVisible(bool visible) override {
        ShockwaveFlash::SetVisible(visible);
        calls << (visible ? "Visible=1" : "Visible=0");
    }
    // The variables set with SetVariable, in order.
    QStringList setVariables;
    QStringList calls;
    std::map<QString, QString> variables;
    QString movie;
    int currentFrame = 0;
    int totalFrames = 1;

  private:
    QWidget widget_;
};

class FakeMedia : public platform::WindowsMediaPlayer {
  public:
    QWidget* Widget() override { return &widget_; }
    void SetURL(const QString& value) override {
        url = value;
        calls << "URL=" + value;
    }
    QString URL() const override { return url; }
    void Play() override { calls << "play"; }
    void SetStretchToFit(bool stretch) override {
        calls << (stretch ? "stretchToFit=1" : "stretchToFit=0");
    }
    void SetEnabled(bool value) override {
        enabled = value;
        calls << (value ? "enabled=1" : "enabled=0");
    }
    void SetVisible(bool visible) override {
        WindowsMediaPlayer::SetVisible(visible);
        calls << (visible ? "Visible=1" : "Visible=0");
    }
    QStringList calls;
    QString url;
    bool enabled = true;

  private:
    QWidget widget_;
};

// A transfer control that answers from a table of addresses, on the event loop.
class FakeInet : public QObject, public platform::Inet {
  public:
    struct Answer {
        int code = 200;
        QByteArray body;
        qint64 announced = -2;  // -2: the body's own length
        bool fail = false;      // the request fails without a response
        bool never = false;     // nothing ever comes back
    };
    void SetRequestTimeout(int seconds) override { timeout = seconds; }
    void Execute(const QString& url, const QString&) override;
    void SetBodyWriter(platform::FileWriter* writer) override { writer_ = writer; }
    qint64 BodyBytes() const override { return written_; }
    void Cancel() override {
        ++cancels;
        ++generation_;  // what is still to come of the request is dropped
    }
    int ResponseCode() const override { return code_; }
    qint64 AnnouncedLength() const override { return announced_; }

    std::map<QString, Answer> answers;  // by address; others give 404
    QStringList requests;
    int timeout = 0;
    int cancels = 0;
    qsizetype piece = 300;  // the body arrives in pieces of this many bytes
    // Runs inside Execute, once the request is made and before any answer is queued: what
    // happens there happens while the program waits for that request.
    std::function<void(const QString& url)> whileWaiting;

  private:
    void Deliver(const QByteArray& body, qsizetype from, quint64 generation);

    platform::FileWriter* writer_ = nullptr;
    qint64 written_ = 0;
    quint64 generation_ = 0;
    int code_ = 0;
    qint64 announced_ = -1;
};

class FakeDialog : public platform::FileDialog {
  public:
    void ShowOpen() override {
        ++shown;
        FileName = nextName;
        FileTitle = nextTitle;
    }
    QString nextName, nextTitle;
    int shown = 0;
};

class FakeShell : public platform::Shell {
  public:
    bool Open(const QString& address, int showCommand) override {
        opened << address + "|" + QString::number(showCommand);
        return true;
    }
    QStringList opened;
};

class FakePointer : public platform::Pointer {
  public:
    void SetCursorPos(int x, int y) override { moves << QPoint(x, y); }
    QList<QPoint> moves;
};

class FakeClock : public platform::Clock {
  public:
    QString TimeText() override { return now; }
    QString now = "12:00:00";
};

class FakeMemory : public platform::MemoryGauge {
  public:
    double ProgramMiB() override { return mib; }
    double mib = 300;
};

class FakePowerOff : public platform::PowerOff {
  public:
    void RequestPowerOff(platform::SystemDone done) override {
        ++requests;
        QTimer::singleShot(0, &context_, [this, done] {
            if (done) {
                done(refusal.isEmpty() ? platform::Result<>() : platform::Fail(refusal));
            }
        });
    }
    int requests = 0;
    QString refusal;

  private:
    QObject context_;  // what is still queued goes with the fake
};

class FakeDialUp : public platform::DialUp {
  public:
    void ActiveConnections(SnapshotDone done) override {
        ++snapshots;
        QTimer::singleShot(0, &context_, [this, done] {
            done(available ? platform::Result<QList<platform::ActiveConnection>>(connections)
                           : platform::Fail("not available"));
        });
    }
    void Deactivate(const platform::ActiveConnection& connection,
                    platform::SystemDone done) override {
        deactivated << connection.id;
        QTimer::singleShot(0, &context_, [this, done, id = connection.id] {
            if (done) {
                done(failing.contains(id) ? platform::Result<>(platform::Fail("refused"))
                                          : platform::Result<>());
            }
        });
    }
    QList<platform::ActiveConnection> connections;
    QStringList deactivated;
    QStringList failing;
    bool available = true;
    int snapshots = 0;

  private:
    QObject context_;  // what is still queued goes with the fake
};

// A settings store in memory that counts its writes.
class MemoryStore : public platform::SettingsStore {
  public:
    platform::Result<std::optional<QString>> Get(const QString& app, const QString& section,
                                                 const QString& key) override {
        if (unreadable) {
            return platform::Fail("unreadable");
        }
        auto it = values.find(app + "/" + section + "/" + key);
        if (it == values.end()) {
            return std::optional<QString>();
        }
        return std::optional<QString>(it->second);
    }
    platform::Result<> Set(const QString& app, const QString& section, const QString& key,
                           const QString& value) override {
        values[app + "/" + section + "/" + key] = value;
        writes << key + "=" + value;
        return {};
    }
    std::map<QString, QString> values;
    QStringList writes;
    bool unreadable = false;
};
