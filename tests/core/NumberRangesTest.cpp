#include "core/NumberRanges.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <functional>

namespace tarn {
namespace {

TEST(NumberRangesTest, FieldTextMustBeAnIntegerWithinTheRange) {
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        {"1", 1},
        {"1440", 1440},
        {" 7 ", 7},
        {"0", std::nullopt},
        {"1441", std::nullopt},
        {"-5", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"1.5", std::nullopt},
        {"99999999999", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(numberInRange(c.text, kCheckFrequencyRange), c.value) << c.text;
}

TEST(NumberRangesTest, OnlyStoredValuesBeyondTheBoundsAreReported) {
    struct Case {
        const char* what;
        std::function<void(Settings&)> set;
        const char* field; // null: nothing reported
        long long stored;
        int shown;
    };
    const Case cases[] = {
        {"a minute", [](Settings& s) { s.Accounts[0].Timer = 60000; }, nullptr, 0, 0},
        {"a day", [](Settings& s) { s.Accounts[0].Timer = 86400000; }, nullptr, 0, 0},
        {"below a minute", [](Settings& s) { s.Accounts[0].Timer = 59999; },
         kCheckFrequencyRange.field, 59, 1},
        {"beyond a day", [](Settings& s) { s.Accounts[0].Timer = 86460000; },
         kCheckFrequencyRange.field, 86460, 1440},
        {"limit 1 kB", [](Settings& s) { s.Main.MaxDownloadSize = 1; }, nullptr, 0, 0},
        {"limit 0", [](Settings& s) { s.Main.MaxDownloadSize = 0; }, kDownloadLimitRange.field, 0,
         1},
        {"repeats 100", [](Settings& s) { s.Main.MAXMailCount = 100; }, nullptr, 0, 0},
        {"repeats -1", [](Settings& s) { s.Main.MAXMailCount = -1; }, kRepeatCountRange.field, -1,
         0},
        {"transparency 19", [](Settings& s) { s.Main.TransparencyValue = 19; },
         "Level of transparency", 19, 20},
        {"font 31", [](Settings& s) { s.Main.FontSize = 31; },
         "Fontsize of the mailcount number on your checker fields", 31, 30},
    };
    for (const Case& c : cases) {
        Settings s;
        s.Accounts.push_back(AccountSettings{});
        s.Accounts[0].Name = "Work";
        c.set(s);
        const std::vector<OutOfRange> found = storedOutOfRange(s);
        if (!c.field) {
            EXPECT_TRUE(found.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << c.what;
        EXPECT_EQ(found[0].field, c.field) << c.what;
        EXPECT_EQ(found[0].stored, c.stored) << c.what;
        EXPECT_EQ(found[0].shown, c.shown) << c.what;
        EXPECT_EQ(found[0].where, found[0].field == kCheckFrequencyRange.field ? "Work" : "")
            << c.what;
    }
}

} // namespace
} // namespace tarn
