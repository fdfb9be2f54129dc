#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

// A closed set of values, each with the word that stands for it in files, answers and
// logs: an enum and a table of (value, word) with each value at its own place.
namespace words {

template <typename E, std::size_t N>
using Table = std::array<std::pair<E, const char*>, N>;

// Whether each value stands at its own place, so that Word() can index.
template <typename E, std::size_t N>
constexpr bool InOrder(const Table<E, N>& table) {
    for (std::size_t i = 0; i < N; ++i) {
        if (static_cast<std::size_t>(table[i].first) != i) {
            return false;
        }
    }
    return true;
}

template <typename E, std::size_t N>
QString Word(const Table<E, N>& table, E value) {
    return QString::fromLatin1(table[static_cast<std::size_t>(value)].second);
}

template <typename E, std::size_t N>
std::optional<E> Find(const Table<E, N>& table, QStringView word) {
    for (const auto& [value, text] : table) {
        if (word == QLatin1String(text)) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace words
