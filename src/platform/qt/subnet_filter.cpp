#include "platform/qt/subnet_filter.h"

#include <QRegularExpression>

#include <algorithm>

namespace platform {

QHostAddress PlainAddress(const QHostAddress& address) {
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4) : address;
}

SubnetFilter::SubnetFilter(const QString& entries, QStringList* malformed) {
    for (const QString& raw : entries.split(',', Qt::SkipEmptyParts)) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty()) {
            continue;
        }
        const auto subnet = entry.contains('/') ? QHostAddress::parseSubnet(entry)
                                                : QPair<QHostAddress, int>(QHostAddress(entry), -1);
        // IPv4 in full dotted form only: "1.2.3" would otherwise mean 1.2.0.3.
        static const QRegularExpression dottedQuad(
            QStringLiteral(R"(^\d{1,3}(\.\d{1,3}){3}(/\d+)?$)"));
        if (subnet.first.isNull() ||
            (!entry.contains(':') && !dottedQuad.match(entry).hasMatch())) {
            if (malformed) {
                malformed->append(entry);
            }
            continue;
        }
        const QHostAddress address = PlainAddress(subnet.first);
        const int whole = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        subnets_.append({address, subnet.second < 0 ? whole : subnet.second});
    }
}

std::unique_ptr<AddressFilter> SubnetFilter::FromSetting(const QVariant& value,
                                                         QStringList* malformed) {
    const QString entries = value.toStringList().join(',');
    if (entries.trimmed().isEmpty()) {
        return nullptr;
    }
    return std::make_unique<SubnetFilter>(entries, malformed);
}

bool SubnetFilter::Allows(const QString& address) const {
    const QHostAddress peer = PlainAddress(QHostAddress(address));
    if (peer.isNull()) {
        return false;
    }
    return std::any_of(subnets_.cbegin(), subnets_.cend(),
                       [&](const auto& subnet) { return peer.isInSubnet(subnet); });
}

}  // namespace platform
