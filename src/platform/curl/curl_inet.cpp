#include "platform/curl/curl_inet.h"

#include "platform/file_system.h"

#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <optional>
#include <thread>

namespace platform {

namespace {

constexpr long kMaxRedirects = 10;
constexpr long kBufferBytes = 256 * 1024;
// The body goes to the file in blocks of this size: a line hands it over in pieces of a
// few KiB, and a file system takes a write of one block for a fraction of what it charges
// for the same bytes in pieces that cut across its pages.
constexpr qsizetype kBlockBytes = 256 * 1024;
using Clock = std::chrono::steady_clock;
// Progress is told at most once a frame: a display shows no more, and each report wakes
// the window's thread (on a fast line it would be woken for every piece of every file).
constexpr auto kProgressInterval = std::chrono::milliseconds(20);

void InitialiseCurlOnce() {
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

}  // namespace

// One request at a time, on the transfer thread; everything it learns goes back to its
// CurlInet as a queued report. The caller's thread only hands it commands.
class CurlTransfer {
  public:
    CurlTransfer(CurlInet* owner, CurlInet::Shared& shared, InetLimits limits)
        : owner_(owner), shared_(shared), limits_(std::move(limits)) {
        InitialiseCurlOnce();
        multi_ = curl_multi_init();
        pending_.reserve(kBlockBytes);
        // One connection to a host, kept alive from one fetch to the next.
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 1L);
        thread_ = std::thread([this] { Run(); });
        pthread_setname_np(thread_.native_handle(), "inet");
    }
    ~CurlTransfer() {
        {
            std::lock_guard locked(commands_);
            quit_ = true;
        }
        curl_multi_wakeup(multi_);
        thread_.join();
        curl_multi_cleanup(multi_);
    }

    // From the caller's thread: drop the request in hand (without a report) and start
    // `url`, or only drop it.
    void Start(quint64 generation, const QByteArray& url, int timeoutSeconds,
               const Inet::Conditions& conditions) {
        {
            std::lock_guard locked(commands_);
            stop_ = true;
            next_ = Command{generation, url, timeoutSeconds, conditions};
        }
        curl_multi_wakeup(multi_);
    }
    void Stop() {
        {
            std::lock_guard locked(commands_);
            stop_ = true;
            next_.reset();
        }
        curl_multi_wakeup(multi_);
    }

  private:
    struct Command {
        quint64 generation = 0;
        QByteArray url;
        int timeoutSeconds = 60;
        Inet::Conditions conditions;
    };

    void Run() {
        for (;;) {
            bool stop = false;
            std::optional<Command> next;
            {
                std::lock_guard locked(commands_);
                if (quit_) {
                    break;
                }
                stop = std::exchange(stop_, false);
                next = std::exchange(next_, std::nullopt);
            }
            if (stop) {
                End();
            }
            if (next) {
                Begin(*next);
            }
            if (easy_) {
                Perform();
            }
            curl_multi_poll(multi_, nullptr, 0, !easy_ ? 1000 : untold_ ? 20 : 100, nullptr);
        }
        End();
    }

