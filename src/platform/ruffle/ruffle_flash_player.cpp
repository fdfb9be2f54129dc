#include "platform/ruffle/ruffle_flash_player.h"

#include "platform/log.h"
#include "platform/ruffle/host_words.h"
#include "platform/ruffle/movie_reach.h"
#include "platform/ruffle/movies.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QPointer>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <csignal>
#include <utility>

namespace platform {

namespace {

const QString kMovieKey = QStringLiteral("movie");
const QString kControlKey = QStringLiteral("control:");
const QString kVariableKey = QStringLiteral("variable:");
// A movie reads its variables once a frame: a variable told again within this time waits
// until it has passed, and only its latest value is sent.
constexpr int kVariableIntervalMs = 40;

QString JsString(const QString& text) {
    return QString::fromUtf8(QJsonDocument::fromVariant(QVariantList{text})
                                 .toJson(QJsonDocument::Compact)
                                 .mid(1)
                                 .chopped(1));
}

// A page that reports what goes wrong in it.
class Page : public QWebEnginePage {
  public:
    Page(QWebEngineProfile* profile, RuffleFlashPlayer* player)
        : QWebEnginePage(profile), player_(player) {}

  protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int line, const QString& source) override {
        if (level == ErrorMessageLevel) {
            qCWarning(lcPlatform).noquote()
                << "flash page:" << message << "(" << QFileInfo(source).fileName() << line << ")";
            if (message.contains(QLatin1String("panic"), Qt::CaseInsensitive)) {
                player_->OnFailed(RuffleFlashPlayer::kAnyMovie, message);
            }
        }
    }

  private:
    RuffleFlashPlayer* player_;
};

// Holds every request of the page to what a movie may reach.
class ReachGuard : public QWebEngineUrlRequestInterceptor {
  public:
    using Seen = std::function<void(const QUrl& url, bool allowed)>;
    ReachGuard(MovieReach::Options options, Seen seen, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent),
          reach_(std::move(options)),
          seen_(std::move(seen)) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const auto decision = reach_.Decide(info.requestUrl());
        if (seen_) {
            seen_(info.requestUrl(), decision.verdict != MovieReach::Verdict::kBlock);
        }
        switch (decision.verdict) {
            case MovieReach::Verdict::kAllow:
                return;
            case MovieReach::Verdict::kRedirect:
                info.redirect(decision.to);
                return;
            case MovieReach::Verdict::kBlock:
                info.block(true);
                // A movie that keeps asking is logged now and then, not every time.
                if (++blocked_ <= 20 || blocked_ % 1000 == 0) {
                    qCWarning(lcPlatform).noquote()
                        << "flash: a movie may not reach" << info.requestUrl().toString()
                        << QStringLiteral("(%1 refused)").arg(blocked_);
                }
                return;
        }
    }

  private:
    MovieReach reach_;
    Seen seen_;
    qint64 blocked_ = 0;
};

}  // namespace

// What the page may call. Each call is queued to the event loop and handled there, never
// inside the web channel's delivery: a movie's "update" command runs a whole update
// cycle, which must not hold the channel.
class RuffleBridge : public QObject {
    Q_OBJECT
  public:
    explicit RuffleBridge(RuffleFlashPlayer* player) : player_(player) {}
    Q_INVOKABLE void pageReady(const QString& renderer, const QString& graphics) {
        Queue([player = player_, renderer, graphics] { player->OnPageReady(renderer, graphics); });
    }
    Q_INVOKABLE void frameReport(int movie, const QString& report) {
        Queue([player = player_, movie, report] { player->OnFrame(movie, report); });
    }
    Q_INVOKABLE void fsCommand(const QString& command, const QString& args) {
        Queue([player = player_, command, args] { player->OnFsCommand(command, args); });
    }
    Q_INVOKABLE void failed(int movie, const QString& reason) {
        Queue([player = player_, movie, reason] { player->OnFailed(movie, reason); });
    }

  private:
    template <typename Call>
    void Queue(Call call) {
        QMetaObject::invokeMethod(player_, std::move(call), Qt::QueuedConnection);
    }
    RuffleFlashPlayer* player_;
};

