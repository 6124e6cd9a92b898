#include "core/CheckerColors.h"
#include "core/FieldHint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarn {
namespace {

// WCAG 2 relative luminance of a 0x00BBGGRR colour.
double luminance(std::uint32_t bgr) {
    auto channel = [](std::uint32_t v) {
        const double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(bgr & 0xFF) + 0.7152 * channel((bgr >> 8) & 0xFF) +
           0.0722 * channel((bgr >> 16) & 0xFF);
}

double contrast(std::uint32_t a, std::uint32_t b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(CheckerColorsContrast, FormulaMatchesKnownPairs) {
    EXPECT_NEAR(contrast(0xFFFFFF, 0x000000), 21.0, 1e-9);
    EXPECT_NEAR(contrast(0x808080, 0x808080), 1.0, 1e-9);
    // The former active colour, white on lavender, fell short.
    EXPECT_LT(contrast(0xFFFFFF, 11567232), 4.5);
}

// The digits stay readable (WCAG AA, 4.5:1) on the active and the idle field of both sets
// the program ships.
TEST(CheckerColorsContrast, DigitsOnActiveAndIdleFieldsReachAA) {
    struct {
        const char* set;
        CheckerColors colors;
    } sets[] = {{"blue", CheckerColors::blueDefaults()}, {"gray", CheckerColors::gray()}};
    for (const auto& s : sets) {
        SCOPED_TRACE(s.set);
        EXPECT_GE(contrast(s.colors.Font, s.colors.Active), 4.5);
        EXPECT_GE(contrast(s.colors.Font, s.colors.Idle), 4.5);
        // Active and idle still differ at a glance.
        EXPECT_NE(s.colors.Active, s.colors.Idle);
    }
}

TEST(FieldHint, StatesFollowTheAccountsText) {
    struct {
        const char* base;
        bool offline;
        const char* since;
        const char* text;
    } cases[] = {
        {"Work 09:05", false, "", "Work 09:05"},
        {"Work 09:05", true, "", "Work 09:05\noffline"},
        {"Work", false, "13:34", "Work\npush: reconnecting since 13:34"},
        {"Work", true, "13:34", "Work\noffline\npush: reconnecting since 13:34"},
        {"", true, "", "offline"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fieldHintText(c.base, {c.offline, c.since}), c.text) << c.base;
}

} // namespace
} // namespace tarn
