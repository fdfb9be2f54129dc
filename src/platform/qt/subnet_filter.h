#pragma once

#include "platform/sockets.h"

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace platform {

// An IPv4 address mapped into IPv6 ("::ffff:10.0.0.1") as the plain IPv4 address it is,
// as a dual-stack listener's IPv4 peers come.
QHostAddress PlainAddress(const QHostAddress& address);

// An allow-list from the entries of a comma-separated setting, for the push server and the
// status server alike. Malformed entries are left
// out and returned in `malformed`; a list left empty by them allows no one.
class SubnetFilter : public AddressFilter {
  public:
    explicit SubnetFilter(const QString& entries, QStringList* malformed = nullptr);
    // The filter of a setting as QSettings reads it (a value with commas is a list);
    // none when the setting is absent or empty, which allows anyone.
    static std::unique_ptr<AddressFilter> FromSetting(const QVariant& value,
                                                      QStringList* malformed);
    bool Allows(const QString& address) const override;

  private:
    QList<QPair<QHostAddress, int>> subnets_;
};

}  // namespace platform
