// Rules the windows trigger, run on the session alone.

#include "check/Session.h"

#include <gtest/gtest.h>

#include "fakes/CheckSessionSupport.h"
#include "platform/NamedMutex.h"

namespace {

class SessionRules : public tarn::test::CheckSessionSupport {
protected:
    SessionRules() : CheckSessionSupport("tarn-rules") {}
    void SetUp() override {
        session.settings().Accounts.resize(2);
        session.syncWithSettings();
    }
    void add(int account, int shown, int hidden) {
        tarn::NamedLock lock(session.db().mutex());
        for (int i = 0; i < shown + hidden; ++i) {
            tarn::MailRecord r;
            r.UID = "u" + std::to_string(account) + "-" + std::to_string(i);
            r.Account = account;
            r.Ignore = i >= shown;
            session.db().AppendMessage(r);
        }
    }
};

TEST_F(SessionRules, RecountCountsTheAccountsShownMessagesIntoItsRecord) {
    add(1, 3, 2);
    add(2, 1, 0);
    EXPECT_EQ(session.RecountShown(1), 3);
    EXPECT_EQ(session.runtime()[1].ShownCount, 3);
    EXPECT_EQ(session.runtime()[2].ShownCount, 0); // not recounted
    EXPECT_EQ(session.RecountShown(2), 1);
    EXPECT_EQ(session.runtime()[2].ShownCount, 1);
}

TEST_F(SessionRules, AnyShownMessageLooksAtEveryAccountAndIgnoresHiddenOnes) {
    EXPECT_FALSE(session.AnyShownMessage());
    add(1, 0, 2);
    EXPECT_FALSE(session.AnyShownMessage());
    add(2, 1, 0);
    EXPECT_TRUE(session.AnyShownMessage());
}

TEST_F(SessionRules, HidingHidesOneAccountAndAsksForTheTrayOnlyWhenOnlineAndIdle) {
    struct Case {
        bool online;
        bool checksRunning;
        bool trayNow;
    };
    for (const Case& c : {Case{true, false, true}, Case{true, true, false},
                          Case{false, false, false}, Case{false, true, false}}) {
        SCOPED_TRACE(std::to_string(c.online) + std::to_string(c.checksRunning));
        session.db().replaceAll({});
        add(1, 2, 0);
        add(2, 2, 0);
        session.Online = c.online;
        EXPECT_EQ(session.HideMessages(1, c.checksRunning), c.trayNow);
        tarn::NamedLock lock(session.db().mutex());
        EXPECT_EQ(session.db().CountShownMessages(1), 0);
        EXPECT_EQ(session.db().CountShownMessages(2), 2);
    }
}

} // namespace