    void Begin(const Command& command) {
        generation_ = command.generation;
        timeoutSeconds_ = command.timeoutSeconds;
        resumeFrom_ = command.conditions.resumeFrom;
        figures_ = {};
        failure_.reset();
        pending_.resize(0);
        abandoned_ = false;
        announcedKnown_ = false;
        error_[0] = '\0';
        {
            std::lock_guard locked(shared_.lock);
            if (shared_.generation != generation_) {
                return;  // cancelled before it began
            }
        }
        easy_ = curl_easy_init();
        url_ = command.url;
        curl_easy_setopt(easy_, CURLOPT_URL, url_.constData());
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, kBufferBytes);
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
        // Only to http and https, and from https never back to plain http.
        const bool secure = url_.startsWith("https:");
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeoutSeconds_));
        curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        headers_ = Headers(command.conditions);
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
        if (resumeFrom_ > 0) {
            curl_easy_setopt(easy_, CURLOPT_RESUME_FROM_LARGE,
                             static_cast<curl_off_t>(resumeFrom_));
        }
        if (!limits_.caBundle.isEmpty()) {
            caBundle_ = limits_.caBundle.toLocal8Bit();
            curl_easy_setopt(easy_, CURLOPT_CAINFO, caBundle_.constData());
        }
        started_ = lastProgress_ = Clock::now();
        lastTold_ = {};
        untold_ = false;
        curl_multi_add_handle(multi_, easy_);
    }

    // Ends the request in hand, without a report.
    void End() {
        if (!easy_) {
            return;
        }
        curl_multi_remove_handle(multi_, easy_);
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
        curl_slist_free_all(headers_);
        headers_ = nullptr;
    }

    // The request's conditions as headers.
    static curl_slist* Headers(const Inet::Conditions& conditions) {
        curl_slist* list = nullptr;
        const auto add = [&list](const char* name, const QString& value) {
            if (!value.isEmpty()) {
                list = curl_slist_append(list,
                                         (QByteArray(name) + ": " + value.toLatin1()).constData());
            }
        };
        add("If-None-Match", conditions.unlessStill.etag);
        add("If-Modified-Since", conditions.unlessStill.lastModified);
        if (conditions.resumeFrom > 0) {
            add("If-Range", conditions.resumeIf.etag.isEmpty() ? conditions.resumeIf.lastModified
                                                               : conditions.resumeIf.etag);
        }
        return list;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        static_cast<CurlTransfer*>(self)->Header(
            QByteArray(data, static_cast<qsizetype>(size * count)));
        return size * count;
    }

    // The validators of the last response (a redirect's answer is followed by another).
    void Header(const QByteArray& line) {
        if (line.startsWith("HTTP/")) {
            figures_.validators = {};
            return;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) {
            return;
        }
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QString value = QString::fromLatin1(line.mid(colon + 1).trimmed());
        if (name == "etag") {
            figures_.validators.etag = value;
        } else if (name == "last-modified") {
            figures_.validators.lastModified = value;
        }
    }

    void Perform() {
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
                Finish(message->data.result);
            }
        }
        if (!easy_) {
            return;
        }
        const auto now = Clock::now();
        TellProgress(now);
        const bool stalled = now - lastProgress_ >= std::chrono::seconds(timeoutSeconds_);
        const bool overdue = now - started_ >= std::chrono::seconds(limits_.deadlineSeconds);
        if (!stalled && !overdue) {
            return;
        }
        HandOverPending();  // a part that is kept holds every byte that came
        if (failure_) {
            Fail(*failure_);
        } else if (stalled) {
            Fail(Fail(QStringLiteral("no progress for %1 s after %2 bytes")
                          .arg(timeoutSeconds_)
                          .arg(figures_.received)));
        } else {
            Fail(Fail(QStringLiteral("not complete after %1 s").arg(limits_.deadlineSeconds)));
        }
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        return static_cast<CurlTransfer*>(self)->Body(data, size * count);
    }

    // Writes a piece of the body; 0 ends the transfer (cancelled, or a bound or a write
    // failed: failure_ says which).
    size_t Body(const char* data, size_t size) {
        {
            std::lock_guard locked(shared_.lock);
            if (shared_.generation != generation_) {
                abandoned_ = true;  // cancelled: its writer may be gone
                return 0;
            }
            FileWriter* writer = shared_.writer;
            if (!announcedKnown_) {
                announcedKnown_ = true;
                // The rest was asked for: anything but the rest must not join what is there.
                long code = 0;
                curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
                if (resumeFrom_ > 0 && code != 206) {
                    failure_ = WholeAgain(code);
                    return 0;
                }
                ReadAnnounced();
                // A body announced larger than the disk may take is not fetched at all.
                if (figures_.announced >= 0 && writer) {
                    if (const auto fits = writer->Fits(figures_.announced); !fits) {
                        failure_ = fits.failure();
                        return 0;
                    }
                }
            }
            if (writer) {
                if (const auto written = Gather(writer, data, static_cast<qint64>(size));
                    !written) {
                    failure_ = written.failure();
                    return 0;
                }
            } else {
                figures_.received += static_cast<qint64>(size);
            }
            if (figures_.announced < 0 &&
                figures_.received + pending_.size() > limits_.maxUnannouncedBytes) {
                failure_ = Fail(QStringLiteral("a body without a length passed %1 bytes")
                                    .arg(limits_.maxUnannouncedBytes));
                return 0;
            }
        }
        lastProgress_ = Clock::now();
        untold_ = true;
        TellProgress(lastProgress_);
        return size;
    }

    // Adds a piece of the body to the block in hand, and writes the block once full.
    // Under the shared lock.
    Result<> Gather(FileWriter* writer, const char* data, qint64 size) {
        while (size > 0) {
            const qint64 take = std::min<qint64>(size, kBlockBytes - pending_.size());
            pending_.append(data, static_cast<qsizetype>(take));
            data += take;
            size -= take;
            if (pending_.size() == kBlockBytes) {
                if (const auto written = WritePending(writer); !written) {
                    return written;
                }
            }
        }
        return {};
    }
    Result<> WritePending(FileWriter* writer) {
        if (pending_.isEmpty()) {
            return {};
        }
        const Result<> written = writer->Write(pending_.constData(), pending_.size());
        if (written) {
            figures_.received += pending_.size();
        }
        pending_.resize(0);  // the block's memory stays for the next
        return written;
    }
    // Writes the part of a block in hand, for a report or at the end of the transfer;
    // a failure ends the transfer with it.
    void HandOverPending() {
        if (pending_.isEmpty() || failure_) {
            return;
        }
        std::lock_guard locked(shared_.lock);
        if (shared_.generation != generation_ || !shared_.writer) {
            pending_.resize(0);  // cancelled: its writer may be gone
            return;
        }
        if (const auto written = WritePending(shared_.writer); !written) {
            failure_ = written.failure();
        }
    }

    // Reports what was written since the last report, once a frame at most; one report
    // for however many pieces arrive before the program looks. What the block in hand
    // holds is written first, so that the progress is the file's, on a slow line too.
    void TellProgress(Clock::time_point now) {
        if (!untold_ || now - lastTold_ < kProgressInterval ||
            shared_.progressQueued.exchange(true)) {
            return;
        }
        untold_ = false;
        lastTold_ = now;
        HandOverPending();
        Report(kInetReceivingResponse);
    }

    // The length the response announced, or -1.
    void ReadAnnounced() {
        curl_off_t length = -1;
        curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        figures_.announced = length >= 0 ? length : -1;
    }

    void Finish(CURLcode result) {
        if (abandoned_) {
            End();
            return;
        }
        HandOverPending();  // also of a transfer that broke: its part is kept whole
        if (failure_) {
            Fail(*failure_);
            return;
        }
        long code = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
        figures_.code = static_cast<int>(code);
        if (!announcedKnown_) {
            ReadAnnounced();
        }
        // An HTTP error status still brings a response: the caller judges its status.
        if (result == CURLE_RANGE_ERROR || (resumeFrom_ > 0 && code != 206 && code != 0)) {
            Report(WholeAgain(code));
        } else if (result == CURLE_OK && code != 0) {
            Report(kInetResponseReceived);
        } else {
            Report(Fail(QString::fromLocal8Bit(error_[0] ? error_ : curl_easy_strerror(result))));
        }
        End();
    }

    void Fail(const Failure& failure) {
        End();
        Report(failure);
    }
    static Failure Fail(const QString& reason) { return platform::Fail(reason); }
    static Failure WholeAgain(long code) {
        return platform::Fail(
            QStringLiteral("the rest was asked for, and the answer was %1").arg(code),
            FailureKind::kWholeAgain);
    }

    void Report(const Result<int>& state) {
        QMetaObject::invokeMethod(
            owner_,
            [owner = owner_, generation = generation_, state, figures = figures_] {
                owner->Deliver(generation, state, figures);
            },
            Qt::QueuedConnection);
    }

    CurlInet* owner_;
    CurlInet::Shared& shared_;
    const InetLimits limits_;
    CURLM* multi_ = nullptr;
    std::thread thread_;

    std::mutex commands_;
    bool quit_ = false;
    bool stop_ = false;
    std::optional<Command> next_;

    // The request in hand; only the transfer thread touches these.
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    qint64 resumeFrom_ = 0;
    QByteArray url_, caBundle_;
    char error_[CURL_ERROR_SIZE] = {};
    quint64 generation_ = 0;
    int timeoutSeconds_ = 60;
    Clock::time_point started_, lastProgress_, lastTold_;
    bool untold_ = false;  // written since the last progress report
    CurlInet::Figures figures_;
    std::optional<Failure> failure_;
    QByteArray pending_;  // the body's block in hand, not yet written
    bool abandoned_ = false;
    bool announcedKnown_ = false;
};

