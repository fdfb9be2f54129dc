#pragma once

#include <QString>
#include <QStringList>

// The main movie's interface: the variables through which the program answers its
// commands. (The commands themselves, and their arguments, are read in
// src/presentation/.)
namespace movie {

// An inserted movie, film or sound file: "begin" when it starts, "klaar" when it is over
// (or could not start).
inline const QString kFilm = QStringLiteral("film");
// A photo: "begin", then "klaar" when its time is up, it is skipped or it cannot be shown.
inline const QString kFoto = QStringLiteral("foto");
// The text of the update under way, for the movie's status field.
inline const QString kStatus = QStringLiteral("Status");
inline const QString kBegin = QStringLiteral("begin");
inline const QString kKlaar = QStringLiteral("klaar");

// Every variable the program sets: a player whose engine starts afresh tells the new
// engine's movie the last value of each again.
inline const QStringList kVariables = {kStatus, kFilm, kFoto};

}  // namespace movie