RuffleFlashPlayer::RuffleFlashPlayer(Options options)
    : options_(std::move(options)), view_(new QWebEngineView), channel_(new QWebChannel(this)) {
    auto* page = new Page(QWebEngineProfile::defaultProfile(), this);
    page->setParent(view_);
    page->setBackgroundColor(Qt::black);
    QWebEngineSettings* settings = page->settings();
    // Movies read their files and reach the network; ReachGuard confines the files.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    page->setUrlRequestInterceptor(
        new ReachGuard(MovieReach::Options{{options_.programFolder, options_.engineFolder},
                                           options_.contentFolders,
                                           options_.hostPath},
                       options_.requestSeen, page));
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setAttribute(QWebEngineSettings::WebGLEnabled,
                           options_.renderer != QStringLiteral("canvas"));
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    QWebEngineScript words;
    words.setSourceCode(host_words::PageScript());
    words.setInjectionPoint(QWebEngineScript::DocumentCreation);
    words.setWorldId(QWebEngineScript::MainWorld);
    page->scripts().insert(words);
    view_->setPage(page);
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    view_->setStyleSheet(QStringLiteral("background: black;"));
    bridge_ = new RuffleBridge(this);
    bridge_->setParent(this);
    channel_->registerObject(QStringLiteral("host"), bridge_);
    page->setWebChannel(channel_);
    LoadPage();
    // The engine's page runs in a process of its own: if that process dies, the page is
    // loaded again and the movie started afresh, so the channel does not stay black.
    connect(page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus, int code) {
                const QString reason =
                    killedFor_.isEmpty()
                        ? QStringLiteral("the engine's process ended (%1)").arg(code)
                        : std::exchange(killedFor_, QString());
                qCWarning(lcPlatform).noquote()
                    << "flash engine:" << reason + QStringLiteral("; starting it again");
                StartAfresh(reason);
            });
    heartbeat_.setInterval(options_.heartbeatMs);
    connect(&heartbeat_, &QTimer::timeout, this, [this] { Beat(); });
    heartbeat_.start();

    loadTimeout_.setSingleShot(true);
    connect(&loadTimeout_, &QTimer::timeout, this, [this] { CheckFirstFrame(); });
    pageTimeout_.setSingleShot(true);
    connect(&pageTimeout_, &QTimer::timeout, this, [this] {
        qCWarning(lcPlatform).noquote() << "flash engine: the page is not ready after"
                                        << options_.pageTimeoutMs << "ms; loading it again";
        if (AwaitingFirstFrame()) {
            OnFailed(kAnyMovie, QStringLiteral("the engine's page did not load"));
        }
        LoadPage();
    });
    showTimeout_.setSingleShot(true);
    connect(&showTimeout_, &QTimer::timeout, this, [this] { ShowIfWanted(); });
    heldTimer_.setSingleShot(true);
    connect(&heldTimer_, &QTimer::timeout, this, [this] { SendHeld(); });
}

RuffleFlashPlayer::~RuffleFlashPlayer() {
    delete view_;
}

QWidget* RuffleFlashPlayer::Widget() {
    return view_;
}

void RuffleFlashPlayer::StartAfresh(const QString& reason) {
    ++recoveries_;
    LoadPage();
    if (!movie_.isEmpty()) {
        Load(movie_, base_);
        Play();
        // The new engine's movie learns what the old one was last told.
        for (auto it = lastValues_.cbegin(); it != lastValues_.cend(); ++it) {
            SetVariable(it.key(), it.value());
        }
    }
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (EngineRecovered) {
                EngineRecovered(reason);
            }
        },
        Qt::QueuedConnection);
}

void RuffleFlashPlayer::Beat() {
    if (!pageReady_) {
        lastAnswer_.start();  // a page still loading has its own bound
        return;
    }
    if (beatAsked_ && lastAnswer_.hasExpired(options_.unresponsiveMs)) {
        Recover(
            QStringLiteral("the page has not answered for %1 s").arg(lastAnswer_.elapsed() / 1000));
        return;
    }
    if (Visible() && total_ > 0 && !failed_ && lastFrame_.hasExpired(options_.frameStallMs)) {
        Recover(QStringLiteral("the movie %1 has shown no frame for %2 s")
                    .arg(movie_)
                    .arg(lastFrame_.elapsed() / 1000));
        return;
    }
    if (beatAsked_) {
        return;
    }
    beatAsked_ = true;
    view_->page()->runJavaScript(
        QStringLiteral("ticks;"),
        [this, guard = QPointer<RuffleFlashPlayer>(this), load = pageLoads_](const QVariant&) {
            if (guard && load == pageLoads_) {
                beatAsked_ = false;
                lastAnswer_.start();
            }
        });
}

