#include "core/SettingsStore.h"

#include "core/IniFile.h"
#include "core/PasswordScrambling.h"
#include "core/PrivateFile.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <vector>

namespace tarn {

SettingsStore::SettingsStore(std::string path)
    : m_path(std::move(path)), m_snapshot(std::make_shared<const Settings>()) {}

SettingsStore::~SettingsStore() {
    // A completion still queued for the owner's thread finds the store gone.
    *m_self = nullptr;
    if (m_keyringThread.joinable())
        m_keyringThread.join();
}

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
    probeKeyring();
    return result;
}

void SettingsStore::writeFileAndPublish(const Settings& toFile, const SaveInputs& now) {
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        saveSettingsFile(path(), toFile, now);
    }
    publish();
}

void SettingsStore::save(const SaveInputs& now) {
    applyStoredTokens();
    m_lastSave = now;
    // A few rounds at most: each one either leaves nothing for the keyring to do, or ends it
    // for a minute by failing, or settles what the round before asked for.
    for (int round = 0; round < 4; ++round) {
        Settings toFile = m_live;
        KeyringBatch batch = planPasswords(toFile);
        // The file is written first: a password leaves it only once the keyring holds it,
        // and an item goes only once the file holds its password again.
        writeFileAndPublish(toFile, now);
        if (!batch.probe && batch.jobs.empty())
            return;
        if (m_post) {
            if (m_keyringBusy)
                m_saveAgain = true;
            else {
                batch.fromSave = true;
                startKeyringBatch(std::move(batch));
            }
            return;
        }
        runKeyringJobs(m_secrets, batch);
        if (!applyKeyringBatch(batch))
            return;
    }
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

void SettingsStore::probeKeyring() {
    if (!m_post || !m_secrets || m_keyringBusy)
        return;
    KeyringBatch batch;
    batch.probe = true;
    batch.assumed = m_keyringAnswered;
    startKeyringBatch(std::move(batch));
}

void SettingsStore::startKeyringBatch(KeyringBatch batch) {
    m_keyringBusy = true;
    if (m_keyringThread.joinable())
        m_keyringThread.join(); // it has posted its completion and is ending
    std::weak_ptr<SettingsStore*> self = m_self;
    m_keyringThread = std::thread([store = m_secrets, post = m_post, self, batch]() mutable {
        runKeyringJobs(store, batch);
        post([self, batch] {
            const auto alive = self.lock();
            if (!alive || !*alive)
                return;
            SettingsStore& me = **alive;
            me.m_keyringBusy = false;
            // A probe alone never writes: only a save knows the window's state to write.
            const bool applied = me.applyKeyringBatch(batch);
            const bool again = (applied && batch.fromSave) || me.m_saveAgain;
            me.m_saveAgain = false;
            if (again)
                me.save(me.m_lastSave);
        });
    });
}

bool SettingsStore::keyringReachable() {
    if (!m_secrets)
        return false;
    const auto now = std::chrono::steady_clock::now();
    const bool stale = m_keyringProbed == std::chrono::steady_clock::time_point{} ||
                       now - m_keyringProbed > std::chrono::minutes(1);
    if (stale && !m_post) {
        m_keyringAnswered = m_secrets->available(kKeyringSaveLimit);
        m_keyringProbed = now;
    }
    return m_keyringAnswered;
}

bool SettingsStore::keyringInUse() {
    return !m_live.Main.PasswordsInFile && keyringReachable();
}

std::string SettingsStore::passwordPlace(const AccountSettings& account) {
    if (!account.SavePwd)
        return "Not saved; asked for at the first check";
    if (keyringInUse())
        return "Stored in the desktop keyring";
    if (account.passwordInKeyring())
        return m_keyringProbed == std::chrono::steady_clock::time_point{}
                   ? "Stored in the desktop keyring"
                   : "Stored in the desktop keyring, which does not answer now";
    if (m_live.Main.PasswordsInFile)
        return "Stored scrambled in tarn.ini, as chosen";
    if (m_secrets && m_keyringProbed == std::chrono::steady_clock::time_point{})
        return "Stored scrambled in tarn.ini until the keyring answers";
    return "Stored scrambled in tarn.ini; no keyring found";
}

void SettingsStore::rememberKeyringItems() {
    m_keyringItems.clear();
    m_tokenItems.clear();
    for (const AccountSettings& a : m_live.Accounts) {
        if (a.SecretId.empty())
            continue;
        if (a.passwordInKeyring())
            m_keyringItems[a.SecretId] = {secretLabel(a), {}};
        if (a.refreshTokenInKeyring())
            m_tokenItems[a.SecretId] = {secretLabel(a), {}};
    }
}

namespace {

// Where an account keeps one kind of secret: the secret itself and its keyring mark.
struct SecretFields {
    std::string AccountSettings::*secret;
    std::string AccountSettings::*store;
};

SecretFields fieldsOf(SecretKind kind) {
    if (kind == SecretKind::Password)
        return {&AccountSettings::Password, &AccountSettings::PasswordStore};
    return {&AccountSettings::OAuthRefreshToken, &AccountSettings::OAuthTokenStore};
}

const char* secretWord(SecretKind kind) {
    return kind == SecretKind::Password ? "password" : "sign-in";
}

} // namespace

SettingsStore::KeyringBatch SettingsStore::planPasswords(Settings& toFile) {
    using Op = KeyringJob::Op;
    KeyringBatch batch;
    if (!m_secrets)
        return batch;
    const auto now = std::chrono::steady_clock::now();
    batch.probe = m_post && (m_keyringProbed == std::chrono::steady_clock::time_point{} ||
                             now - m_keyringProbed > std::chrono::minutes(1));
    const bool reachable = keyringReachable();
    batch.assumed = reachable;
    const bool keyring = reachable && !m_live.Main.PasswordsInFile;
    const auto job = [&](Op op, const AccountSettings& a, SecretKind kind) {
        KeyringJob j;
        j.op = op;
        j.secretId = a.SecretId;
        j.key = secretKey(a, kind);
        j.label = secretLabel(a);
        j.accountName = a.Name;
        if (op == Op::Write)
            j.secret = a.*fieldsOf(kind).secret;
        batch.jobs.push_back(std::move(j));
    };
    std::set<std::string> present[2]; // by SecretKind: the items the file still needs
    // One kind of one account's secret: the password and the refresh token follow the same
    // rules, so that the user's choice of place holds for both.
    const auto plan = [&](AccountSettings& live, AccountSettings& out, SecretKind kind) {
        const SecretFields f = fieldsOf(kind);
        std::string& secret = live.*f.secret;
        std::string& mark = live.*f.store;
        std::set<std::string>& held = present[static_cast<int>(kind)];
        KeyringItems& items = keyringItems(kind);
        if (keyring) {
            if (live.SecretId.empty())
                live.SecretId = newSecretId();
            const std::string label = secretLabel(live);
            const auto known = items.find(live.SecretId);
            if (!secret.empty()) {
                if (known == items.end() || known->second.secret != secret ||
                    known->second.label != label)
                    job(Op::Write, live, kind);
            } else if (mark == kKeyringStore && known != items.end() &&
                       known->second.label != label) {
                // Renamed (or another user or server): the item gets the new label.
                job(Op::Relabel, live, kind);
            }
            const bool inKeyring =
                known != items.end() &&
                (secret.empty() ? mark == kKeyringStore : known->second.secret == secret);
            if (inKeyring) {
                mark = kKeyringStore;
                out.*f.store = kKeyringStore;
                out.SecretId = live.SecretId;
                (out.*f.secret).clear();
                held.insert(live.SecretId);
                return;
            }
        } else if (reachable && mark == kKeyringStore && secret.empty() && !live.SecretId.empty()) {
            // The user chose the file: the secret comes back from the keyring first.
            job(Op::Fetch, live, kind);
        }
        // The file keeps a secret it knows; one that only the keyring knows keeps its mark.
        if (!secret.empty())
            mark.clear();
        out.*f.store = mark;
        out.SecretId = live.SecretId;
        if (mark == kKeyringStore)
            held.insert(live.SecretId);
    };
    for (std::size_t i = 0; i < m_live.Accounts.size(); ++i) {
        AccountSettings& live = m_live.Accounts[i];
        AccountSettings& out = toFile.Accounts[i];
        // A sign-in is kept whether or not the password is.
        if (!live.OAuthRefreshToken.empty() || live.refreshTokenInKeyring())
            plan(live, out, SecretKind::OAuthRefreshToken);
        if (!live.SavePwd) {
            // Not saved anywhere: an item it had goes once the keyring answers.
            if (live.passwordInKeyring() && reachable)
                live.PasswordStore.clear();
            out.PasswordStore = live.PasswordStore;
            out.SecretId = live.SecretId;
            continue;
        }
        plan(live, out, SecretKind::Password);
    }
    // Deleted accounts (and secrets moved back to the file) leave the keyring, after the
    // file that no longer needs them is written.
    if (reachable) {
        for (const SecretKind kind : {SecretKind::Password, SecretKind::OAuthRefreshToken}) {
            for (const auto& entry : keyringItems(kind)) {
                if (present[static_cast<int>(kind)].count(entry.first))
                    continue;
                AccountSettings gone;
                gone.SecretId = entry.first;
                job(Op::Remove, gone, kind);
            }
        }
    }
    if (!batch.probe && batch.jobs.empty())
        return {};
    return batch;
}

void SettingsStore::runKeyringJobs(SecretStore* store, KeyringBatch& batch) {
    using Op = KeyringJob::Op;
    if (!store)
        return;
    if (batch.probe) {
        batch.answered = store->available(kKeyringSaveLimit);
        // Planned on another answer: the next save plans again.
        if (batch.answered != batch.assumed || !batch.answered)
            return;
    }
    for (KeyringJob& j : batch.jobs) {
        switch (j.op) {
        case Op::Write:
            j.error = store->write(j.key, j.label, j.secret, kKeyringSaveLimit);
            break;
        case Op::Relabel:
        case Op::Fetch: {
            const SecretAnswer a = store->read(j.key, kKeyringSaveLimit);
            if (a.status == SecretAnswer::Status::Found) {
                j.secret = a.secret;
                if (j.op == Op::Relabel)
                    j.error = store->write(j.key, j.label, a.secret, kKeyringSaveLimit);
            } else if (a.status == SecretAnswer::Status::NotFound) {
                j.error = std::string("the keyring holds no ") + secretWord(j.key.kind) + " for it";
            } else {
                j.error = a.error;
            }
            break;
        }
        case Op::Remove:
            j.error = store->remove(j.key, kKeyringSaveLimit);
            break;
        }
        j.ok = j.error.empty();
        if (!j.ok && j.op != Op::Fetch)
            return; // one failure ends the keyring's part: the rest is not tried
    }
}

bool SettingsStore::applyKeyringBatch(const KeyringBatch& batch) {
    using Op = KeyringJob::Op;
    bool again = false;
    if (batch.probe) {
        m_keyringProbed = std::chrono::steady_clock::now();
        if (m_keyringAnswered != batch.answered) {
            m_keyringAnswered = batch.answered;
            again = true;
        }
        if (batch.answered != batch.assumed || !batch.answered)
            return again;
    }
    const auto liveAccount = [this](const std::string& id) -> AccountSettings* {
        for (AccountSettings& a : m_live.Accounts)
            if (!id.empty() && a.SecretId == id)
                return &a;
        return nullptr;
    };
    for (const KeyringJob& j : batch.jobs) {
        const SecretKind kind = j.key.kind;
        const SecretFields f = fieldsOf(kind);
        const std::string word = secretWord(kind);
        if (!j.ok) {
            if (j.error.empty())
                break; // not tried after an earlier failure
            if (j.op == Op::Fetch) {
                reportPrivacyNotice("the " + word + " of \"" + j.accountName +
                                    "\" could not be taken from the keyring (" + j.error +
                                    "); it stays there.");
                continue;
            }
            // A locked or silent keyring is not asked again for a minute; the file keeps
            // what it holds meanwhile.
            m_keyringAnswered = false;
            m_keyringProbed = std::chrono::steady_clock::now();
            if (j.op == Op::Write)
                reportPrivacyNotice("the keyring did not take the " + word + " of \"" +
                                    j.accountName + "\" (" + j.error + "); it stays in " + path() +
                                    ".");
            else
                reportPrivacyNotice("the keyring did not answer (" + j.error + ").");
            break;
        }
        switch (j.op) {
        case Op::Write:
            keyringItems(kind)[j.secretId] = {j.label, j.secret};
            if (AccountSettings* a = liveAccount(j.secretId); a && a->*f.secret == j.secret)
                a->*f.store = kKeyringStore;
            again = true;
            break;
        case Op::Relabel:
            keyringItems(kind)[j.secretId] = {j.label, j.secret};
            break;
        case Op::Fetch:
            keyringItems(kind)[j.secretId].secret = j.secret;
            if (AccountSettings* a = liveAccount(j.secretId); a && (a->*f.secret).empty()) {
                a->*f.secret = j.secret;
                again = true;
            }
            break;
        case Op::Remove:
            keyringItems(kind).erase(j.secretId);
            break;
        }
    }
    return again;
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
    state.refused.clear();
    return {};
}

void SettingsStore::noteSignInRefused(const std::string& secretId, const std::string& reason) {
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    m_tokens[secretId].refused = reason;
}

void SettingsStore::adoptSignIn(const std::string& secretId, const std::string& refreshToken,
                                const std::string& accessToken,
                                std::chrono::system_clock::time_point expires) {
    std::lock_guard<std::mutex> lock(m_tokenMutex);
    OAuthTokenState& state = m_tokens[secretId];
    state.refreshToken = refreshToken;
    // The live settings hold it now; an earlier token stored behind them must not replace it.
    state.refreshTokenStored = false;
    state.inKeyring = false;
    state.accessToken = accessToken;
    state.expires = expires;
    state.refused.clear();
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
            // What the keyring holds now, so that a later save neither writes nor removes it.
            if (state.inKeyring)
                m_tokenItems[id] = {secretLabel(a), state.refreshToken};
        }
        state.refreshTokenStored = false;
    }
}

} // namespace tarn
