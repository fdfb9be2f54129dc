#pragma once

#include <QString>

// The rules for a file name in the content folder, whoever gives it: a movie command, a
// pushed destination, a listing of the content site. One set of rules, with what each
// use may do besides.
namespace content {

struct NameUse {
    bool subfolders = false;  // may name a file in a folder below ("fotos\x.jpg")
    bool wildcards = false;   // may hold "*" and "?" (a listing names files as the site has them)
    bool hidden = true;       // may start with "."
};

// A name in a movie command, or a pushed destination.
inline constexpr NameUse kCommandName{true, false, true};
inline constexpr NameUse kPushedName{true, false, true};
// A name in the site's listing, fetched into one folder.
inline constexpr NameUse kListedName{false, true, false};

// Why `name` cannot name a file in the content folder for `use`, or an empty text when it
// can. Refused for every use: an empty name, a leading separator, a drive (":"), a control
// character, "." or ".." as a part, a trailing separator, and the name of one of the
// program's own temporaries. A name that passes still leaves the drive only if the drive
// refuses it (a symbolic link out of it).
QString RefusalReason(const QString& name, NameUse use);

inline bool Accepted(const QString& name, NameUse use) {
    return RefusalReason(name, use).isEmpty();
}

}  // namespace content
