#include "hosts_file.h"

#include <gtest/gtest.h>

// Every way an engineer writes a display, and what is refused, with the line it is on.
TEST(HostsFile, ReadsEveryFormAndRefusesABadPortWithItsLine) {
    const struct {
        const char* entry;
        const char* host;  // nullptr: refused
        quint16 port;
    } rows[] = {
        {"display1", "display1", 8101},
        {"  display1  # the hall", "display1", 8101},
        {"10.0.0.7:9000", "10.0.0.7", 9000},
        {"[::1]", "::1", 8101},
        {"[fe80::1]:65535", "fe80::1", 65535},
        {"fe80::1", "fe80::1", 8101},  // a bare IPv6 address has no port
        {"127.0.0.1:99999", nullptr, 0},
        {"127.0.0.1:0", nullptr, 0},
        {"127.0.0.1:http", nullptr, 0},
        {"127.0.0.1:", nullptr, 0},
        {"[::1]:x", nullptr, 0},
        {"[::1", nullptr, 0},
        {"[::1]9000", nullptr, 0},
        {":9000", nullptr, 0},
        {"two words", nullptr, 0},
    };
    for (const auto& row : rows) {
        const QString text = QStringLiteral("# displays\n\nfirst\n%1\n").arg(row.entry);
        const auto listed = hosts::ParseList(text, 8101);
        if (!row.host) {
            ASSERT_FALSE(listed) << row.entry;
            EXPECT_TRUE(listed.reason().startsWith("line 4: ")) << listed.reason().toStdString();
            continue;
        }
        ASSERT_TRUE(listed) << row.entry << ": " << listed.reason().toStdString();
        ASSERT_EQ(listed->size(), 2) << row.entry;
        EXPECT_EQ(listed->at(0).host, "first");
        EXPECT_EQ(listed->at(1).host, row.host) << row.entry;
        EXPECT_EQ(listed->at(1).port, row.port) << row.entry;
    }
    EXPECT_EQ((hosts::Display{"fe80::1", 9000}.Name()), "[fe80::1]:9000");
    EXPECT_EQ((hosts::Display{"display1", 8101}.Name()), "display1:8101");
    const auto missing = hosts::ReadFile("/nonexistent/hosts", 8101);
    EXPECT_FALSE(missing);
    EXPECT_TRUE(missing.reason().startsWith("cannot read /nonexistent/hosts"));
}
