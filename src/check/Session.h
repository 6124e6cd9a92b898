#pragma once

#include "check/ThreadRegistry.h"
#include "core/AccountRuntimeTable.h"
#include "core/Clock.h"
#include "core/Settings.h"
#include "core/SettingsStore.h"
#include "filters/FilterListHolder.h"
#include "platform/NamedLocks.h"
#include "store/MailListDB.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace tarn {

// A new account n as the preferences create it (not the reader's defaults: the password is
// not saved), coloured with the colour set in use.
AccountSettings newAccountDefaults(int n, const CheckerColors& colors);

// The program's running state below the windows: settings, per-account run-time state, the
// filter snapshot, the mail list and the named locks. The checker window, tarnwick-check and
// the tests all drive the same object.
class Session {
public:
    // The named locks are created first, in their fixed order, then the mail list.
    explicit Session(std::string workingFolder, const Clock& clock = systemClock(),
                     const std::string& lockSuffix = std::string());
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& workingFolder() const { return m_workingFolder; }
    // Also moves the settings store to tarn.ini of the new folder.
    void setWorkingFolder(std::string folder);
    const Clock& clock() const { return m_clock; }

    NamedLocks& locks() { return m_locks; }
    MailListDB& db() { return m_db; }
    // The live settings the windows edit; the store owns them and the file.
    Settings& settings() { return m_store.live(); }
    const Settings& settings() const { return m_store.live(); }
    SettingsStore& settingsStore() { return m_store; }
    AccountRuntimeTable& runtime() { return m_runtime; }
    FilterListHolder& filters() { return m_filters; }

    // Brings the run-time table and the filter snapshot in line with the settings (after
    // reading tarn.ini, or after the preferences changed accounts or filters).
    void syncWithSettings();
    // The run-time record of account n, or null outside 1..ECount. Any thread may ask; the
    // record stays valid for the session's life, also after the account is deleted (see
    // AccountRuntimeTable).
    AccountRuntime* runtimeOf(int n);
    // The preferences' "Create New Account": account ECount + 1 with the editor's defaults
    // (named "Account " + the new count whatever names exist), idle run-time state. Returns
    // its number.
    int createAccount();
    // The preferences' "Delete Account" for account d (1..ECount, at least two accounts):
    // the accounts above d move down one place with their settings and whole run-time
    // records, the mail list's records of d go and later ones follow their account, and so
    // do the filters. Throws TarnError when d is not an account or is the only one.
    void deleteAccount(int d);

    // --- start-up, shared by the program and tarnwick-check ---
    // Reads tarn.ini of the working folder through the store (the working folder is filled
    // into inputs) and brings the run-time state in line.
    SettingsReadResult LoadSettings(SettingsReadInputs inputs);
    // Loads the saved mail list as the settings ask; errorBox shows what the user must know.
    // Returns the accounts whose records changed.
    std::set<int> LoadStore(bool releaseChanged, std::function<void(const std::string&)> errorBox);

    // --- rules the windows trigger, reachable without a window ---
    // Counts account n's messages that are not hidden (under the MailDB lock) into its
    // ShownCount, as the end of a check does; returns the count.
    long long RecountShown(int account);
    // Whether the mail list holds any message, of any account, that is not hidden.
    bool AnyShownMessage();
    // "Hide Messages" of account n (0: all); a failure ends the walk and what was hidden
    // stays hidden. True when the tray must be brought up to date now: the program is online
    // and no check runs (while one runs, the activity timer does it at the end).
    bool HideMessages(int account, bool checksRunning);
    // Path of a file in the working folder.
    std::string path(std::string_view name) const;

    std::atomic<bool> Quitting{false};
    std::atomic<bool> Online{true};

    // Every thread beside the main thread (checks, idle connections, the mailbox listing, the
    // update check) registers here; the exit waits on it before it lets the session go.
    ThreadRegistry& threads() { return *m_threads; }
    // The same registry, co-owned: for a thread that leaves it after the session may be gone
    // (an idle connection still saying goodbye to its server).
    std::shared_ptr<ThreadRegistry> sharedThreads() const { return m_threads; }
    // Check workers, counted in threads(): a worker registers before its thread starts and
    // deregisters as its last act.
    void workerStarted() { m_threads->enter(ThreadRegistry::Kind::Check); }
    void workerEnded() { m_threads->leave(ThreadRegistry::Kind::Check); }
    int runningWorkers() const { return m_threads->running(); }
    // True when no registered thread runs any more within the time given.
    bool waitForWorkers(std::chrono::milliseconds timeout) const {
        return m_threads->waitUntilNoneRun(timeout);
    }

private:
    std::string m_workingFolder;
    const Clock& m_clock;
    NamedLocks m_locks;
    MailListDB m_db;
    SettingsStore m_store;
    Settings& m_settings; // the store's live settings
    AccountRuntimeTable m_runtime;
    FilterListHolder m_filters;
    std::shared_ptr<ThreadRegistry> m_threads = std::make_shared<ThreadRegistry>();
};

} // namespace tarn
