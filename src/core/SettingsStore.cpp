#include "core/SettingsStore.h"

#include "core/IniFile.h"
#include "core/PasswordScrambling.h"
#include "core/PrivateFile.h"

#include <filesystem>
#include <set>
#include <vector>

namespace tarn {

SettingsStore::SettingsStore(std::string path)
    : m_path(std::move(path)), m_snapshot(std::make_shared<const Settings>()) {}

std::string SettingsStore::path() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

void SettingsStore::setPath(std::string path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_path = std::move(path);
}

SettingsReadResult SettingsStore::load(const SettingsReadInputs& inputs) {
    SettingsReadResult result;
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        result = loadSettingsFile(path(), inputs, m_live);
    }
    rememberKeyringItems();
    publish();
    return result;
}

void SettingsStore::save(const SaveInputs& now) {
    applyStoredTokens();
    Settings toFile = m_live;
    placePasswords(toFile);
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        saveSettingsFile(path(), toFile, now);
    }
    publish();
}

SecretKey SettingsStore::secretKey(const AccountSettings& account, SecretKind kind) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path folder = fs::absolute(fs::path(path()), ec).parent_path();
    const fs::path canonical = fs::weakly_canonical(folder, ec);
    if (!ec)
        folder = canonical;
    return {folder.string(), account.SecretId, kind};
}

bool SettingsStore::keyringInUse() {
    if (!m_secrets || m_live.Main.PasswordsInFile)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (m_keyringProbed == std::chrono::steady_clock::time_point{} ||
        now - m_keyringProbed > std::chrono::minutes(1)) {
        m_keyringAnswered = m_secrets->available(kKeyringSaveLimit);
        m_keyringProbed = now;
    }
    return m_keyringAnswered;
}

std::string SettingsStore::passwordPlace(const AccountSettings& account) {
    if (!account.SavePwd)
        return "Not saved; asked for at the first check";
    if (keyringInUse())
        return "Stored in the desktop keyring";
    if (account.passwordInKeyring())
        return "Stored in the desktop keyring, which does not answer now";
    if (m_live.Main.PasswordsInFile)
        return "Stored scrambled in tarn.ini, as chosen";
    return "Stored scrambled in tarn.ini; no keyring found";
}

void SettingsStore::rememberKeyringItems() {
    m_keyringItems.clear();
    for (const AccountSettings& a : m_live.Accounts)
        if (a.passwordInKeyring() && !a.SecretId.empty())
            m_keyringItems[a.SecretId] = {secretLabel(a), {}};
}

