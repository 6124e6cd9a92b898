#include "KeyringEnvironment.h"

#include "check/TIdCheckThread.h"
#include "core/IniFile.h"
#include "core/PasswordScrambling.h"
#include "core/PrivateFile.h"
#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"
#include "platform/keyring/SecretServiceStore.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tarn {
namespace {

using namespace std::chrono_literals;
using Service = test::KeyringEnvironment::Service;
using After = test::ScriptedServer::After;

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A session in a fresh folder on a private bus with the given Secret Service, and a POP3
// server that takes bob's "secret" only.
class KeyringTest : public test::CheckSessionSupport {
protected:
    explicit KeyringTest(Service service)
        : CheckSessionSupport("tarn-keyring"), env(makeEnv(service)) {}
    ~KeyringTest() override {
        // libsecret keeps its connection to the bus of this test otherwise.
        secret_service_disconnect();
    }

    static std::unique_ptr<test::KeyringEnvironment> makeEnv(Service service) {
        if (!test::KeyringEnvironment::available())
            return nullptr;
        return std::make_unique<test::KeyringEnvironment>(service);
    }

    void SetUp() override {
        if (!env) {
            const char* ci = std::getenv("CI");
            if (ci && std::string(ci) == "true")
                FAIL() << "dbus-daemon or gnome-keyring-daemon is not installed";
            GTEST_SKIP() << "dbus-daemon or gnome-keyring-daemon is not installed";
        }
        srv.setGreeting("+OK ready\r\n");
        srv.on("USER bob", "+OK\r\n");
        srv.on("PASS secret", "+OK in\r\n");
        srv.onPrefix("PASS ", "-ERR wrong\r\n");
        srv.on("STAT", "+OK 0 0\r\n");
        srv.on("LIST", "+OK\r\n.\r\n");
        srv.on("UIDL", "+OK\r\n.\r\n");
        srv.on("CAPA", "-ERR\r\n");
        srv.on("QUIT", "+OK bye\r\n", After::Close);
        session.settingsStore().setSecretStore(&keyring);
        AccountSettings acc;
        acc.Name = "Work";
        acc.Host = "127.0.0.1:" + std::to_string(srv.port());
        acc.UserID = "bob";
        acc.Password = "secret";
        session.settings().Accounts = {acc};
        session.syncWithSettings();
    }

    void save() { session.settingsStore().save(SaveInputs{}); }

    // The windows' way: keyring calls on their own thread, completions queued to this one.
    void useKeyringThread() {
        session.settingsStore().setMainThreadPoster([this](std::function<void()> f) {
            std::lock_guard<std::mutex> lock(postedMutex);
            posted.push_back(std::move(f));
            postedCv.notify_all();
        });
    }
    // Runs what the keyring thread posted, as the event loop would, until it has nothing
    // under way; false when that takes longer than the limit.
    bool settleKeyring(std::chrono::milliseconds limit = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (session.settingsStore().keyringBusy()) {
            std::function<void()> next;
            {
                std::unique_lock<std::mutex> lock(postedMutex);
                if (!postedCv.wait_until(lock, deadline, [this] { return !posted.empty(); }))
                    return false;
                next = std::move(posted.front());
                posted.pop_front();
            }
            next();
        }
        return true;
    }
    std::mutex postedMutex;
    std::condition_variable postedCv;
    std::deque<std::function<void()>> posted;
    IniFile file() const { return IniFile(session.path("tarn.ini")); }
    std::string fileText() const { return file().text(); }

    // A check of account 1 the way the program starts one: the session as read from the file.
    CheckResult checkFromFile(std::chrono::milliseconds keyringTimeout = 10s) {
        Session fresh(session.workingFolder(), systemClock(), test::uniqueLockSuffix());
        fresh.settingsStore().setSecretStore(&keyring);
        fresh.settingsStore().load(SettingsReadInputs{});
        fresh.syncWithSettings();
        test::RecordingCheckHost freshHost(fresh);
        fresh.runtime()[1].Busy = true;
        CheckOptions opt;
        opt.connectTimeout = 5s;
        opt.readTimeout = 5s;
        opt.keyringTimeout = keyringTimeout;
        return TIdCheckThread::forAccount(fresh, freshHost, 1, opt)->run();
    }
    bool serverGot(const std::string& line) const {
        for (const std::string& l : srv.received())
            if (l == line)
                return true;
        return false;
    }

