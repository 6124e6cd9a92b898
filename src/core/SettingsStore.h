#pragma once

#include "core/EMailListSettings.h"
#include "core/Settings.h"

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

    // Returns an id for unsubscribe.
    int subscribe(Subscriber subscriber);
    void unsubscribe(int id);

private:
    void announce(const SettingsEvent& event);

    Settings m_live;
    mutable std::mutex m_mutex; // the path, the snapshot, the online state, the subscribers
    std::mutex m_fileMutex;     // one read-modify-write of the file at a time
    std::string m_path;
    std::shared_ptr<const Settings> m_snapshot;
    bool m_online = true;
    std::map<int, Subscriber> m_subscribers;
    int m_nextId = 1;
};

} // namespace tarn
