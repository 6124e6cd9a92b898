#pragma once

#include "core/EMailListSettings.h"
#include "core/SecretStore.h"
#include "core/Settings.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tarn {

// What a subscriber of the settings store hears about.
enum class SettingsChange {
    Accounts, // a published snapshot holds other accounts than the one before
    Online,   // the program went online or offline
    Section,  // one window's section of the file was written (SettingsEvent::section)
};

struct SettingsEvent {
    SettingsChange kind = SettingsChange::Accounts;
    std::string section; // Section only
    bool online = false; // Online only: the new state
};

// The one owner of tarn.ini. It alone reads and writes the file; everything else asks it.
//
// The windows keep editing the live settings in place (live()); after a change they ask the
// store to save or publish. Readers on other threads take an immutable snapshot, which stays
// as it was for its holder whatever is published later. Subscribers are called on the thread
// that made the change, outside the store's locks, so they may call back into the store.
class SettingsStore {
public:
    using Subscriber = std::function<void(const SettingsEvent&)>;

    explicit SettingsStore(std::string path);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    std::string path() const;
    void setPath(std::string path);

    // The model the windows edit. Main thread only.
    Settings& live() { return m_live; }
    const Settings& live() const { return m_live; }

    // The start-up reader over the file (a missing or unreadable file reads as empty); the
    // result becomes the live settings and is published.
    SettingsReadResult load(const SettingsReadInputs& inputs);
    // Writes the whole model into the file, keeping keys and sections it does not know, and
    // publishes it. On failure the file is untouched and TarnError is thrown.
    void save(const SaveInputs& now);

    // The colour set as the file holds it now, made the set in use of the live settings.
    void loadColorSet();
    // Writes the colour commands' section (announced as a Section change); throws TarnError.
    void saveColorSet(const CheckerColors& inUse);
    // Reads the mail list window's section into the live settings.
    const EMailListSettings& loadEMailList(const EMailListInputs& inputs);
    // Writes the live mail list window's section (announced); throws TarnError.
    void saveEMailList();

    // The last published settings; never null.
    std::shared_ptr<const Settings> snapshot() const;
    // Publishes a copy of the live settings; subscribers hear of changed accounts.
    void publish();

    bool online() const;
    // Records the online state; subscribers hear of it when it differs from the last one.
    void setOnline(bool online);

    // The desktop keyring that saved passwords go to (null: none; not owned). Set before the
    // settings are loaded and before any check starts.
    void setSecretStore(SecretStore* store) {
        m_secrets = store;
        m_keyringProbed = {};
    }
    SecretStore* secretStore() const { return m_secrets; }
    // The item of an account's secret of that kind; the working folder is the file's.
    SecretKey secretKey(const AccountSettings& account, SecretKind kind) const;
    // Whether save() puts passwords into the keyring: there is one, it answers, and the user
    // did not choose the file. The answer of the service is remembered for a minute.
    bool keyringInUse();
    // In one line, where the account's saved password is kept, for the account page.
    std::string passwordPlace(const AccountSettings& account);
    // The bound of one keyring call made while saving (on the main thread).
    static constexpr std::chrono::milliseconds kKeyringSaveLimit{3000};

    // OAuth 2.0 tokens of this run, by the account's SecretId (any thread). The access token
    // lives in memory only; a refresh token stored by storeRefreshToken is here until the
    // next save() has taken it into the live settings.
    struct OAuthTokenState {
        std::string refreshToken;
        bool refreshTokenStored = false; // storeRefreshToken wrote it (keyring or file)
        bool inKeyring = false;
        std::string accessToken;
        std::chrono::system_clock::time_point expires{};
    };
    OAuthTokenState oauthTokens(const std::string& secretId) const;
    void rememberAccessToken(const std::string& secretId, const std::string& token,
                             std::chrono::system_clock::time_point expires);
    void forgetAccessToken(const std::string& secretId);
    // Keeps a new refresh token of account (number, and its settings with a SecretId): in the
    // keyring when one is in use, else scrambled in the file, whose account section alone is
    // updated. Any thread (a check that was given a rotated token, the headless sign-in);
    // bounded by limit. Empty on success, else why it was not stored.
    std::string storeRefreshToken(int number, const AccountSettings& account,
                                  const std::string& token, std::chrono::milliseconds limit);

    // Returns an id for unsubscribe.
    int subscribe(Subscriber subscriber);
    void unsubscribe(int id);

private:
    void announce(const SettingsEvent& event);
    // Moves saved passwords between the keyring and toFile (a copy of the live settings
    // that is about to be written); the live settings learn where each one now is.
    void placePasswords(Settings& toFile);
    void rememberKeyringItems();
    // Takes the refresh tokens stored since the last save into the live settings.
    void applyStoredTokens();

    // What this run knows an account's keyring item to hold (by SecretId); an empty secret
    // means "some password, not read yet".
    struct KeyringItem {
        std::string label;
        std::string secret;
    };
    SecretStore* m_secrets = nullptr;
    std::map<std::string, KeyringItem> m_keyringItems;
    std::chrono::steady_clock::time_point m_keyringProbed{};
    bool m_keyringAnswered = false;

    Settings m_live;
    mutable std::mutex m_mutex; // the path, the snapshot, the online state, the subscribers
    std::mutex m_fileMutex;     // one read-modify-write of the file at a time
    std::string m_path;
    std::shared_ptr<const Settings> m_snapshot;
    bool m_online = true;
    std::map<int, Subscriber> m_subscribers;
    mutable std::mutex m_tokenMutex;
    std::map<std::string, OAuthTokenState> m_tokens; // by SecretId
    int m_nextId = 1;
};

} // namespace tarn
