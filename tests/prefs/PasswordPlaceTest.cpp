#include "PrefsFixture.h"

#include "core/IniFile.h"
#include "core/SecretStore.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <condition_variable>
#include <map>
#include <mutex>

namespace tarn {
namespace {

using namespace std::chrono_literals;

// A keyring in memory: present or not, recording what it was given.
class MemoryKeyring : public SecretStore {
public:
    bool up = true;
    std::map<std::string, std::pair<std::string, std::string>> items; // account -> label, secret

    bool available(std::chrono::milliseconds) override { return up; }
    SecretAnswer read(const SecretKey& key, std::chrono::milliseconds) override {
        const auto it = items.find(key.account);
        if (it == items.end())
            return {SecretAnswer::Status::NotFound, {}, {}};
        return {SecretAnswer::Status::Found, it->second.second, {}};
    }
    std::string write(const SecretKey& key, const std::string& label, const std::string& secret,
                      std::chrono::milliseconds) override {
        items[key.account] = {label, secret};
        return {};
    }
    std::string remove(const SecretKey& key, std::chrono::milliseconds) override {
        items.erase(key.account);
        return {};
    }
};

// A keyring whose first answer waits until the test lets it go.
class SlowKeyring : public MemoryKeyring {
public:
    bool available(std::chrono::milliseconds) override {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, 10s, [this] { return m_released; });
        return true;
    }
    void release() {
        {
            const std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_released = false;
};

class PasswordPlaceTest : public test::PrefsFixture {
protected:
    QString place() const { return w<QLabel>("PasswordPlace")->text(); }
    MemoryKeyring keyring;
};

TEST_F(PasswordPlaceTest, TheAccountPageSaysInOneLineWhereThePasswordIsKept) {
    struct Case {
        const char* name;
        bool store;
        bool up;
        bool inFile;
        bool savePwd;
        const char* says;
    };
    const Case cases[] = {
        {"no keyring support", false, false, false, true,
         "Stored scrambled in tarn.ini; no keyring found"},
        {"no Secret Service", true, false, false, true,
         "Stored scrambled in tarn.ini; no keyring found"},
        {"keyring", true, true, false, true, "Stored in the desktop keyring"},
        {"file chosen", true, true, true, true, "Stored scrambled in tarn.ini, as chosen"},
        {"not saved", true, true, false, false, "Not saved; asked for at the first check"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keyring.up = c.up;
        session.settingsStore().setSecretStore(c.store ? &keyring : nullptr);
        make(1);
        session.settings().Main.PasswordsInFile = c.inFile;
        session.settings().account(1).SavePwd = c.savePwd;
        openAccount(1);
        EXPECT_EQ(place(), c.says);
    }
}

TEST_F(PasswordPlaceTest, TheLineFollowsTheKeyringsFirstAnswerWhileThePageIsShown) {
    SlowKeyring slow;
    SettingsStore& store = session.settingsStore();
    store.setSecretStore(&slow);
    store.setMainThreadPoster([](std::function<void()> f) {
        QMetaObject::invokeMethod(qApp, std::move(f), Qt::QueuedConnection);
    });
    make(1);
    store.probeKeyring();
    openAccount(1);
    EXPECT_EQ(place(), "Stored scrambled in tarn.ini until the keyring answers");

    slow.release();
    QElapsedTimer waited;
    waited.start();
    while ((store.keyringBusy() || place() != "Stored in the desktop keyring") &&
           waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(place(), "Stored in the desktop keyring") << "without the page being opened again";
    EXPECT_FALSE(store.keyringBusy());
}

TEST_F(PasswordPlaceTest, OkPutsTheTypedPasswordIntoTheKeyringAndNotIntoTheFile) {
    session.settingsStore().setSecretStore(&keyring);
    make(1);
    openAccount(1);
    setText("LabeledEdit1", "Work");
    setText("Edit26", "mail.example.org:995");
    setText("Edit27", "bob");
    setText("Edit30", "secret");
    w<QCheckBox>("SavePwdCheckBox")->setChecked(true);
    w<QPushButton>("SaveButton")->click();
    ASSERT_EQ(prefs->lastDiscardedError(), "");

    const IniFile f(dir.file("tarn.ini"));
    EXPECT_EQ(f.value("1", "Password"), "");
    EXPECT_EQ(f.value("1", "PasswordStore"), "keyring");
    const std::string id = f.readString("1", "SecretId", "");
    ASSERT_EQ(keyring.items.count(id), 1u);
    EXPECT_EQ(keyring.items[id].first, "Tarnwick: Work (bob@mail.example.org)");
    EXPECT_EQ(keyring.items[id].second, "secret");

    // A later run: the password is only in the keyring, the field shows where it is.
    session.settingsStore().load(SettingsReadInputs{});
    ASSERT_EQ(session.settings().account(1).Password, "");
    openAccount(1);
    setText("Edit30", "");
    prefs->runCommand([&] { prefs->accountPage().selectAccount(0); });
    EXPECT_EQ(w<QLineEdit>("Edit30")->placeholderText(), "(in the keyring)");
    w<QPushButton>("SaveButton")->click();
    EXPECT_EQ(keyring.items[id].second, "secret") << "an empty field keeps the password";
    EXPECT_EQ(IniFile(dir.file("tarn.ini")).value("1", "PasswordStore"), "keyring");
}

} // namespace
} // namespace tarn
