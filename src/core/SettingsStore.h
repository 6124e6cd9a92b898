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
#include <thread>
#include <vector>

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
    ~SettingsStore();

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
    // Runs a function on the thread that owns the live settings (the windows' thread).
    using Poster = std::function<void(std::function<void()>)>;
    // With a poster, the keyring is spoken to on a thread of its own: save() writes the file
    // and returns at once, and what the keyring confirms is written by a later save on the
    // poster's thread. Without one (the command-line checker, tests), save() waits for the
    // keyring within kKeyringSaveLimit per call.
    void setMainThreadPoster(Poster post) { m_post = std::move(post); }
    // Asks on the keyring's thread whether the service answers (with a poster only).
    void probeKeyring();
    // Whether keyring calls of an earlier save are still under way.
    bool keyringBusy() const { return m_keyringBusy; }
    // The item of an account's secret of that kind; the working folder is the file's.
    SecretKey secretKey(const AccountSettings& account, SecretKind kind) const;
    // Whether save() puts passwords into the keyring: there is one, it answers, and the user
    // did not choose the file. The answer of the service is remembered for a minute; with a
    // poster it is asked on the keyring's thread and this tells the last answer.
    bool keyringInUse();
    // In one line, where the account's saved password is kept, for the account page.
    std::string passwordPlace(const AccountSettings& account);
    // The bound of one keyring call made while saving.
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
        // Why the provider last refused the refresh token (only a new sign-in helps); empty
        // once a new one is kept.
        std::string refused;
    };
    OAuthTokenState oauthTokens(const std::string& secretId) const;
    void noteSignInRefused(const std::string& secretId, const std::string& reason);
    // A sign-in the windows put into the live settings themselves (their next save keeps the
    // refresh token as it keeps passwords): this run uses it from now on.
    void adoptSignIn(const std::string& secretId, const std::string& refreshToken,
                     const std::string& accessToken, std::chrono::system_clock::time_point expires);
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

    // One keyring call a save asks for.
    struct KeyringJob {
        enum class Op { Write, Relabel, Fetch, Remove };
        Op op = Op::Write;
        std::string secretId;
        SecretKey key;
        std::string label;
        std::string secret;      // Write
        std::string accountName; // for notices
        bool ok = false;         // filled in by runKeyringJobs
        std::string error;
    };
    struct KeyringBatch {
        bool probe = false; // ask first whether the service answers
        bool assumed = false;
        bool answered = false; // filled in: the service's answer to the probe
        bool fromSave = false; // a save asked for it (a probe alone writes nothing)
        std::vector<KeyringJob> jobs;
    };
    // Decides where each saved password and each refresh token goes in toFile (a copy of the
    // live settings that is about to be written) from what is known of the keyring, without
    // calling it; the calls that would bring the keyring up to date go into the batch.
    KeyringBatch planPasswords(Settings& toFile);
    // Makes the calls; any thread. A failure ends the batch: a silent keyring costs one bound.
    static void runKeyringJobs(SecretStore* store, KeyringBatch& batch);
    // Takes in what the keyring did; true when the file should be written again.
    bool applyKeyringBatch(const KeyringBatch& batch);
    void startKeyringBatch(KeyringBatch batch);
    void writeFileAndPublish(const Settings& toFile, const SaveInputs& now);
    bool keyringReachable();
    void rememberKeyringItems();
    // Takes the refresh tokens stored since the last save into the live settings.
    void applyStoredTokens();

    // What this run knows an account's keyring item to hold (by SecretId); an empty secret
    // means "some secret, not read yet".
    struct KeyringItem {
        std::string label;
        std::string secret;
    };
    using KeyringItems = std::map<std::string, KeyringItem>;
    KeyringItems& keyringItems(SecretKind kind) {
        return kind == SecretKind::Password ? m_keyringItems : m_tokenItems;
    }
    SecretStore* m_secrets = nullptr;
    KeyringItems m_keyringItems;
    KeyringItems m_tokenItems; // the accounts' refresh tokens
    std::chrono::steady_clock::time_point m_keyringProbed{};
    bool m_keyringAnswered = false;
    Poster m_post;
    bool m_keyringBusy = false;  // a batch runs on m_keyringThread
    bool m_saveAgain = false;    // a save came while it ran
    SaveInputs m_lastSave;       // for the save that follows a batch
    std::thread m_keyringThread; // joined before the next batch and on destruction
    // Tells a batch's completion, posted to the owner's thread, whether the store still is.
    std::shared_ptr<SettingsStore*> m_self = std::make_shared<SettingsStore*>(this);

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