    std::unique_ptr<test::KeyringEnvironment> env;
    SecretServiceStore keyring;
    test::ScriptedServer srv;
};

class GnomeKeyringTest : public KeyringTest {
protected:
    GnomeKeyringTest() : KeyringTest(Service::GnomeKeyring) {}
    SecretAnswer item(SecretKind kind = SecretKind::Password) {
        return keyring.read(session.settingsStore().secretKey(session.settings().account(1), kind),
                            5s);
    }
};

TEST_F(GnomeKeyringTest, SavedPasswordLeavesTheFileForALabelledItemThatChecksRead) {
    save();
    const IniFile f = file();
    EXPECT_EQ(f.value("1", "Password"), "");
    EXPECT_EQ(f.value("1", "PasswordStore"), "keyring");
    const std::string id = f.readString("1", "SecretId", "");
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(fileText().find("tgfvjz"), std::string::npos);

    const std::string items =
        env->searchItems(session.settingsStore()
                             .secretKey(session.settings().account(1), SecretKind::Password)
                             .folder);
    EXPECT_NE(items.find("label = Tarnwick: Work (bob@127.0.0.1)\n"), std::string::npos) << items;
    EXPECT_NE(items.find("attribute.account = " + id + "\n"), std::string::npos) << items;
    EXPECT_NE(items.find("attribute.kind = password\n"), std::string::npos) << items;
    EXPECT_EQ(session.settingsStore().passwordPlace(session.settings().account(1)),
              "Stored in the desktop keyring");

    const CheckResult r = checkFromFile();
    EXPECT_FALSE(r.failed) << r.failureText;
    EXPECT_TRUE(serverGot("PASS secret"));
}

TEST_F(GnomeKeyringTest, TarnwickCheckReadsThePasswordFromTheKeyring) {
    save();
    ASSERT_EQ(file().value("1", "Password"), "");
    const std::string command =
        std::string(TARNWICK_CHECK_BIN) + " -d '" + session.workingFolder() + "' > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(serverGot("PASS secret"));
}

TEST_F(GnomeKeyringTest, OlderFilesScrambledPasswordMovesIntoTheKeyringOnTheFirstSave) {
    writeFile(session.path("tarn.ini"),
              "[Main]\nECount=1\n[1]\nName=Work\nHost=" + session.settings().account(1).Host +
                  "\nUserID=bob\nPassword=tgfvjz\nSavePwd=1\n");
    session.settingsStore().load(SettingsReadInputs{});
    ASSERT_EQ(session.settings().account(1).Password, "secret");
    save();
    EXPECT_EQ(fileText().find("tgfvjz"), std::string::npos);
    EXPECT_EQ(file().value("1", "PasswordStore"), "keyring");
    const SecretAnswer a = item();
    EXPECT_EQ(a.status, SecretAnswer::Status::Found) << a.error;
    EXPECT_EQ(a.secret, "secret");
    EXPECT_FALSE(checkFromFile().failed);
}

TEST_F(GnomeKeyringTest, RenamingRelabelsTheItemAndDeletingTheAccountRemovesIt) {
    save();
    const SecretKey key =
        session.settingsStore().secretKey(session.settings().account(1), SecretKind::Password);
    // A later run: the password is only in the keyring.
    session.settingsStore().load(SettingsReadInputs{});
    ASSERT_EQ(session.settings().account(1).Password, "");
    session.settings().account(1).Name = "Home";
    save();
    std::string items = env->searchItems(key.folder);
    EXPECT_NE(items.find("label = Tarnwick: Home (bob@127.0.0.1)\n"), std::string::npos) << items;
    EXPECT_EQ(items.find("Tarnwick: Work"), std::string::npos) << items;
    EXPECT_EQ(keyring.read(key, 5s).secret, "secret");

    AccountSettings other;
    other.Name = "Other";
    session.settings().Accounts = {other};
    session.syncWithSettings();
    save();
    EXPECT_EQ(keyring.read(key, 5s).status, SecretAnswer::Status::NotFound);
    items = env->searchItems(key.folder);
    EXPECT_EQ(items.find("label ="), std::string::npos) << items;
}

TEST_F(GnomeKeyringTest, ChoosingTheFileKeepsThePasswordScrambledThere) {
    session.settings().Main.PasswordsInFile = true;
    save();
    EXPECT_EQ(file().value("1", "Password"), "tgfvjz");
    EXPECT_EQ(file().value("1", "PasswordStore"), "");
    EXPECT_EQ(item().status, SecretAnswer::Status::NotFound);
    EXPECT_EQ(session.settingsStore().passwordPlace(session.settings().account(1)),
              "Stored scrambled in tarn.ini, as chosen");
}

TEST_F(GnomeKeyringTest, WithAKeyringThreadTheSaveReturnsAndTheConfirmedPasswordLeavesTheFile) {
    useKeyringThread();
    save();
    // Nothing is lost while the keyring is asked: the file holds the password meanwhile.
    EXPECT_TRUE(session.settingsStore().keyringBusy());
    EXPECT_EQ(file().value("1", "Password"), "tgfvjz");
    ASSERT_TRUE(settleKeyring());
    EXPECT_EQ(fileText().find("tgfvjz"), std::string::npos);
    EXPECT_EQ(file().value("1", "PasswordStore"), "keyring");
    EXPECT_EQ(item().secret, "secret");
    EXPECT_EQ(session.settingsStore().passwordPlace(session.settings().account(1)),
              "Stored in the desktop keyring");
    const CheckResult r = checkFromFile();
    EXPECT_FALSE(r.failed) << r.failureText;
    EXPECT_TRUE(serverGot("PASS secret"));
}

TEST_F(GnomeKeyringTest, ChoosingTheFileLaterBringsThePasswordBackAndRemovesTheItem) {
    for (const bool thread : {false, true}) {
        SCOPED_TRACE(thread ? "keyring thread" : "waiting save");
        if (thread)
            useKeyringThread();
        session.settings().Main.PasswordsInFile = false;
        save();
        ASSERT_TRUE(settleKeyring());
        ASSERT_EQ(file().value("1", "PasswordStore"), "keyring");
        // A later run: the password is only in the keyring, and the user chooses the file.
        session.settingsStore().load(SettingsReadInputs{});
        ASSERT_TRUE(settleKeyring());
        ASSERT_EQ(session.settings().account(1).Password, "");
        session.settings().Main.PasswordsInFile = true;
        save();
        ASSERT_TRUE(settleKeyring());
        EXPECT_EQ(file().value("1", "Password"), "tgfvjz");
        EXPECT_EQ(file().value("1", "PasswordStore"), "");
        EXPECT_EQ(item().status, SecretAnswer::Status::NotFound);
        EXPECT_FALSE(checkFromFile().failed);
    }
}

TEST_F(GnomeKeyringTest, ASignInMovesBetweenKeyringAndFileAsThePasswordDoes) {
    const std::string scrambled = storedPasswordText("refresh-1");
    for (const bool thread : {false, true}) {
        SCOPED_TRACE(thread ? "keyring thread" : "waiting save");
        if (thread)
            useKeyringThread();
        // A sign-in the account page put into the account: it goes where the password goes.
        session.settings().Main.PasswordsInFile = false;
        session.settings().account(1).OAuthRefreshToken = "refresh-1";
        save();
        ASSERT_TRUE(settleKeyring());
        EXPECT_EQ(item(SecretKind::OAuthRefreshToken).secret, "refresh-1");
        EXPECT_EQ(file().value("1", "OAuthTokenStore"), "keyring");
        EXPECT_EQ(file().value("1", "OAuthToken"), "");
        EXPECT_EQ(fileText().find(scrambled), std::string::npos);

        // A later run: the token is only in the keyring, and the user chooses the file.
        session.settingsStore().load(SettingsReadInputs{});
        ASSERT_TRUE(settleKeyring());
        ASSERT_EQ(session.settings().account(1).OAuthRefreshToken, "");
        ASSERT_TRUE(session.settings().account(1).hasOAuthSignIn());
        session.settings().Main.PasswordsInFile = true;
        save();
        if (thread) {
            // Until the file holds it, the keyring keeps it.
            EXPECT_EQ(item(SecretKind::OAuthRefreshToken).secret, "refresh-1");
            EXPECT_EQ(file().value("1", "OAuthTokenStore"), "keyring");
        }
        ASSERT_TRUE(settleKeyring());
        EXPECT_EQ(file().value("1", "OAuthToken"), scrambled);
        EXPECT_EQ(file().value("1", "OAuthTokenStore"), "");
        EXPECT_EQ(item(SecretKind::OAuthRefreshToken).status, SecretAnswer::Status::NotFound);
        EXPECT_EQ(item().status, SecretAnswer::Status::NotFound);

        // And back: the keyring again, and the file forgets it.
        session.settingsStore().load(SettingsReadInputs{});
        ASSERT_TRUE(settleKeyring());
        ASSERT_EQ(session.settings().account(1).OAuthRefreshToken, "refresh-1");
        session.settings().Main.PasswordsInFile = false;
        save();
        ASSERT_TRUE(settleKeyring());
        EXPECT_EQ(item(SecretKind::OAuthRefreshToken).secret, "refresh-1");
        EXPECT_EQ(fileText().find(scrambled), std::string::npos);

        // A deleted account's sign-in leaves the keyring with it.
        const SecretKey key = session.settingsStore().secretKey(session.settings().account(1),
                                                                SecretKind::OAuthRefreshToken);
        const AccountSettings kept = session.settings().account(1);
        AccountSettings other;
        other.Name = "Other";
        session.settings().Accounts = {other};
        session.syncWithSettings();
        save();
        ASSERT_TRUE(settleKeyring());
        EXPECT_EQ(keyring.read(key, 5s).status, SecretAnswer::Status::NotFound);
        // The next round starts from the account as it was.
        AccountSettings fresh = kept;
        fresh.SecretId.clear();
        fresh.OAuthTokenStore.clear();
        fresh.PasswordStore.clear();
        fresh.Password = "secret";
        session.settings().Accounts = {fresh};
        session.syncWithSettings();
    }
}

class NoSecretServiceTest : public KeyringTest {
protected:
    NoSecretServiceTest() : KeyringTest(Service::None) {}
};

TEST_F(NoSecretServiceTest, PasswordStaysScrambledInTheFileAndThePageSaysSo) {
    EXPECT_FALSE(keyring.available(2s));
    save();
    EXPECT_EQ(file().value("1", "Password"), "tgfvjz");
    EXPECT_EQ(file().value("1", "PasswordStore"), "");
    EXPECT_EQ(session.settingsStore().passwordPlace(session.settings().account(1)),
              "Stored scrambled in tarn.ini; no keyring found");
    EXPECT_FALSE(checkFromFile().failed);
}

class SilentSecretServiceTest : public KeyringTest {
protected:
    SilentSecretServiceTest() : KeyringTest(Service::Silent) {}
};

TEST_F(SilentSecretServiceTest, SaveIsBoundedAndKeepsThePasswordInTheFile) {
    std::vector<std::string> notices;
    setPrivacyNoticeSink([&](const std::string& t) { notices.push_back(t); });
    const auto start = std::chrono::steady_clock::now();
    save();
    const auto took = std::chrono::steady_clock::now() - start;
    setPrivacyNoticeSink(nullptr);
    EXPECT_LT(took, SettingsStore::kKeyringSaveLimit + 1s);
    EXPECT_EQ(file().value("1", "Password"), "tgfvjz");
    EXPECT_EQ(file().value("1", "PasswordStore"), "");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("did not answer"), std::string::npos) << notices[0];
}

