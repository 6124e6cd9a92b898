#pragma once

#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/TestApp.h"
#include "core/FakeCheckTimers.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "platform/NamedMutex.h"
#include "platform/PowerOff.h"
#include "prefs/AccountConfigPage.h"
#include "prefs/AccountsPage.h"
#include "prefs/TF_Prefs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarn::test {

// Never powers off; counts the requests a shutdown filter's countdown makes.
struct NoPowerOff : PowerOff {
    bool powerOff() override {
        ++calls;
        return false;
    }
    int calls = 0;
};

// A session in a temporary working folder, its checker window on fake timers (checks are only
// recorded), and the preferences dialog with its message boxes and file and colour dialogs
// replaced by recorders.
class PrefsFixture : public ::testing::Test {
protected:
    PrefsFixture() : session(dir.path().string(), systemClock(), uniqueLockSuffix()) { app(); }

    // Accounts named A1, A2, ... unless names are given.
    void make(int accounts, std::vector<std::string> names = {}) {
        prefs.reset();
        window.reset();
        Settings& s = session.settings();
        s.Accounts.clear();
        for (int i = 1; i <= accounts; ++i) {
            AccountSettings acc = defaultAccount(i, s.Main.Colors);
            acc.Name = i <= static_cast<int>(names.size()) ? names[i - 1] : "A" + std::to_string(i);
            acc.Host = "127.0.0.1:1";
            s.Accounts.push_back(acc);
        }
        s.Main.ECount = accounts;
        session.syncWithSettings();
        window = std::make_unique<TF_CheckerWindow>(session, powerOff, &timers);
        window->setCheckStarter([this](int a) { started.push_back(a); });
        window->E_Setlengths(false);
        prefs = std::make_unique<TF_Prefs>(session, *window, options);
        PrefsDialogs& d = prefs->dialogs();
        d.chooseColor = [this](std::uint32_t initial) {
            colorAsked.push_back(initial);
            return colorAnswer;
        };
        d.openFileName = [this](const QString& title, const QString&) {
            fileTitles.push_back(title.toStdString());
            return fileAnswer;
        };
        d.confirm = [this](const QString& text) {
            questions.push_back(text.toStdString());
            return confirmAnswer;
        };
        d.error = [this](const QString& text) { errors.push_back(text.toStdString()); };
        d.warning = [this](const QString& text) { notices.push_back(text.toStdString()); };
        MailListHooks hooks;
        hooks.show = [this] { ++mailListShown; };
        hooks.BuildAccountMenu = [this] { ++accountMenuBuilt; };
        prefs->setMailListHooks(hooks);
    }

    template <class T = QWidget> T* w(const char* name) const {
        T* x = prefs->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(x) << name;
        return x;
    }
    QString text(const char* name) const { return w<QLineEdit>(name)->text(); }
    void setText(const char* name, const QString& value) const {
        w<QLineEdit>(name)->setText(value);
    }
    QTreeWidget* tree() const { return w<QTreeWidget>("PrefsTree"); }
    QString nodeText(int absoluteIndex) const {
        QTreeWidgetItem* item = prefs->nodeAt(absoluteIndex);
        return item ? item->text(0) : QString();
    }
    // Opens the dialog as "Preferences..." does and shows account n's page.
    void openAccount(int n) {
        prefs->openPreferences();
        prefs->selectNode(n);
        ASSERT_EQ(prefs->currentPage(), &prefs->accountPage());
        ASSERT_EQ(prefs->currentAccountIndex(), n - 1);
    }
    QString fieldHint(int a) const { return window->EShowVar(a)->toolTip(); }
    bool iniExists() const { return std::filesystem::exists(dir.file("tarn.ini")); }

    TempDir dir;
    Session session;
    NoPowerOff powerOff;
    FakeCheckTimers timers;
    std::vector<int> started;
    PrefsOptions options;
    std::unique_ptr<TF_CheckerWindow> window;
    std::unique_ptr<TF_Prefs> prefs;

    std::optional<std::uint32_t> colorAnswer;
    std::vector<std::uint32_t> colorAsked;
    std::string fileAnswer;
    std::vector<std::string> fileTitles;
    bool confirmAnswer = true;
    std::vector<std::string> questions;
    std::vector<std::string> errors;
    std::vector<std::string> notices; // warnings
    int mailListShown = 0;
    int accountMenuBuilt = 0;
};

} // namespace tarn::test
