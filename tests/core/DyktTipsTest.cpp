#include "core/DyktTips.h"
#include "core/TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace tarn {
namespace {

const std::string kHome = "http://home.test/";

std::vector<std::string> walk(DyktTips& tips, int steps) {
    std::vector<std::string> out;
    for (int i = 0; i < steps; ++i)
        out.push_back(tips.next());
    return out;
}

// Counts the file gets wrong or cannot hold: the walk still shows tip 1 first and never
// overflows or shows a number below 1.
TEST(DyktTips, CountsOutOfRange) {
    struct Case {
        const char* name;
        std::string count;
        int expectedCount;
        std::vector<std::string> shown;
    };
    const std::string def = kHome + DyktTips::DefaultTextTail;
    const std::vector<Case> cases = {
        {"three", "3", 3, {"one", "two", "three", "one", "two"}},
        {"largest int", "2147483647", 2147483647, {"one", "two", "three", def, def}},
        {"negative", "-5", -5, {"one", "one", "one"}},
        {"zero", "0", 0, {"one", "one"}},
        {"beyond int", "99999999999", 0, {"one", "one"}},
        {"not a number", "many", 0, {"one", "one"}},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        test::writeFile(dir.file("dykt.ini"),
                        "[DYKT_DATA]\r\nCount=" + c.count + "\r\n1=one\r\n2=two\r\n3=three\r\n");
        DyktTips tips(dir.file("dykt.ini"), kHome);
        EXPECT_EQ(tips.count(), c.expectedCount) << c.name;
        EXPECT_EQ(walk(tips, static_cast<int>(c.shown.size())), c.shown) << c.name;
    }
}

TEST(DyktTips, MissingBinaryAndHugeFiles) {
    test::TempDir dir;
    const std::string def = kHome + " will give you all the additional information you need "
                                    "about Tarnwick";
    {
        DyktTips tips(dir.file("none.ini"), kHome);
        EXPECT_EQ(tips.count(), 0);
        EXPECT_EQ(walk(tips, 2), (std::vector<std::string>{def, def}));
    }
    {
        std::mt19937 rng(3);
        std::string bytes(200000, '\0');
        for (char& b : bytes)
            b = static_cast<char>(rng());
        test::writeFile(dir.file("binary.ini"), bytes);
        DyktTips tips(dir.file("binary.ini"), kHome);
        EXPECT_EQ(tips.next(), def);
    }
    {
        // Only the first megabyte is read: a key placed beyond it is not seen.
        const std::string head = "[DYKT_DATA]\nCount=2\n1=first\n";
        const std::string filler = "; " + std::string(DyktTips::kMaxFileBytes, 'x') + "\n";
        test::writeFile(dir.file("huge.ini"), head + filler + "2=too far\n");
        DyktTips tips(dir.file("huge.ini"), kHome);
        EXPECT_EQ(tips.count(), 2);
        EXPECT_EQ(walk(tips, 3), (std::vector<std::string>{"first", def, "first"}));
    }
}

TEST(DyktTips, TipsAreReadAfreshButTheCountOnlyOnce) {
    test::TempDir dir;
    const std::string path = dir.file("dykt.ini");
    test::writeFile(path, "[DYKT_DATA]\nCount=2\n1=one\n2=two\n");
    DyktTips tips(path, kHome);
    EXPECT_EQ(tips.next(), "one");
    test::writeFile(path, "[DYKT_DATA]\nCount=3\n1=one again\n2=two changed\n3=three\n");
    EXPECT_EQ(walk(tips, 2), (std::vector<std::string>{"two changed", "one again"}));
}

// The file shipped with the program: every tip up to its Count is there and says something.
TEST(DyktTips, ShippedFileHoldsEveryTip) {
    const std::string path = std::string(TARN_SOURCE_DIR) + "/resources/defaults/dykt.ini";
    DyktTips tips(path, kHome);
    ASSERT_GE(tips.count(), 10);
    std::set<std::string> seen;
    for (int i = 1; i <= tips.count(); ++i) {
        const std::string tip = tips.next();
        EXPECT_NE(tip, tips.defaultText()) << "tip " << i << " is missing";
        EXPECT_GT(tip.size(), 30u) << "tip " << i;
        EXPECT_TRUE(seen.insert(tip).second) << "tip " << i << " repeats an earlier one";
    }
}

} // namespace
} // namespace tarn