void SettingsStore::placePasswords(Settings& toFile) {
    const bool keyring = keyringInUse();
    // One failure (a locked or silent keyring) ends the keyring's part of this save: the
    // window waits for one bound at most.
    bool keyringFailed = false;
    const auto failed = [&](const AccountSettings& a, const std::string& why) {
        keyringFailed = true;
        reportPrivacyNotice("the keyring did not take the password of \"" + a.Name + "\" (" + why +
                            "); it stays in " + path() + ".");
    };
    std::set<std::string> present;
    for (std::size_t i = 0; i < m_live.Accounts.size(); ++i) {
        AccountSettings& live = m_live.Accounts[i];
        AccountSettings& out = toFile.Accounts[i];
        if (!live.SavePwd) {
            // Not saved anywhere: an item it had goes.
            if (live.passwordInKeyring() && keyring && !keyringFailed) {
                m_secrets->remove(secretKey(live, SecretKind::Password), kKeyringSaveLimit);
                m_keyringItems.erase(live.SecretId);
                live.PasswordStore.clear();
            }
            out.PasswordStore = live.PasswordStore;
            out.SecretId = live.SecretId;
            if (!live.SecretId.empty() && live.passwordInKeyring())
                present.insert(live.SecretId);
            continue;
        }
        if (keyring && !keyringFailed) {
            if (live.SecretId.empty())
                live.SecretId = newSecretId();
            const SecretKey key = secretKey(live, SecretKind::Password);
            const std::string label = secretLabel(live);
            auto known = m_keyringItems.find(live.SecretId);
            if (!live.Password.empty()) {
                if (known == m_keyringItems.end() || known->second.secret != live.Password ||
                    known->second.label != label) {
                    const std::string err =
                        m_secrets->write(key, label, live.Password, kKeyringSaveLimit);
                    if (err.empty())
                        m_keyringItems[live.SecretId] = {label, live.Password};
                    else
                        failed(live, err);
                }
            } else if (live.passwordInKeyring() && known != m_keyringItems.end() &&
                       known->second.label != label) {
                // Renamed (or another user or server): the item gets the new label.
                const SecretAnswer a = m_secrets->read(key, kKeyringSaveLimit);
                if (a.status == SecretAnswer::Status::Found) {
                    const std::string err =
                        m_secrets->write(key, label, a.secret, kKeyringSaveLimit);
                    if (err.empty())
                        known->second = {label, a.secret};
                    else
                        failed(live, err);
                } else if (a.status == SecretAnswer::Status::Failed) {
                    failed(live, a.error);
                }
            }
            known = m_keyringItems.find(live.SecretId);
            const bool held = known != m_keyringItems.end() &&
                              (live.Password.empty() ? live.passwordInKeyring()
                                                     : known->second.secret == live.Password);
            if (held) {
                live.PasswordStore = kKeyringStore;
                out.PasswordStore = kKeyringStore;
                out.SecretId = live.SecretId;
                out.Password.clear();
                present.insert(live.SecretId);
                continue;
            }
        }
        // The file keeps a password it knows; one that only the keyring knows keeps its mark.
        if (!live.Password.empty())
            live.PasswordStore.clear();
        out.PasswordStore = live.PasswordStore;
        out.SecretId = live.SecretId;
        if (live.passwordInKeyring())
            present.insert(live.SecretId);
    }
    // Deleted accounts (and passwords moved back to the file) leave the keyring.
    if (keyring && !keyringFailed) {
        for (auto it = m_keyringItems.begin(); it != m_keyringItems.end();) {
            if (present.count(it->first)) {
                ++it;
                continue;
            }
            AccountSettings gone;
            gone.SecretId = it->first;
            for (SecretKind kind : {SecretKind::Password, SecretKind::OAuthRefreshToken})
                m_secrets->remove(secretKey(gone, kind), kKeyringSaveLimit);
            it = m_keyringItems.erase(it);
        }
    }
}

void SettingsStore::loadColorSet() {
    std::lock_guard<std::mutex> file(m_fileMutex);
    BlueColorSet(IniFile(path()), m_live.Main);
}

void SettingsStore::saveColorSet(const CheckerColors& inUse) {
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        tarn::saveColorSet(path(), inUse);
    }
    announce({SettingsChange::Section, std::string(kColorSetSection), false});
}

const EMailListSettings& SettingsStore::loadEMailList(const EMailListInputs& inputs) {
    std::lock_guard<std::mutex> file(m_fileMutex);
    m_live.EMailList = readEMailListSection(IniFile(path()), inputs, m_live.Main);
    return m_live.EMailList;
}

void SettingsStore::saveEMailList() {
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        saveEMailListSection(path(), m_live.EMailList, m_live.Main);
    }
    announce({SettingsChange::Section, std::string(kEMailListSection), false});
}

std::shared_ptr<const Settings> SettingsStore::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_snapshot;
}

void SettingsStore::publish() {
    auto next = std::make_shared<const Settings>(m_live);
    bool accountsChanged = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        accountsChanged = m_snapshot->Accounts != next->Accounts;
        m_snapshot = std::move(next);
    }
    if (accountsChanged)
        announce({SettingsChange::Accounts, {}, false});
}

bool SettingsStore::online() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_online;
}

void SettingsStore::setOnline(bool online) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_online == online)
            return;
        m_online = online;
    }
    announce({SettingsChange::Online, {}, online});
}

