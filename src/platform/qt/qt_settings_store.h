#pragma once

#include "platform/settings_store.h"

namespace platform {

// The settings store in one INI file per application: section = group, key = key.
class QtSettingsStore : public SettingsStore {
  public:
    // `folder` holds "<app>/<app>.conf"; normally $XDG_CONFIG_HOME.
    explicit QtSettingsStore(QString folder);
    Result<std::optional<QString>> Get(const QString& app, const QString& section,
                                       const QString& key) override;
    Result<> Set(const QString& app, const QString& section, const QString& key,
                 const QString& value) override;

    QString FilePath(const QString& app) const;
    // The configured endpoints from group "endpoints", defaults where a key is absent.
    Endpoints ReadEndpoints(const QString& app) const;
    // $XDG_CONFIG_HOME, or ~/.config.
    static QString DefaultFolder();

  private:
    QString folder_;
};

}  // namespace platform