void RuffleFlashPlayer::Recover(const QString& reason) {
    if (!killedFor_.isEmpty()) {
        return;  // already on its way
    }
    qCWarning(lcPlatform).noquote()
        << "flash engine:" << reason + QStringLiteral("; ending its process");
    const qint64 pid = view_->page()->renderProcessPid();
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0) {
        killedFor_ = reason;  // the page's end starts it afresh
        // Should the end not be told, the page starts afresh all the same.
        QTimer::singleShot(options_.unresponsiveMs / 2, this, [this, load = pageLoads_] {
            if (load == pageLoads_ && !killedFor_.isEmpty()) {
                StartAfresh(std::exchange(killedFor_, QString()));
            }
        });
        return;
    }
    qCWarning(lcPlatform).noquote()
        << "flash engine: its process cannot be ended ("
        << (pid > 0 ? qt_error_string(errno) : "no process") << "); loading the page afresh";
    StartAfresh(reason);
}

void RuffleFlashPlayer::LoadPage() {
    beatAsked_ = false;
    lastAnswer_.start();
    lastFrame_.start();
    pageReady_ = false;
    pending_.clear();
    held_.clear();  // told to the page that is replaced, as what it was already sent
    heldTimer_.stop();
    loadsOnPage_ = 0;
    ++pageLoads_;
    pageTimeout_.start(options_.pageTimeoutMs);
    QUrl page = QUrl::fromLocalFile(options_.engineFolder + QStringLiteral("/player.html"));
    page.setQuery(QStringLiteral("renderer=") + options_.renderer);
    view_->load(page);
}

void RuffleFlashPlayer::Run(const QString& script, const QString& key) {
    if (pageReady_ && key.startsWith(kVariableKey)) {
        if (held_.isEmpty() &&
            (!variableSent_.isValid() || variableSent_.hasExpired(kVariableIntervalMs))) {
            variableSent_.start();
            view_->page()->runJavaScript(script);
            return;
        }
        held_.removeIf([&](const auto& entry) { return entry.first == key; });
        held_.append({key, script});
        if (!heldTimer_.isActive()) {
            heldTimer_.start(static_cast<int>(
                std::max<qint64>(0, kVariableIntervalMs - variableSent_.elapsed())));
        }
        return;
    }
    if (pageReady_) {
        SendHeld();  // what the movie was told comes before what it is asked next
        view_->page()->runJavaScript(script);
        return;
    }
    pending_.removeIf([&](const auto& entry) {
        // A new movie also ends what was asked of the one it replaces.
        return entry.first == key || (key == kMovieKey && entry.first.startsWith(kControlKey));
    });
    pending_.append({key, script});
}

void RuffleFlashPlayer::SendHeld() {
    heldTimer_.stop();
    if (held_.isEmpty()) {
        return;
    }
    variableSent_.start();
    for (const auto& [key, script] : std::exchange(held_, {})) {
        view_->page()->runJavaScript(script);
    }
}

void RuffleFlashPlayer::StartFrameBound() {
    awaitingSince_.start();
    lastTicks_ = 0;
    stateAsked_ = false;
    loadTimeout_.start(options_.loadTimeoutMs);
}

// The bound has passed without a frame. An engine that is still loading or still running
// animation frames for the movie (a machine busy with other work), or whose page is too
// busy to answer at once, gets more time, up to loadTimeoutMaxMs; one that has stopped
// moving has failed the movie.
void RuffleFlashPlayer::CheckFirstFrame() {
    if (!AwaitingFirstFrame()) {
        return;
    }
    if (awaitingSince_.hasExpired(options_.loadTimeoutMaxMs)) {
        FirstFrameMissed(stateAsked_ ? QStringLiteral("(no answer)")
                                     : QStringLiteral("(the longest wait has passed)"));
        return;
    }
    loadTimeout_.start(std::clamp(options_.loadTimeoutMs / 2, 1000, 2000));
    if (stateAsked_) {
        return;  // the page is busy with the movie: look again later
    }
    stateAsked_ = true;
    view_->page()->runJavaScript(
        QStringLiteral("dvState();"),
        [this, guard = QPointer<RuffleFlashPlayer>(this), movie = movieId_](const QVariant& v) {
            if (!guard || movie != movieId_ || !AwaitingFirstFrame()) {
                return;
            }
            stateAsked_ = false;
            const QJsonObject state = QJsonDocument::fromJson(v.toString().toUtf8()).object();
            const int ticks = state.value(QStringLiteral("ticks")).toInt();
            const bool moving =
                state.value(QStringLiteral("loading")).toBool() || ticks > lastTicks_;
            lastTicks_ = ticks;
            if (!moving) {
                FirstFrameMissed(v.toString());
            }
        });
}

