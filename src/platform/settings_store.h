#pragma once

#include "platform/result.h"

#include <QString>

#include <optional>

namespace platform {

// The per-user store of text values, addressed by application, section and key.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // An absent key gives std::nullopt; a store that cannot be read fails.
    virtual Result<std::optional<QString>> Get(const QString& app, const QString& section,
                                               const QString& key) = 0;
    // Creates the key or replaces its value.
    virtual Result<> Set(const QString& app, const QString& section, const QString& key,
                         const QString& value) = 0;
};

// The addresses of the outside world that the station configures.
struct Endpoints {
    QString siteHost;    // host of the content site, optionally with ":port"
    QString weatherUrl;  // whole address of the weather banner picture
    QString radioUrl;    // whole address of the radio playlist

    static Endpoints Defaults();
};

}  // namespace platform