int SettingsStore::subscribe(Subscriber subscriber) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const int id = m_nextId++;
    m_subscribers.emplace(id, std::move(subscriber));
    return id;
}

void SettingsStore::unsubscribe(int id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscribers.erase(id);
}

void SettingsStore::announce(const SettingsEvent& event) {
    // Called outside the lock: a subscriber may subscribe, unsubscribe or read a snapshot.
    std::vector<Subscriber> subscribers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        subscribers.reserve(m_subscribers.size());
        for (const auto& [id, s] : m_subscribers)
            subscribers.push_back(s);
    }
    for (const Subscriber& s : subscribers)
        s(event);
}

} // namespace tarn

namespace tarn {

SettingsStore::OAuthTokenState SettingsStore::oauthTokens(const std::string& secretId) const {
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    const auto it = m_tokens.find(secretId);
    return it == m_tokens.end() ? OAuthTokenState{} : it->second;
}

void SettingsStore::rememberAccessToken(const std::string& secretId, const std::string& token,
                                        std::chrono::system_clock::time_point expires) {
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    OAuthTokenState& state = m_tokens[secretId];
    state.accessToken = token;
    state.expires = expires;
}

void SettingsStore::forgetAccessToken(const std::string& secretId) {
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    if (const auto it = m_tokens.find(secretId); it != m_tokens.end()) {
        it->second.accessToken.clear();
        it->second.expires = {};
    }
}

std::string SettingsStore::storeRefreshToken(int number, const AccountSettings& account,
                                             const std::string& token,
                                             std::chrono::milliseconds limit) {
    if (account.SecretId.empty())
        return "The account has no SecretId to keep its sign-in under.";
    const bool passwordsInFile = snapshot()->Main.PasswordsInFile;
    bool inKeyring = false;
    std::string keyringError;
    if (m_secrets && !passwordsInFile && m_secrets->available(limit)) {
        keyringError = m_secrets->write(secretKey(account, SecretKind::OAuthRefreshToken),
                                        secretLabel(account), token, limit);
        inKeyring = keyringError.empty();
    }
    try {
        std::lock_guard<std::mutex> file(m_fileMutex);
        IniFile ini = IniFile::loadForUpdate(path());
        const std::string section = std::to_string(number);
        // The section must still be this account's: a renumbering since the check began
        // would otherwise give the token to another account.
        if (ini.readString(section, "SecretId", "") != account.SecretId &&
            !(ini.readString(section, "SecretId", "").empty() &&
              ini.readString(section, "Name", "") == account.Name))
            return "The account is no longer number " + section + " in the settings file.";
        ini.writeString(section, "SecretId", account.SecretId);
        ini.writeString(section, "OAuthToken", inKeyring ? "" : storedPasswordText(token));
        ini.writeString(section, "OAuthTokenStore", inKeyring ? kKeyringStore : "");
        ini.save();
    } catch (const std::exception& e) {
        return std::string("The sign-in could not be saved: ") + e.what();
    }
    if (!keyringError.empty())
        reportPrivacyNotice("the keyring did not take the sign-in of \"" + account.Name + "\" (" +
                            keyringError + "); it is kept in " + path() + ".");
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    OAuthTokenState& state = m_tokens[account.SecretId];
    state.refreshToken = token;
    state.refreshTokenStored = true;
    state.inKeyring = inKeyring;
    return {};
}

void SettingsStore::applyStoredTokens() {
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    for (auto& [id, state] : m_tokens) {
        if (!state.refreshTokenStored)
            continue;
        for (AccountSettings& a : m_live.Accounts) {
            if (a.SecretId != id)
                continue;
            a.OAuthRefreshToken = state.inKeyring ? std::string() : state.refreshToken;
            a.OAuthTokenStore = state.inKeyring ? kKeyringStore : "";
        }
        state.refreshTokenStored = false;
    }
}

} // namespace tarn
