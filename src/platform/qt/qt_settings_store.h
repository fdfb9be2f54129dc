#pragma once

#include "platform/settings_store.h"

#include <QHash>
#include <QMutex>
#include <QThreadPool>

namespace platform {

// The settings store in one INI file per application: section = group, key = key.
// A value set is stored on a worker of the store's own, in the order set, and put on the
// disk there (a slow card never holds the caller); until then Get gives it. A store that
// fails is reported in the log.
class QtSettingsStore : public SettingsStore {
  public:
    // `folder` holds "<app>/<app>.conf"; normally $XDG_CONFIG_HOME.
    explicit QtSettingsStore(QString folder);
    ~QtSettingsStore() override;  // waits for the values still to be stored
    Result<std::optional<QString>> Get(const QString& app, const QString& section,
                                       const QString& key) override;
    Result<> Set(const QString& app, const QString& section, const QString& key,
                 const QString& value) override;

    QString FilePath(const QString& app) const;
    // The configured endpoints from group "endpoints", defaults where a key is absent.
    Endpoints ReadEndpoints(const QString& app) const;
    // $XDG_CONFIG_HOME, or ~/.config.
    static QString DefaultFolder();

    // Waits until every value set so far is stored.
    void Flush();

  private:
    QString folder_;
    QMutex lock_;
    QHash<QString, QString> pending_;  // "path|section/key" = value, set but not yet stored
    QThreadPool writes_;
};

}  // namespace platform
