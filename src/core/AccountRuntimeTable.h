#pragma once

#include "core/AccountRuntime.h"

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarn {

// The run-time records of the accounts, numbered from 1 like the settings.
//
// Accounts are created and deleted on the main thread while check workers run. A record never
// moves and is never freed before the table: a deleted account's record is retired (its
// Number becomes 0) but stays valid, so a worker may keep a plain pointer to its account's
// record for the whole check, and a late worker of a deleted account touches only that
// retired record. Every record knows its current number, so a worker whose account moved
// down files its results under the new number. The table's own list is guarded by a mutex,
// so workers may look records up while the main thread changes the list.
//
// Deleting an account also renumbers the mail list's records; do both while holding the
// MailDB lock, under which workers read their Number, so a worker sees both changes or none.
class AccountRuntimeTable {
public:
    AccountRuntimeTable() = default;
    AccountRuntimeTable(const AccountRuntimeTable&) = delete;
    AccountRuntimeTable& operator=(const AccountRuntimeTable&) = delete;

    int size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_items.size());
    }

    // Grows with fresh records or retires records from the end; the others are kept.
    void resize(int count) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (count < 0)
            count = 0;
        while (static_cast<int>(m_items.size()) > count)
            retire(m_items.size() - 1);
        while (static_cast<int>(m_items.size()) < count) {
            m_items.push_back(std::make_unique<AccountRuntime>());
            m_items.back()->Number = static_cast<int>(m_items.size());
        }
    }
    // Adds a record for a new account at the end and returns its number.
    int append() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.push_back(std::make_unique<AccountRuntime>());
        const int n = static_cast<int>(m_items.size());
        m_items.back()->Number = n;
        return n;
    }
    // Deletes account n; the accounts above it move down by one.
    void remove(int n) {
        std::lock_guard<std::mutex> lock(m_mutex);
        check(n);
        retire(static_cast<std::size_t>(n - 1));
        for (std::size_t i = static_cast<std::size_t>(n - 1); i < m_items.size(); ++i)
            m_items[i]->Number = static_cast<int>(i + 1);
    }

    // The record of account n, or null outside 1..size(). The pointer stays valid for the
    // table's life; after the account is deleted it points to the retired record.
    AccountRuntime* find(int n) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (n < 1 || n > static_cast<int>(m_items.size()))
            return nullptr;
        return m_items[static_cast<std::size_t>(n - 1)].get();
    }

    AccountRuntime& operator[](int n) {
        std::lock_guard<std::mutex> lock(m_mutex);
        check(n);
        return *m_items[static_cast<std::size_t>(n - 1)];
    }
    const AccountRuntime& operator[](int n) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        check(n);
        return *m_items[static_cast<std::size_t>(n - 1)];
    }

private:
    void check(int n) const {
        if (n < 1 || n > static_cast<int>(m_items.size()))
            throw std::out_of_range("no account " + std::to_string(n));
    }
    void retire(std::size_t index) {
        m_items[index]->Number = 0;
        m_retired.push_back(std::move(m_items[index]));
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
    }

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<AccountRuntime>> m_items;
    // Deleted accounts' records, kept so that no worker's pointer ever dangles.
    std::vector<std::unique_ptr<AccountRuntime>> m_retired;
};

} // namespace tarn
