#pragma once

#include <QString>

#include <array>
#include <optional>

// The text rules of the movie's command arguments.
namespace presentation {

// The remainder of a "film" or "mp3" argument: a file name, optionally followed by a
// group in parentheses. `open` is the position before the last "(", `close` that of the
// last ")", both counted from 1 and 0 when absent.
struct TailScan {
    QString remainder;
    qsizetype open = 0;
    qsizetype close = 0;
    QString fileName;
};
TailScan ScanTail(const QString& remainder);

// The four edges (left, top, right, bottom, in percent of the window) of a placement
// group; nullopt when the group is absent or does not give four finite numbers.
std::optional<std::array<double, 4>> PlacementEdges(const TailScan& tail);

// The number at the start of `text`: blanks, tabs and line feeds are skipped, reading
// stops at the first character that cannot continue a decimal number ("." is the decimal
// point), and text without a leading number reads as 0.
double LeadingNumber(const QString& text);

}  // namespace presentation
