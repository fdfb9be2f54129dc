#include "platform/vlc/playlist.h"

#include <gtest/gtest.h>

namespace {

using platform::playlist::Kind;

const QUrl kBase("http://radio.example/lists/radio.asx");

struct Case {
    const char* name;
    QByteArray text;
    std::optional<Kind> kind;
    QList<QStringList> items;
};

}  // namespace

TEST(Playlist, FormatsAsStationsPublishThem) {
    const QList<Case> cases = {
        {"asx in upper case with a backup server",
         "<ASX VERSION=\"3.0\"><TITLE>Radio</TITLE><ENTRY>\n"
         "  <REF HREF=\"http://backup/stream.mp3\" />\n  <REF HREF=\"http://live/stream\" />\n"
         "</ENTRY></ASX>",
         Kind::kAsx,
         {{"http://backup/stream.mp3", "http://live/stream"}}},
        {"asx in mixed case, entries one after another, relative and escaped references",
         "<?xml version=\"1.0\"?>\n<!-- <ref href=\"http://commented/out\"/> -->\n"
         "<Asx version='3.0'><Entry><Ref href='stream?a=1&amp;b=2'/></Entry>\n"
         "<entry><ref href=mms://wms/live></entry></asx>",
         Kind::kAsx,
         {{"http://radio.example/lists/stream?a=1&b=2"}, {"mms://wms/live"}}},
        {"asx with a nested playlist, a reference outside entries and unusable ones",
         "<asx><entryref href=\"http://other/list.asx\"/><ref href=\"http://loose/s\"/>"
         "<entry><ref href=\"file:///etc/passwd\"/><ref href=\"javascript:x\"/><ref/></entry>"
         "<entry><ref href=\"rtsp://cam/a\"/></entry></asx>",
         Kind::kAsx,
         {{"http://other/list.asx"}, {"http://loose/s"}, {"rtsp://cam/a"}}},
        {"pls, numbered out of order, a dead first entry",
         "[playlist]\r\nNumberOfEntries=2\r\nFile2=http://live/b\r\nTitle1=x\r\n"
         "file1=http://dead/a\r\nVersion=2\r\n",
         Kind::kPls,
         {{"http://dead/a"}, {"http://live/b"}}},
        {"windows media reference file: alternatives of one stream",
         "[Reference]\r\nRef1=http://wms/live?MSWMExt=.asf\r\nRef2=mms://wms/live\r\n",
         Kind::kReference,
         {{"http://wms/live?MSWMExt=.asf", "mms://wms/live"}}},
        {"extended m3u with comments and a relative entry",
         "#EXTM3U\n#EXTINF:-1,Radio\nhttp://live/a.mp3\n\n#EXTINF:-1,Other\nb.aac\n",
         Kind::kM3u,
         {{"http://live/a.mp3"}, {"http://radio.example/lists/b.aac"}}},
        {"an HLS list is left to the engine",
         "#EXTM3U\n#EXT-X-VERSION:3\nseg1.ts\n",
         std::nullopt,
         {}},
        {"an MP3 stream",
         QByteArray("ID3\x03\x00\x00\x00", 7) + QByteArray(600, '\xff'),
         std::nullopt,
         {}},
        {"an HTML page", "<html><body>Not found</body></html>", std::nullopt, {}},
        {"nothing", "", std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto kind = platform::playlist::Recognise(c.text, "video/x-ms-asf", kBase.path());
        EXPECT_EQ(kind, c.kind);
        if (kind) {
            EXPECT_EQ(platform::playlist::Parse(*kind, c.text, kBase), c.items);
        }
    }
}

TEST(Playlist, BareM3uIsKnownByItsTypeOrName) {
    const QByteArray text = "http://live/a.mp3\n";
    EXPECT_EQ(platform::playlist::Recognise(text, "audio/x-mpegurl", "/radio"), Kind::kM3u);
    EXPECT_EQ(platform::playlist::Recognise(text, "text/plain", "/radio.M3U"), Kind::kM3u);
    EXPECT_EQ(platform::playlist::Recognise(text, "text/plain", "/radio"), std::nullopt);
}

TEST(Playlist, HostilePlaylistsStayWithinTheBounds) {
    using platform::playlist::kMaxAlternatives;
    using platform::playlist::kMaxItems;
    QByteArray many = "<asx><entry>";
    for (int i = 0; i < 50; ++i) {
        many += "<ref href=\"http://alt/" + QByteArray::number(i) + "\"/>";
    }
    many += "</entry>";
    for (int i = 0; i < 500; ++i) {
        many += "<entry><ref href=\"http://item/" + QByteArray::number(i) + "\"/></entry>";
    }
    many += "</asx>";
    const auto items = platform::playlist::Parse(Kind::kAsx, many, kBase);
    ASSERT_EQ(items.size(), kMaxItems);
    EXPECT_EQ(items[0].size(), kMaxAlternatives);

    QByteArray pls = "[playlist]\n";
    for (int i = 0; i < 5000; ++i) {
        pls += "File" + QByteArray::number(i) + "=http://s/" + QByteArray::number(i) + "\n";
    }
    EXPECT_EQ(platform::playlist::Parse(Kind::kPls, pls, kBase).size(), kMaxItems);

    // Unclosed tags, attributes and comments end the list, in time linear in its size.
    for (const QByteArray& broken :
         {"<asx><entry><ref href=\"http://a/b" + QByteArray(100000, 'x'),
          "<asx>" + QByteArray(100000, '<'), "<asx>" + QByteArray("<!--").repeated(25000),
          "<asx>" + QByteArray("<ref href=").repeated(10000)}) {
        EXPECT_TRUE(platform::playlist::Parse(Kind::kAsx, broken, kBase).isEmpty());
    }
}