void RuffleFlashPlayer::FirstFrameMissed(const QString& pageState) {
    // A hidden page draws no frames: that is no fault until the movie is to be shown.
    if (wantVisible_) {
        qCWarning(lcPlatform).noquote() << "flash page state:" << pageState;
    } else {
        qCInfo(lcPlatform).noquote() << "flash page state:" << pageState;
    }
    OnFailed(kAnyMovie,
             QStringLiteral("no frame shown within %1 ms").arg(awaitingSince_.elapsed()));
    // The engine may be stuck: the next movie gets a fresh page.
    loadsOnPage_ = options_.recycleAfterLoads;
}

void RuffleFlashPlayer::OnPageReady(const QString& renderer, const QString& graphics) {
    pageReady_ = true;
    if (renderer != renderer_ || graphics != graphics_) {
        renderer_ = renderer;
        graphics_ = graphics;
        qCInfo(lcPlatform).noquote()
            << "flash engine draws with" << renderer
            << (graphics.isEmpty() ? QString() : "(graphics: " + graphics + ")");
    }
    pageTimeout_.stop();
    // The time a movie has to show its first frame counts from here: a page that loads
    // slowly (a busy machine) does not fail the movie waiting for it.
    if (AwaitingFirstFrame()) {
        StartFrameBound();
    }
    if (wantVisible_ && !Visible()) {
        RunHidden();
    }
    const auto scripts = std::exchange(pending_, {});
    for (const auto& [key, script] : scripts) {
        view_->page()->runJavaScript(script);
    }
}

void RuffleFlashPlayer::SetMovie(const QString& path) {
    Load(path, QString());
}

void RuffleFlashPlayer::SetMovieFrom(const QString& path, const QString& baseFolder) {
    Load(path, HostPathOf(baseFolder));
}

QString RuffleFlashPlayer::HostPathOf(const QString& path) const {
    if (QDir::isRelativePath(path) && !path.contains(':')) {
        return options_.programFolder + '/' + QString(path).replace('\\', '/');
    }
    return options_.hostPath ? options_.hostPath(path).value_or(QString()) : QString();
}

void RuffleFlashPlayer::RaiseForMovie(std::function<void()> event) {
    QMetaObject::invokeMethod(
        this,
        [this, event = std::move(event), movie = movieId_] {
            if (movie == movieId_) {
                event();
            }
        },
        Qt::QueuedConnection);
}

void RuffleFlashPlayer::Load(const QString& path, const QString& base) {
    base_ = base;
    if (loadsOnPage_ >= options_.recycleAfterLoads) {
        qCInfo(lcPlatform).noquote() << "flash engine: the page is loaded afresh for" << path;
        LoadPage();
    }
    ++loadsOnPage_;
    movie_ = path;
    sinceMovie_.start();
    ++movieId_;
    current_ = 0;
    total_ = 0;
    ended_ = false;
    failed_ = false;
    const QString host = HostPathOf(path);
    // Only the start of the file is read here; the engine loads the movie itself.
    QFile file(host);
    QByteArray start;
    if (!host.isEmpty() && file.open(QIODevice::ReadOnly)) {
        start = file.read(swf::kHeaderPrefix);
    }
    const auto header = swf::ReadHeader(start);
    if (!header) {
        // A missing movie shows the stage colour and ends at once; nothing else breaks.
        qCWarning(lcPlatform).noquote() << "not a Flash movie:" << path;
    }
    const QByteArray hostMovie = swf::HostMovie(header.value_or(swf::Header{}));
    const QColor background = header && header->background ? *header->background : Qt::black;
    // The files a movie names are found beside it, or in the folder of the movie it
    // stands in for.
    const QString baseUrl =
        base_.isEmpty() ? QString() : QUrl::fromLocalFile(base_ + '/').toString();
    Run(QStringLiteral("dvLoad(%1, %2, %3, %4, %5);")
            .arg(JsString(QString::fromLatin1(hostMovie.toBase64())),
                 JsString(QUrl::fromLocalFile(host).toString()), JsString(background.name()))
            .arg(movieId_)
            .arg(JsString(baseUrl)),
        kMovieKey);
    if (!header) {
        OnFailed(kAnyMovie, QStringLiteral("not a Flash movie"));
    } else if (pageReady_) {
        StartFrameBound();
    } else {
        loadTimeout_.stop();  // started when the page is ready
    }
}

