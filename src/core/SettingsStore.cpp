#include "core/SettingsStore.h"

#include "core/IniFile.h"

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
    publish();
    return result;
}

void SettingsStore::save(const SaveInputs& now) {
    {
        std::lock_guard<std::mutex> file(m_fileMutex);
        saveSettingsFile(path(), m_live, now);
    }
    publish();
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
