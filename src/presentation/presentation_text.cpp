#include "presentation/presentation_text.h"

#include <QLocale>
#include <QStringList>

#include <cmath>
#include <cstdlib>

namespace presentation {

TailScan ScanTail(const QString& remainder) {
    TailScan scan;
    scan.remainder = remainder;
    for (qsizetype i = 1; i <= remainder.size(); ++i) {
        if (remainder[i - 1] == QLatin1Char('(')) {
            scan.open = i - 1;
        } else if (remainder[i - 1] == QLatin1Char(')')) {
            scan.close = i;
        }
    }
    const qsizetype keep = remainder.size() - (scan.close - scan.open);
    scan.fileName = keep >= remainder.size() ? remainder : remainder.left(keep);
    return scan;
}

namespace {

std::optional<double> ReadNumber(const QString& field) {
    const QString text = field.trimmed();
    bool ok = false;
    double value = QLocale::c().toDouble(text, &ok);
    if (!ok) {
        value = QLocale::system().toDouble(text, &ok);
    }
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::array<double, 4>> PlacementEdges(const TailScan& tail) {
    if (tail.open == 0 || tail.close == 0) {
        return std::nullopt;
    }
    const qsizetype length = tail.close - tail.open - 2;
    if (length < 0) {
        return std::nullopt;  // ")" before "("
    }
    const QStringList fields = tail.remainder.mid(tail.open + 1, length).split(QLatin1Char(','));
    if (fields.size() < 4) {
        return std::nullopt;
    }
    std::array<double, 4> edges{};
    for (int i = 0; i < 4; ++i) {
        const auto value = ReadNumber(fields[i]);
        if (!value) {
            return std::nullopt;
        }
        edges[static_cast<size_t>(i)] = *value;
    }
    return edges;
}

double LeadingNumber(const QString& text) {
    QByteArray number;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) {
            ++i;
        }
    };
    const auto digits = [&] {
        bool any = false;
        for (skipBlanks(); i < text.size() && text[i].isDigit() && text[i].unicode() < 128;
             skipBlanks()) {
            number += static_cast<char>(text[i].unicode());
            ++i;
            any = true;
        }
        return any;
    };
    skipBlanks();
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        number += static_cast<char>(text[i].unicode());
        ++i;
    }
    bool mantissa = digits();
    if (i < text.size() && text[i] == '.') {
        number += '.';
        ++i;
        mantissa = digits() || mantissa;
    }
    if (!mantissa) {
        return 0.0;
    }
    if (i < text.size() && QStringLiteral("eEdD").contains(text[i])) {
        QByteArray exponent = "e";
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == '-' || text[j] == '+')) {
            exponent += static_cast<char>(text[j].unicode());
            ++j;
        }
        const qsizetype first = j;
        while (j < text.size() && text[j].isDigit() && text[j].unicode() < 128) {
            exponent += static_cast<char>(text[j].unicode());
            ++j;
        }
        if (j > first) {
            number += exponent;
        }
    }
    return std::strtod(number.constData(), nullptr);
}

}  // namespace presentation
