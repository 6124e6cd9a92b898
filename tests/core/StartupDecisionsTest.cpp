#include "core/StartupDecisions.h"
#include "core/AccountRuntimeTable.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

using namespace tarn;

namespace {

TEST(StartupDecisionsTest, OnlineStateAndVisibilityAtStart) {
    struct Case {
        const char* name;
        const char* onOffline;
        bool alwaysOffline, hideWhenOffline, hidden;
        bool goOffline, startsHidden;
    } cases[] = {
        {"saved offline", "off", false, false, false, true, false},
        {"saved online", "on", false, false, false, false, false},
        {"only exactly 'off' means offline", "OFF", false, false, false, false, false},
        {"always offline wins over on", "on", true, false, false, true, false},
        {"always offline while already off", "off", true, false, false, true, false},
        {"hide when offline hides although Hidden is 0", "off", false, true, false, true, true},
        {"hide when offline does nothing online", "on", false, true, false, false, false},
        {"hide when offline after always offline", "on", true, true, false, true, true},
        {"Hidden stays as read", "on", false, false, true, false, true},
    };
    for (const auto& c : cases) {
        MainSettings m;
        m.OnOffline = c.onOffline;
        m.AlwaysOffline = c.alwaysOffline;
        m.HideWhenOffline = c.hideWhenOffline;
        m.Hidden = c.hidden;
        const StartOnlineDecision d = decideStartOnline(m);
        EXPECT_EQ(d.goOffline, c.goOffline) << c.name;
        EXPECT_EQ(d.hidden, c.startsHidden) << c.name;
    }
}

TEST(StartupDecisionsTest, FirststartAppendsTheSpamFilter) {
    Settings s;
    s.Filters.push_back(TFilter{1, true, 2, 0, "x", "", 0});
    s.Main.FilterCount = 1;
    Firststart(s);
    ASSERT_EQ(s.Filters.size(), 2u);
    EXPECT_EQ(s.Filters[0], (TFilter{1, true, 2, 0, "x", "", 0}));
    EXPECT_EQ(s.Filters[1], (TFilter{8, true, 0, 3, "", "", 12}));
    EXPECT_EQ(s.Main.FilterCount, 2);
}

TEST(AccountRuntimeTableTest, RecordsStayPutWhenTheTableChanges) {
    AccountRuntimeTable t;
    t.resize(3);
    t[2].ShownCount = 7;
    t[3].Busy = true;
    AccountRuntime* second = &t[2];
    t.resize(5);
    EXPECT_EQ(&t[2], second);
    EXPECT_EQ(t[2].ShownCount.load(), 7);
    EXPECT_EQ(t[5].LastMailboxTotal.load(), -1);
    t.remove(2);
    EXPECT_EQ(t.size(), 4);
    EXPECT_TRUE(t[2].Busy.load()); // former account 3
    EXPECT_THROW(t[0], std::out_of_range);
    EXPECT_THROW(t[5], std::out_of_range);
}

} // namespace
