#pragma once

#include <string>

namespace tarn {

// What the checker window asks of the mail list window, which sits above it.
class MailListPresenter {
public:
    virtual ~MailListPresenter() = default;
    // Rebuilds the list for an account (0 = all), shows the window, restores it when
    // minimised and activates it: the user asked for it.
    virtual void showList(int account) = 0;
    // The same for the new-mail pop-up, which never takes the keyboard focus.
    virtual void popupList(int account) = 0;
    virtual int viewAccount() const = 0;
    virtual bool listVisible() const = 0;
    virtual void RebuildList(int account) = 0;
    virtual void BuildAccountMenu() = 0;
    // A check of the account failed for this reason; shown where its activity shows.
    // It stays in the list's status bar, in the account's view and in the view of all
    // accounts, until a check of that account succeeds.
    virtual void showCheckFailure(int account, const std::string& reason) = 0;
    virtual void checkSucceeded(int account) = 0;
    // Opens the program's help, or tells the user that there is none.
    virtual void help() = 0;
};

} // namespace tarn