CurlInet::CurlInet() : CurlInet(InetLimits{}) {}

CurlInet::CurlInet(InetLimits limits)
    : transfer_(std::make_unique<CurlTransfer>(this, shared_, std::move(limits))) {}

CurlInet::~CurlInet() {
    Cancel();
    transfer_.reset();
}

void CurlInet::SetRequestTimeout(int seconds) {
    timeoutSeconds_ = seconds > 0 ? seconds : 60;
}

void CurlInet::SetBodyWriter(FileWriter* writer) {
    std::lock_guard locked(shared_.lock);
    shared_.writer = writer;
}

void CurlInet::Execute(const QString& url, const QString& operation) {
    const Conditions conditions = std::exchange(conditions_, Conditions{});
    Cancel();  // what the previous request still has queued is dropped
    code_ = 0;
    announced_ = -1;
    received_ = 0;
    validators_ = {};
    if (operation != QLatin1String("GET")) {
        Report(platform::Fail(QStringLiteral("unsupported operation ") + operation));
        return;
    }
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        Report(platform::Fail(QStringLiteral("not an http or https address: ") + url));
        return;
    }
    transfer_->Start(generation_, address.toEncoded(), timeoutSeconds_, conditions);
}

void CurlInet::Cancel() {
    {
        std::lock_guard locked(shared_.lock);
        shared_.generation = ++generation_;
    }
    shared_.progressQueued = false;
    transfer_->Stop();
}

void CurlInet::Deliver(quint64 generation, const Result<int>& state, Figures figures) {
    if (state && *state == kInetReceivingResponse) {
        shared_.progressQueued = false;
    }
    if (generation != generation_) {
        return;
    }
    received_ = figures.received;
    code_ = figures.code;
    announced_ = figures.announced;
    validators_ = figures.validators;
    if (StateChanged) {
        StateChanged(state);
    }
}

void CurlInet::Report(const Result<int>& state) {
    QMetaObject::invokeMethod(
        this,
        [this, state, generation = generation_] {
            Deliver(generation, state, {0, code_, announced_, validators_});
        },
        Qt::QueuedConnection);
}

}  // namespace platform
