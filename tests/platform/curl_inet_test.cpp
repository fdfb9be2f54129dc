// The HTTP client against real servers on loopback: plain http, https with a certificate
// of the test's own authority, a forward proxy from the environment, and redirects.
#include "platform/curl/curl_inet.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"
#include "support/content_site.h"
#include "support/test_rig.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>

namespace {

class MemoryWriter : public platform::FileWriter {
  public:
    platform::Result<> Write(const char* data, qint64 size) override {
        std::lock_guard locked(lock_);
        bytes_.append(data, size);
        return {};
    }
    QByteArray Bytes() {
        std::lock_guard locked(lock_);
        return bytes_;
    }

  private:
    std::mutex lock_;
    QByteArray bytes_;
};

struct Fetched {
    platform::Result<int> end = platform::Fail("no end");
    QByteArray body;
    int code = 0;
};

Fetched Fetch(platform::Inet& inet, const QString& url,
              const std::function<void()>& progress = {}) {
    Fetched fetched;
    MemoryWriter writer;
    bool done = false;
    inet.StateChanged = [&](const platform::Result<int>& state) {
        if (state && *state == platform::kInetReceivingResponse && progress) {
            progress();
        }
        if (!state || *state == platform::kInetResponseReceived) {
            fetched.end = state;
            done = true;
        }
    };
    inet.SetBodyWriter(&writer);
    inet.Execute(url, "GET");
    platform::WaitUntil([&] { return done; }, nullptr, 20000);
    inet.Cancel();
    inet.SetBodyWriter(nullptr);
    fetched.body = writer.Bytes();
    fetched.code = inet.ResponseCode();
    return fetched;
}

// A certificate authority of the test's own, and a certificate it signed for 127.0.0.1.
struct Authority {
    Authority() {
        const QString d = dir.path();
        const auto run = [&](const QStringList& args) {
            QProcess openssl;
            openssl.setWorkingDirectory(d);
            openssl.start("openssl", args);
            openssl.waitForFinished(30000);
            return openssl.exitCode() == 0;
        };
        QFile ext(d + "/ext.cnf");
        ext.open(QIODevice::WriteOnly);
        ext.write("subjectAltName=IP:127.0.0.1\n");
        ext.close();
        ok = run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                  "/CN=dravonelle test authority", "-keyout", "ca.key", "-out", "ca.pem"}) &&
             run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                  "site.key", "-out", "site.csr"}) &&
             run({"x509", "-req", "-in", "site.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                  "-CAcreateserial", "-days", "2", "-extfile", "ext.cnf", "-out", "site.pem"});
    }
    QString Path(const char* name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir;
    bool ok = false;
};

QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 31 % 253);
    }
    return bytes;
}

QString RequestLog(const ContentSite& site) {
    QFile file(site.State() + "/requests.log");
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

void Fault(const ContentSite& site, const QString& path, const QString& action) {
    QFile file(site.State() + "/faults");
    file.open(QIODevice::Append);
    file.write((path + " " + action + "\n").toUtf8());
}

TEST(CurlInet, FetchesOverHttpHttpsAndThroughAProxy) {
    Authority authority;
    ASSERT_TRUE(authority.ok) << "openssl could not make the test's certificates";
    ContentSite plain;
    ContentSite secure({"--tls", authority.Path("site.pem"), authority.Path("site.key")});
    ContentSite proxy({"--proxy"});
    ASSERT_TRUE(plain.Port() && secure.Port() && proxy.Port());
    const QByteArray body = Pattern(700000);
    plain.File("test/x.bin", body);
    secure.File("test/x.bin", body);
    const QString http = "http://127.0.0.1:" + QString::number(plain.Port()) + "/test/";
    const QString https = "https://127.0.0.1:" + QString::number(secure.Port()) + "/test/";
    Fault(plain, "/test/moved.bin", "redirect:" + http + "x.bin");
    Fault(secure, "/test/down.bin", "redirect:" + http + "x.bin");

    platform::InetLimits trusting;
    trusting.caBundle = authority.Path("ca.pem");
    platform::CurlInet inet(trusting);
    platform::CurlInet systemOnly;
    struct Case {
        const char* what;
        platform::Inet* client;
        QString url;
        bool fetched;
        const char* reason;  // the start of the failure's reason
    } cases[] = {
        {"http", &inet, http + "x.bin", true, ""},
        {"https, the authority trusted", &inet, https + "x.bin", true, ""},
        {"https, only the system's authorities", &systemOnly, https + "x.bin", false, "SSL"},
        {"a redirect", &inet, http + "moved.bin", true, ""},
        {"a redirect from https to http", &inet, https + "down.bin", false, ""},
        {"no server", &inet, "http://127.0.0.1:9/x.bin", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Fetched got = Fetch(*c.client, c.url);
        EXPECT_EQ(got.end.ok(), c.fetched) << got.end.reason().toStdString();
        if (c.fetched) {
            EXPECT_EQ(got.code, 200);
            EXPECT_TRUE(got.body == body) << got.body.size();
        } else {
            EXPECT_TRUE(got.end.reason().contains(c.reason)) << got.end.reason().toStdString();
        }
    }

    // The proxy named in the environment, as a station's network may want.
    qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.Port()));
    platform::CurlInet proxied;
    const Fetched got = Fetch(proxied, http + "x.bin");
    qunsetenv("http_proxy");
    EXPECT_TRUE(got.end.ok()) << got.end.reason().toStdString();
    EXPECT_TRUE(got.body == body);
    EXPECT_TRUE(RequestLog(proxy).contains("proxy " + http + "x.bin"))
        << RequestLog(proxy).toStdString();
}

// Progress is told while a body comes, but a fast one does not wake the program for each of
// its pieces: at most once a frame (20 ms), whatever the line's speed.
TEST(CurlInet, TellsProgressWhileTheBodyComesAtMostOnceAFrame) {
    ContentSite site;
    ASSERT_TRUE(site.Port());
    const QByteArray big = Pattern(24 << 20);
    site.File("test/big.bin", big);
    site.File("test/slow.bin", Pattern(100000));
    Fault(site, "/test/slow.bin", "slow");  // in ten pieces a tenth of a second apart
    const QString http = "http://127.0.0.1:" + QString::number(site.Port()) + "/test/";
    platform::CurlInet inet;

    int told = 0;
    const auto start = std::chrono::steady_clock::now();
    const Fetched fast = Fetch(inet, http + "big.bin", [&] { ++told; });
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_TRUE(fast.end.ok() && fast.body == big) << fast.body.size();
    EXPECT_LE(told, ms / 20 + 2) << "in " << ms << " ms";

    QList<qint64> seen;  // what the program was told had come, report by report
    const Fetched slow = Fetch(inet, http + "slow.bin", [&] { seen << inet.BodyBytes(); });
    EXPECT_TRUE(slow.end.ok()) << slow.end.reason().toStdString();
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) && !seen.contains(0));
    EXPECT_GE(std::count_if(seen.begin(), seen.end(), [](qint64 n) { return n < 100000; }), 3)
        << seen.size() << " reports";
}

}  // namespace
