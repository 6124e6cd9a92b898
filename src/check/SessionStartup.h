#pragma once

#include "check/Session.h"
#include "core/CommandLine.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tarn {

// The start-up steps below the windows, shared by the program and tarnwick-check: the named
// locks, the working folder, tarn.ini through the settings store, the run-time state and the
// saved mail list. The windows run their own steps between these.
class SessionStartup {
public:
    struct Options {
        std::string currentFolder;     // the working folder unless "-d" says otherwise
        std::vector<std::string> args; // the command line without the program name
        std::string lockSuffix;        // tests keep their named locks apart
        const Clock* clock = nullptr;  // null: the system clock
        int imapPort = 143;            // the checks' CheckOptions::imapPort
    };

    // Creates the session (its named locks first, before anything can use the mail list) and
    // applies the command line's working folder.
    explicit SessionStartup(Options options);

    Session& session() { return *m_session; }
    // Hands the session to its long-term owner. The later steps still reach it, as long as
    // that owner keeps it.
    std::unique_ptr<Session> release() { return std::move(m_owned); }
    const CommandLineBefore& commandLine() const { return m_before; }

    // Reads tarn.ini of the working folder through the store and brings the run-time state in
    // line with it.
    SettingsReadResult readSettings(SettingsReadInputs inputs);
    // Loads the saved mail list as the settings read ask; errorBox shows what the user must
    // know. Returns the accounts whose records changed. The IMAP4 state files of mailboxes no
    // account names any more are removed then (not on a first start, whose settings are
    // defaults).
    std::set<int> loadMailList(std::function<void(const std::string&)> errorBox);

    const SettingsReadResult& settingsRead() const { return m_read; }

private:
    std::unique_ptr<Session> m_owned;
    Session* m_session;
    CommandLineBefore m_before;
    SettingsReadResult m_read;
    bool m_settingsRead = false;
    int m_imapPort = 143;
};

} // namespace tarn
