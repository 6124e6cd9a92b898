#pragma once

#include "check/MailListActions.h"
#include "checker/CrossThreadQueue.h"
#include "push/PushAccounts.h"

#include <QObject>

#include <map>
#include <memory>
#include <string>

class QWidget;

namespace tarn {

class Session;
class TF_CheckerWindow;

// The push accounts in the program: their idle connections follow the online state (every
// change of the online1 item) and the settings (whenever the preferences window closes, and
// at the end of every check, which may have asked for a password), a server's announcement
// asks for a check as the mail list's "Check New Mails" does, the end of each check may ask
// for the one an announcement during it wanted, and a wake-up from suspend starts every
// connection afresh and checks every push account.
class PushLink : public QObject {
    Q_OBJECT
public:
    // prefs: the preferences window, or none.
    PushLink(Session& session, TF_CheckerWindow& checker, QWidget* prefs,
             PushOptions options = PushOptions(), QObject* parent = nullptr);
    ~PushLink() override;

    PushAccounts& accounts() { return *m_push; }
    // After a suspend.
    void wokeUp();
    // At exit: every connection logs out on its own thread; nothing waits here.
    void stopAll();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CrossThreadQueue m_toMain;
    MailListActions m_actions;
    std::unique_ptr<PushAccounts> m_push;
    QWidget* m_prefs = nullptr;
    std::map<int, std::string> m_downSince; // per account, "HH:MM" or empty
};

} // namespace tarn
