#include "check/Session.h"

#include "core/TarnError.h"
#include "platform/NamedMutex.h"
#include "store/MailStoreFiles.h"

namespace tarn {

Session::Session(std::string workingFolder, const Clock& clock, const std::string& lockSuffix)
    : m_workingFolder(std::move(workingFolder)), m_clock(clock), m_locks(lockSuffix),
      m_db(m_locks.mailDB()), m_store(joinPath(m_workingFolder, kSettingsFileName)),
      m_settings(m_store.live()) {}

void Session::setWorkingFolder(std::string folder) {
    m_workingFolder = std::move(folder);
    m_store.setPath(path(kSettingsFileName));
}

void Session::syncWithSettings() {
    m_runtime.resize(m_settings.accountCount());
    m_filters.store(m_settings.Filters);
    m_store.publish();
}

AccountRuntime* Session::runtimeOf(int n) {
    return m_runtime.find(n);
}

SettingsReadResult Session::LoadSettings(SettingsReadInputs inputs) {
    inputs.workingFolder = m_workingFolder;
    const SettingsReadResult read = m_store.load(inputs);
    syncWithSettings();
    return read;
}

std::set<int> Session::LoadStore(bool releaseChanged,
                                 std::function<void(const std::string&)> errorBox) {
    StoreLoadOptions load;
    load.folder = m_workingFolder;
    load.KeepMailDB = m_settings.Main.KeepMailDB;
    load.ReleaseChanged = releaseChanged;
    load.ECount = m_settings.accountCount();
    load.errorBox = std::move(errorBox);
    return MailStoreFiles::LoadStore(m_db, load);
}

long long Session::RecountShown(int account) {
    long long count = 0;
    {
        NamedLock lock(m_db.mutex());
        count = m_db.CountShownMessages(account);
    }
    if (AccountRuntime* rt = runtimeOf(account))
        rt->ShownCount = static_cast<int>(count);
    return count;
}

bool Session::AnyShownMessage() {
    NamedLock lock(m_db.mutex());
    return m_db.CountAllShownMessages() > 0;
}

bool Session::HideMessages(int account, bool checksRunning) {
    try {
        NamedLock lock(m_db.mutex());
        m_db.HideMessages(account);
    } catch (const std::exception&) {
        // An error ends the walk; what was hidden stays hidden.
    }
    return !checksRunning && Online;
}

AccountSettings newAccountDefaults(int n, const CheckerColors& colors) {
    AccountSettings a = defaultAccount(n, colors);
    // A new account asks for its password until the user chooses to keep it.
    a.SavePwd = false;
    // No public provider takes passwords in clear text any more.
    a.Security = static_cast<int>(ConnectionSecurity::Tls);
    return a;
}

int Session::createAccount() {
    NamedLock lock(m_db.mutex());
    const int n = m_settings.accountCount() + 1;
    m_settings.Accounts.push_back(newAccountDefaults(n, m_settings.Main.Colors));
    m_settings.Main.ECount = n;
    m_runtime.resize(n);
    return n;
}

void Session::deleteAccount(int d) {
    const int count = m_settings.accountCount();
    if (d < 1 || d > count)
        throw TarnError("no account " + std::to_string(d));
    if (count <= 1)
        throw TarnError("You must have at least one account!");
    // Settings, run-time records and the mail list's records change together under the MailDB
    // lock, under which workers read their account's number: a running check of a later
    // account files its results under its new number, one of account d files nothing.
    NamedLock lock(m_db.mutex());
    m_runtime.resize(count);
    m_settings.Accounts.erase(m_settings.Accounts.begin() + (d - 1));
    m_settings.Main.ECount = count - 1;
    m_runtime.remove(d);

    std::vector<MailRecord> records;
    for (const MailRecord* r : m_db.storedRecords()) {
        const int a = r->Account.value_or(0);
        if (a == d)
            continue;
        MailRecord copy = *r;
        if (a > d)
            copy.Account = a - 1;
        records.push_back(std::move(copy));
    }
    m_db.replaceAll(std::move(records));

    std::vector<TFilter> kept;
    kept.reserve(m_settings.Filters.size());
    for (TFilter f : m_settings.Filters) {
        if (f.Account == d)
            continue;
        if (f.Account > d)
            --f.Account;
        kept.push_back(std::move(f));
    }
    m_settings.Filters = std::move(kept);
    m_settings.Main.FilterCount = static_cast<int>(m_settings.Filters.size());
    m_filters.store(m_settings.Filters);
}

std::string Session::path(std::string_view name) const {
    return joinPath(m_workingFolder, name);
}

} // namespace tarn
