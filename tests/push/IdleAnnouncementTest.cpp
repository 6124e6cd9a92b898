// What the idle connection makes of the untagged lines a server sends while it idles.

#include <gtest/gtest.h>

#include <string>

#include "push/IdleAnnouncement.h"

using tarn::IdleAnnouncement;
using Kind = IdleAnnouncement::Kind;

TEST(IdleAnnouncement, ReadsCountsExpungesAndGoodbyesAndNothingElse) {
    struct Case {
        std::string line;
        Kind kind;
        std::uint64_t number;
    };
    const Case cases[] = {
        {"3 EXISTS", Kind::Exists, 3},
        {"0 exists", Kind::Exists, 0},
        {"999999999999 EXISTS", Kind::Exists, 999999999999},
        {"1000000000000 EXISTS", Kind::Nothing, 0}, // beyond any mailbox
        {"2 EXPUNGE", Kind::Expunge, 2},
        {"1 RECENT", Kind::Nothing, 0},
        {"4 FETCH (FLAGS (\\Seen))", Kind::Nothing, 0},
        {"OK Still here", Kind::Nothing, 0},
        {"EXISTS 3", Kind::Nothing, 0},
        {"-1 EXISTS", Kind::Nothing, 0},
        {"3 EXISTS extra", Kind::Nothing, 0},
        {"3 (EXISTS", Kind::Nothing, 0}, // unbalanced: not a value list
        {"", Kind::Nothing, 0},
        {"BYE shutting down", Kind::Bye, 0},
        {"bye", Kind::Bye, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const IdleAnnouncement a = IdleAnnouncement::read(c.line);
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.number, c.number);
    }
}

TEST(IdleAnnouncement, AGoodbyeKeepsWhatTheServerSaidCutShort) {
    EXPECT_EQ(IdleAnnouncement::read("BYE Server shutting down").text, "BYE Server shutting down");
    const std::string longBye = "BYE " + std::string(200, 'x');
    EXPECT_EQ(IdleAnnouncement::read(longBye).text, longBye.substr(0, 80) + "...");
    EXPECT_EQ(IdleAnnouncement::read("BYE " + std::string(76, 'y')).text,
              "BYE " + std::string(76, 'y'));
}
