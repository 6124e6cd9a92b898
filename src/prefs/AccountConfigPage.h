#pragma once

#include "core/AccountSettings.h"
#include "prefs/PrefsPage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class AccountConfigPage;
}

namespace tarn {

class BackgroundTask;
class MailboxLister;
struct SettingsSearchOptions;
struct SettingsSearchResult;

// The "Account Configuration" page: one account's settings at a time, and the creation and
// deletion of accounts. The hidden selector ComboBox6 names the account the next load brings
// in; the dialog's current account index names the account the page holds.
class AccountConfigPage : public PrefsPage {
    Q_OBJECT
public:
    static constexpr const char* IllegalValueText = "You entered at least one illeagal value.";
    static constexpr const char* NotANumberText =
        "Error: That is not a number! Resetting the check frequency...";
    static constexpr const char* LastAccountText = "You must have at least one account!";
    static constexpr const char* DeleteQuestion = "Do you really want to delete ";

    explicit AccountConfigPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~AccountConfigPage() override;

    // Load: account (selector index + 1) into the page; nothing when the selector is empty.
    void ComboBox6_update_sheet();
    // Store: the page into account (current account index + 1). Throws TarnError when the
    // frequency is not a number, after the text fields are stored.
    void set_ComboBox6_settings();
    // Store the account held (if any), then load the selected one; a failed store keeps the
    // previous account.
    void ComboBox6Change();
    // Sets the selector (without its own change handling) and switches as ComboBox6Change.
    void selectAccount(int index);
    // Selector, tree nodes and the first account loaded, from memory.
    void TabSheet9Show();
    void NewButton1Click();
    void DeletebuttonClick();
    void Edit29Exit();
    void CheckBox14Click();
    void rgServerTypeClick();
    void cbMailBoxEnter();
    void MailClientComboBox1Change();
    void CAccActiveClick();
    void CAccIdleClick();
    void ResetAccColorsClick();
    void focusName();
    // "Test Connection": logs in with the fields as typed and counts the messages, on a
    // thread of its own; the outcome stands in the line under the address.
    void TestConnectionClick();
    BackgroundTask& connectionTester() { return *m_tester; }
    // "Find Settings": looks up the settings for the address typed above the server, on a
    // thread of its own; while it runs the button reads "Stop" and stops it.
    void FindSettingsClick();
    BackgroundTask& settingsFinder() { return *m_finder; }
    // Changes what the search uses (its fetcher and resolver) before each run.
    void setSettingsSearchSeams(std::function<void(SettingsSearchOptions&)> seams) {
        m_searchSeams = std::move(seams);
    }

    std::optional<RangeProblem> rangeProblem() override;

    MailboxLister& mailboxLister() { return *m_lister; }
    std::uint32_t activeSwatch() const { return m_activeColor; }
    std::uint32_t idleSwatch() const { return m_idleColor; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The one line saying where the account's saved password is kept.
    void showPasswordPlace(const AccountSettings& acc);
    void setSwatch(bool active, std::uint32_t color);
    void showFrequency(int timerMs);
    // The account the selector names (1-based), or 0.
    int selectorAccount() const;
    void chooseSwatchColor(bool active);
    void repaintFields();
    void stopListing();
    // Drops the answer of a connection test under way (the fields it tested changed).
    void stopTest();
    // Drops the answer of a settings search under way.
    void stopFinding();
    // Fills the server fields from what the search found, or says that it found nothing.
    void showFoundSettings(const SettingsSearchResult& found, const std::string& domain);
    // The held account with the connection fields as the page shows them.
    AccountSettings accountAsTyped();
    // The port beside the server and the warning of a connection without security, for the
    // type, security and server the page shows.
    void showConnectionChoice();
    // The security chosen on the page; the held account's own value while the page shows
    // none of its choices.
    int securityShown();

    std::unique_ptr<Ui::AccountConfigPage> m_ui;
    MailboxLister* m_lister = nullptr;
    BackgroundTask* m_tester = nullptr;
    BackgroundTask* m_finder = nullptr;
    std::function<void(SettingsSearchOptions&)> m_searchSeams;
    // The sign-in of the server a search found, for the next store (no control shows it
    // here): the OAuth 2.0 provider's id, or empty for a server that takes a password.
    std::optional<std::string> m_foundOAuthProvider;
    std::uint32_t m_activeColor = 0;
    std::uint32_t m_idleColor = 0;
};

} // namespace tarn
