#include "platform/qt/qt_settings_store.h"

#include "platform/log.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QUrl>

namespace platform {

namespace {

bool IsWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

// Keeps a configured value only when it is what its key asks for; anything else is
// reported once and left empty, so that it is never fetched.
void Check(QString& value, const char* key, bool valid) {
    if (!valid) {
        qCWarning(lcApp).noquote()
            << "[endpoints]" << key << "is not an http or https address; not fetched:" << value;
        value.clear();
    }
}

}  // namespace

QtSettingsStore::QtSettingsStore(QString folder) : folder_(std::move(folder)) {
    writes_.setMaxThreadCount(1);
}

QtSettingsStore::~QtSettingsStore() {
    Flush();
}

void QtSettingsStore::Flush() {
    writes_.waitForDone();
}

QString QtSettingsStore::DefaultFolder() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : xdg;
}

QString QtSettingsStore::FilePath(const QString& app) const {
    return folder_ + '/' + app + '/' + app + QStringLiteral(".conf");
}

Result<std::optional<QString>> QtSettingsStore::Get(const QString& app, const QString& section,
                                                    const QString& key) {
    const QString path = FilePath(app);
    QFileInfo info(path);
    if (info.exists() && !info.isReadable()) {
        return Fail(QStringLiteral("cannot read ") + path);
    }
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        return Fail(QStringLiteral("cannot read ") + path);
    }
    const QString full = section + '/' + key;
    {
        QMutexLocker locked(&lock_);
        if (const auto it = pending_.constFind(path + '|' + full); it != pending_.cend()) {
            return std::optional<QString>(*it);
        }
    }
    if (!settings.contains(full)) {
        return std::optional<QString>();
    }
    // A value written by hand with commas and no quotes is read by QSettings as a list:
    // it is the text as written.
    const QVariant value = settings.value(full);
    return std::optional<QString>(value.typeId() == QMetaType::QStringList
                                      ? value.toStringList().join(QStringLiteral(", "))
                                      : value.toString());
}

Result<> QtSettingsStore::Set(const QString& app, const QString& section, const QString& key,
                              const QString& value) {
    const QString path = FilePath(app);
    const QString full = section + '/' + key;
    {
        QMutexLocker locked(&lock_);
        pending_[path + '|' + full] = value;
    }
    writes_.start([this, path, full, value] {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(full, value);
        settings.sync();  // the display may lose power at any moment
        if (settings.status() != QSettings::NoError) {
            qCWarning(lcSettings).noquote() << "cannot store" << full << ": cannot write" << path;
        }
        QMutexLocker locked(&lock_);
        if (const auto it = pending_.find(path + '|' + full);
            it != pending_.end() && *it == value) {
            pending_.erase(it);
        }
    });
    return {};
}

Endpoints QtSettingsStore::ReadEndpoints(const QString& app) const {
    Endpoints endpoints = Endpoints::Defaults();
    QSettings settings(FilePath(app), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("endpoints"));
    endpoints.siteHost = settings.value("site_host", endpoints.siteHost).toString();
    endpoints.weatherUrl = settings.value("weather_url", endpoints.weatherUrl).toString();
    endpoints.radioUrl = settings.value("radio_url", endpoints.radioUrl).toString();
    const QUrl site(QStringLiteral("http://") + endpoints.siteHost, QUrl::StrictMode);
    Check(endpoints.siteHost, "site_host",
          IsWebAddress(site) && site.path().isEmpty() && site.userInfo().isEmpty() &&
              !site.hasQuery() && !site.hasFragment());
    Check(endpoints.weatherUrl, "weather_url",
          IsWebAddress(QUrl(endpoints.weatherUrl, QUrl::StrictMode)));
    Check(endpoints.radioUrl, "radio_url",
          IsWebAddress(QUrl(endpoints.radioUrl, QUrl::StrictMode)));
    return endpoints;
}

}  // namespace platform
