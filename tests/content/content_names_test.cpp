#include "content/content_names.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using namespace std::literals;

struct Case {
    std::u16string_view name;
    const char* command;  // the verdict for a movie command and a pushed name ("" accepts)
    const char* listed;   // the verdict for a name in the site's listing
};

constexpr const char* kOk = "";

const Case kCases[] = {
    {u"x.jpg"sv, kOk, kOk},
    {u"Nieuws 1.swf"sv, kOk, kOk},
    {u"weerbericht.jpg"sv, kOk, kOk},
    {u"\u00e9t\u00e9 \u65e5\u672c.jpg"sv, kOk, kOk},
    {u"x..y.jpg"sv, kOk, kOk},
    {u"sub\\x..y.jpg"sv, kOk, "name in a subfolder"},
    {u"fotos\\a.jpg"sv, kOk, "name in a subfolder"},
    {u"fotos/a.jpg"sv, kOk, "name in a subfolder"},
    {u".profile"sv, kOk, "hidden name"},
    {u"x#1.jpg"sv, kOk, kOk},
    {u"z%41.jpg"sv, kOk, kOk},
    {u"y?1.jpg"sv, "name with a wildcard", kOk},
    {u"*.jpg"sv, "name with a wildcard", kOk},
    {u""sv, "empty name", "empty name"},
    {u".."sv, "name that leaves the folder", "name that leaves the folder"},
    {u"."sv, "name that leaves the folder", "name that leaves the folder"},
    {u"..\\x"sv, "name that leaves the folder", "name that leaves the folder"},
    {u"a/../../x"sv, "name that leaves the folder", "name that leaves the folder"},
    {u"a\\.\\x"sv, "name that leaves the folder", "name that leaves the folder"},
    {u"\\windows\\x"sv, "absolute name", "absolute name"},
    {u"/etc/passwd"sv, "absolute name", "absolute name"},
    {u"c:x.jpg"sv, "name with a drive", "name with a drive"},
    {u"d:\\x.jpg"sv, "name with a drive", "name with a drive"},
    {u"x.jpg:stream"sv, "name with a drive", "name with a drive"},
    {u"a\0b"sv, "name with a control character", "name with a control character"},
    {u"a\nb"sv, "name with a control character", "name with a control character"},
    {u"a\x7f"
     u"b"sv,
     "name with a control character", "name with a control character"},
    {u"fotos\\"sv, "name of a folder", "name of a folder"},
    {u"fotos//x"sv, kOk, "name in a subfolder"},
    {u".x.jpg.dravonelle-part"sv, "name of a temporary file", "hidden name"},
    {u"fotos\\.x.jpg.dravonelle-copy"sv, "name of a temporary file", "name in a subfolder"},
};

}  // namespace

TEST(ContentNames, OneTableOfNamesForEveryUse) {
    for (const Case& c : kCases) {
        const QString name =
            QString::fromUtf16(c.name.data(), static_cast<qsizetype>(c.name.size()));
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(content::RefusalReason(name, content::kCommandName), QString(c.command));
        EXPECT_EQ(content::RefusalReason(name, content::kPushedName), QString(c.command));
        EXPECT_EQ(content::RefusalReason(name, content::kListedName), QString(c.listed));
    }
}
