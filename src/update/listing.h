#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The site listing: name;stamp;size;name;stamp;size;... on one line.
namespace update {

// The fields of a listing text; an empty text gives none.
QStringList SplitListing(const QString& text);

// The previous listing, for matching: the (name, stamp) of each group that has both.
class PreviousListing {
  public:
    explicit PreviousListing(const QStringList& fields);
    bool Matches(const QString& name, const QString& stamp) const;

  private:
    QSet<QString> entries_;
};

// The size field as a byte count; a field that is not a whole number counts as 0.
qint64 SizeField(const QString& field);

// Where earlier versions collected fetched bodies; what a crash left there is removed at
// start.
inline const QString kStagingFolder = QStringLiteral("c:\\fileftp\\.download");

// A listed name as one segment of an address path: every byte but letters, digits and
// "-._~" percent-encoded, non-ASCII as UTF-8, so the site is asked for exactly that name.
QString AddressSegment(const QString& name);

// Whether a listed name is one the cycle never fetches.
bool IsExcludedName(const QString& name);

}  // namespace update