TEST_F(SilentSecretServiceTest, WithAKeyringThreadTheSaveNeverWaitsForTheKeyring) {
    useKeyringThread();
    std::vector<std::string> notices;
    std::mutex noticesMutex;
    setPrivacyNoticeSink([&](const std::string& t) {
        std::lock_guard<std::mutex> lock(noticesMutex);
        notices.push_back(t);
    });
    save();
    // The keyring never answers, so the save came back before it could have: the window's
    // thread is free while the keyring is asked.
    EXPECT_TRUE(session.settingsStore().keyringBusy());
    EXPECT_EQ(file().value("1", "Password"), "tgfvjz");
    // A second save meanwhile does not wait either, and is not lost.
    session.settings().account(1).Name = "Home";
    save();
    EXPECT_TRUE(session.settingsStore().keyringBusy());
    EXPECT_EQ(file().value("1", "Name"), "Home");
    ASSERT_TRUE(settleKeyring());
    setPrivacyNoticeSink(nullptr);
    EXPECT_EQ(file().value("1", "Password"), "tgfvjz");
    EXPECT_EQ(file().value("1", "PasswordStore"), "");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("did not answer"), std::string::npos) << notices[0];
    // Not asked again for a while: the next save is over at once.
    save();
    EXPECT_FALSE(session.settingsStore().keyringBusy());
}

TEST_F(SilentSecretServiceTest, CheckOfAKeyringPasswordFailsWithTheReasonWithinItsTimeOut) {
    writeFile(session.path("tarn.ini"),
              "[Main]\nECount=1\n[1]\nName=Work\nHost=" + session.settings().account(1).Host +
                  "\nUserID=bob\nPassword=\nSavePwd=1\nPasswordStore=keyring\n"
                  "SecretId=0123456789abcdef0123456789abcdef\n");
    const auto start = std::chrono::steady_clock::now();
    const CheckResult r = checkFromFile(1500ms);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.failed);
    EXPECT_NE(r.failureText.find("could not be read from the desktop keyring"), std::string::npos)
        << r.failureText;
    EXPECT_NE(r.failureText.find("did not answer within 1500 ms"), std::string::npos)
        << r.failureText;
    EXPECT_LT(took, 4s);
    EXPECT_TRUE(srv.received().empty()) << "no password, no log-in";
}

} // namespace
} // namespace tarn
