#include "platform/vlc/playlist.h"

#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>

namespace platform::playlist {

namespace {

QString Decode(QByteArray bytes) {
    bytes.truncate(kMaxBytes);
    const auto encoding = QStringConverter::encodingForData(bytes);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    return decoder.decode(bytes);
}

QString Unescape(QString text) {
    static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9a-fA-F]{1,6});"));
    QString out;
    qsizetype from = 0;
    for (auto it = numeric.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        out += text.mid(from, match.capturedStart() - from);
        bool ok = false;
        const uint code = match.captured(2).toUInt(&ok, match.captured(1).isEmpty() ? 10 : 16);
        if (ok && code > 0 && code < 0x110000) {
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
        }
        from = match.capturedEnd();
    }
    out += text.mid(from);
    out.replace(QLatin1String("&lt;"), QLatin1String("<"), Qt::CaseInsensitive);
    out.replace(QLatin1String("&gt;"), QLatin1String(">"), Qt::CaseInsensitive);
    out.replace(QLatin1String("&quot;"), QLatin1String("\""), Qt::CaseInsensitive);
    out.replace(QLatin1String("&apos;"), QLatin1String("'"), Qt::CaseInsensitive);
    out.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive);
    return out;
}

// Collects items within the bounds.
class Items {
  public:
    explicit Items(const QUrl& base) : base_(base) {}
    // Adds an address to `item`; false when it is not one a playlist may name.
    bool Add(QStringList& item, const QString& reference) const {
        const QString trimmed = reference.trimmed();
        if (trimmed.isEmpty() || item.size() >= kMaxAlternatives) {
            return false;
        }
        const QUrl url = base_.resolved(QUrl(trimmed));
        if (!url.isValid() || !IsStreamAddress(url)) {
            return false;
        }
        item.append(url.toString());
        return true;
    }
    void Close(QStringList& item) {
        if (!item.isEmpty() && list_.size() < kMaxItems) {
            list_.append(item);
        }
        item.clear();
    }
    void AddItem(const QString& reference) {
        QStringList item;
        Add(item, reference);
        Close(item);
    }
    QList<QStringList> Take() { return std::move(list_); }

  private:
    QUrl base_;
    QList<QStringList> list_;
};

// The text without its comments; an unclosed comment runs to the end.
QString WithoutComments(const QString& text) {
    QString out;
    qsizetype from = 0;
    for (qsizetype open; (open = text.indexOf(QLatin1String("<!--"), from)) >= 0;) {
        out += text.mid(from, open - from);
        const qsizetype close = text.indexOf(QLatin1String("-->"), open + 4);
        if (close < 0) {
            return out;
        }
        from = close + 3;
    }
    return out + text.mid(from);
}

QList<QStringList> ParseAsx(const QString& text, const QUrl& base) {
    // A tag runs to its '>' without another '<' on the way, so that no text is scanned
    // more than twice, whatever it holds.
    static const QRegularExpression tag(QStringLiteral("<\\s*(/?)\\s*([A-Za-z]+)([^<>]*)>"));
    static const QRegularExpression href(
        QStringLiteral("\\bhref\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QString body = WithoutComments(text);
    Items items(base);
    QStringList entry;
    bool inEntry = false;
    for (auto it = tag.globalMatch(body); it.hasNext();) {
        const auto match = it.next();
        const bool closing = !match.captured(1).isEmpty();
        const QString name = match.captured(2).toLower();
        if (name == QLatin1String("entry")) {
            items.Close(entry);  // an entry left open ends where the next begins
            inEntry = !closing;
            continue;
        }
        if (closing || (name != QLatin1String("ref") && name != QLatin1String("entryref"))) {
            continue;
        }
        const auto address = href.match(match.captured(3));
        if (!address.hasMatch()) {
            continue;
        }
        QString reference;
        for (int group = 1; group <= 3; ++group) {
            reference += address.captured(group);
        }
        reference = Unescape(reference);
        if (name == QLatin1String("ref") && inEntry) {
            items.Add(entry, reference);
        } else {
            // A nested playlist, or a reference outside any entry: an item of its own.
            items.Close(entry);
            items.AddItem(reference);
        }
    }
    items.Close(entry);
    return items.Take();
}

// "key=value" lines; keys "<prefix><number>" in the order of their numbers.
QList<QString> NumberedValues(const QString& text, const QString& prefix) {
    QMap<int, QString> values;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        const qsizetype equals = line.indexOf('=');
        const QString key = line.left(equals).trimmed();
        if (equals < 0 || !key.startsWith(prefix, Qt::CaseInsensitive)) {
            continue;
        }
        bool ok = false;
        const int number = key.mid(prefix.size()).toInt(&ok);
        if (ok && !values.contains(number) && values.size() < kMaxItems * kMaxAlternatives) {
            values.insert(number, line.mid(equals + 1));
        }
    }
    return values.values();
}

QList<QStringList> ParseM3u(const QString& text, const QUrl& base) {
    Items items(base);
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#')) {
            items.AddItem(line);
        }
    }
    return items.Take();
}

}  // namespace

bool IsStreamAddress(const QUrl& url) {
    static const QStringList schemes = {"http", "https", "mms", "mmsh", "mmst", "mmsu", "rtsp"};
    return schemes.contains(url.scheme().toLower()) && !url.host().isEmpty();
}

std::optional<Kind> Recognise(const QByteArray& start, const QString& contentType,
                              const QString& path) {
    const QString text = Decode(start.left(kSniffBytes)).trimmed();
    if (text.contains(QChar(0))) {
        return std::nullopt;  // binary: a stream
    }
    if (text.startsWith('<') && text.contains(QLatin1String("<asx"), Qt::CaseInsensitive)) {
        return Kind::kAsx;
    }
    if (text.startsWith(QLatin1String("[playlist]"), Qt::CaseInsensitive)) {
        return Kind::kPls;
    }
    if (text.startsWith(QLatin1String("[reference]"), Qt::CaseInsensitive)) {
        return Kind::kReference;
    }
    if (text.contains(QLatin1String("#EXT-X-"), Qt::CaseInsensitive)) {
        return std::nullopt;  // HLS: the engine plays it itself
    }
    if (text.startsWith(QLatin1String("#EXTM3U"), Qt::CaseInsensitive)) {
        return Kind::kM3u;
    }
    const bool m3uNamed = contentType.contains(QLatin1String("mpegurl"), Qt::CaseInsensitive) ||
                          path.endsWith(QLatin1String(".m3u"), Qt::CaseInsensitive) ||
                          path.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive);
    if (m3uNamed && !text.isEmpty() && !text.contains(QChar::ReplacementCharacter)) {
        return Kind::kM3u;
    }
    return std::nullopt;
}

QList<QStringList> Parse(Kind kind, const QByteArray& bytes, const QUrl& base) {
    const QString text = Decode(bytes);
    switch (kind) {
        case Kind::kAsx:
            return ParseAsx(text, base);
        case Kind::kM3u:
            return ParseM3u(text, base);
        case Kind::kPls: {
            Items items(base);
            for (const QString& file : NumberedValues(text, QStringLiteral("File"))) {
                items.AddItem(file);
            }
            return items.Take();
        }
        case Kind::kReference: {
            // The references of a Windows Media server are alternatives for one stream.
            Items items(base);
            QStringList item;
            for (const QString& reference : NumberedValues(text, QStringLiteral("Ref"))) {
                items.Add(item, reference);
            }
            items.Close(item);
            return items.Take();
        }
    }
    return {};
}

}  // namespace platform::playlist