void RuffleFlashPlayer::Rewind() {
    ended_ = false;
    current_ = std::min(current_, 1);
    Run(QStringLiteral("dvCall('%1');").arg(host_words::kRewind),
        kControlKey + QStringLiteral("rewind"));
}

void RuffleFlashPlayer::Play() {
    Run(QStringLiteral("dvCall('%1');").arg(host_words::kPlay),
        kControlKey + QStringLiteral("play"));
}

void RuffleFlashPlayer::Stop() {
    Run(QStringLiteral("dvCall('%1');").arg(host_words::kStop),
        kControlKey + QStringLiteral("play"));
}

void RuffleFlashPlayer::SetVariable(const QString& name, const QString& value) {
    if (options_.rememberedVariables.contains(name)) {
        lastValues_[name] = value;
    }
    Run(QStringLiteral("dvCall('%1', %2, %3);")
            .arg(QLatin1String(host_words::kSet), JsString(name), JsString(value)),
        kVariableKey + name);
}

int RuffleFlashPlayer::CurrentFrame() {
    if (failed_) {
        return 0;
    }
    if (ended_) {
        return std::max(total_ - 1, 0);
    }
    return std::max(current_ - 1, 0);
}

int RuffleFlashPlayer::TotalFrames() {
    if (failed_) {
        return 1;
    }
    // Until the movie shows its first frame it is not over.
    return total_ > 0 ? total_ : 2;
}

void RuffleFlashPlayer::SetVisible(bool visible) {
    wantVisible_ = visible;
    if (!visible) {
        showTimeout_.stop();
        ShockwaveFlash::SetVisible(false);
        return;
    }
    // Shown once its movie has drawn a frame, so that nothing blank flashes up; until
    // then the page runs as if shown, behind the hidden widget.
    lastFrame_.start();  // a hidden page may not have run its frames
    if (total_ > 0 || failed_) {
        ShockwaveFlash::SetVisible(true);
    } else {
        if (pageReady_) {
            RunHidden();
        }
        showTimeout_.start(1500);
    }
}

void RuffleFlashPlayer::RunHidden() {
    // Only a page that has loaded takes this: one still loading would not run.
    view_->page()->setVisible(true);
}

void RuffleFlashPlayer::ShowIfWanted() {
    if (wantVisible_ && !Visible()) {
        ShockwaveFlash::SetVisible(true);
    }
}

void RuffleFlashPlayer::OnFrame(int movie, const QString& report) {
    if (movie != movieId_) {
        return;  // a late report of a movie that has been replaced since
    }
    const QStringList parts = report.split(',');
    if (parts.size() != 2) {
        return;
    }
    bool currentOk = false, totalOk = false;
    const int current = parts[0].toInt(&currentOk);
    const int total = parts[1].toInt(&totalOk);
    if (!currentOk || !totalOk || total <= 0) {
        return;
    }
    const bool first = total_ == 0;
    lastFrame_.start();
    current_ = current;
    total_ = total;
    if (current >= total) {
        ended_ = true;  // latched until the next Rewind or movie
    }
    if (first) {
        qCInfo(lcPlatform).noquote()
            << "flash: first frame of" << movie_ << "after" << sinceMovie_.elapsed() << "ms";
        loadTimeout_.stop();
        showTimeout_.stop();
        ShowIfWanted();
        RaiseForMovie([this] {
            if (MovieStarted) {
                MovieStarted();
            }
        });
    }
}

void RuffleFlashPlayer::OnFsCommand(const QString& command, const QString& args) {
    if (FSCommand) {
        FSCommand(command, args);
    }
}

void RuffleFlashPlayer::OnFailed(int movie, const QString& reason) {
    if (failed_ || (movie != kAnyMovie && movie != movieId_)) {
        return;
    }
    failed_ = true;
    // A movie in a hidden player (the inserted movie's design-time one) was never on air:
    // it is noted, not warned about.
    if (wantVisible_) {
        qCWarning(lcPlatform).noquote() << "movie" << movie_ << "cannot be played:" << reason;
        ++moviesFailed_;
    } else {
        qCInfo(lcPlatform).noquote()
            << "movie" << movie_ << "in a hidden player cannot be played:" << reason;
    }
    loadTimeout_.stop();
    ShowIfWanted();
    RaiseForMovie([this, reason] {
        if (MovieFailed) {
            MovieFailed(reason);
        }
    });
}

}  // namespace platform

#include "ruffle_flash_player.moc"
