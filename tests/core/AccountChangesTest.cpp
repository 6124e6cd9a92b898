#include "core/AccountChanges.h"

#include <gtest/gtest.h>

#include <functional>

namespace tarn {
namespace {

TEST(AccountChangesTest, OnlyWhatAConnectionDependsOnCounts) {
    struct Case {
        const char* what;
        std::function<void(AccountSettings&)> change;
        bool counts;
    };
    const Case cases[] = {
        {"name", [](AccountSettings& a) { a.Name = "Work"; }, false},
        {"timer", [](AccountSettings& a) { a.Timer = 60000; }, false},
        {"colour", [](AccountSettings& a) { a.ActiveColor = 1; }, false},
        {"server", [](AccountSettings& a) { a.Host = "other.example.org"; }, true},
        {"port", [](AccountSettings& a) { a.Host = "mail.example.org:995"; }, true},
        {"type", [](AccountSettings& a) { a.MailServerType = 1; }, true},
        {"security", [](AccountSettings& a) { a.Security = 2; }, true},
        {"user", [](AccountSettings& a) { a.UserID = "bob"; }, true},
        {"password", [](AccountSettings& a) { a.Password = "new"; }, true},
        {"sign-in method", [](AccountSettings& a) { a.AuthMethod = 2; }, true},
        {"OAuth client", [](AccountSettings& a) { a.OAuthClientID = "id"; }, true},
        {"password command", [](AccountSettings& a) { a.PasswordCommand = "pass x"; }, true},
    };
    AccountSettings before;
    before.Host = "mail.example.org";
    for (const Case& c : cases) {
        AccountSettings after = before;
        c.change(after);
        EXPECT_EQ(connectionChanged(before, after), c.counts) << c.what;
        EXPECT_EQ(accountsToCheckAfterEdit({before}, {after}),
                  c.counts ? std::vector<int>{1} : std::vector<int>{})
            << c.what;
    }
    // New accounts are checked once they name a server.
    AccountSettings fresh;
    EXPECT_TRUE(accountsToCheckAfterEdit({before}, {before, fresh}).empty());
    fresh.Host = "new.example.org";
    EXPECT_EQ(accountsToCheckAfterEdit({before}, {before, fresh}), std::vector<int>{2});
}

} // namespace
} // namespace tarn
