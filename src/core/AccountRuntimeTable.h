#pragma once

#include "core/AccountRuntime.h"

#include <memory>
#include <stdexcept>
#include <vector>

namespace tarn {

// The run-time records of the accounts, numbered from 1 like the settings. Records live on the
// heap so that their atomics stay put when accounts are added or removed.
class AccountRuntimeTable {
public:
    int size() const { return static_cast<int>(m_items.size()); }

    // Grows with fresh records or drops records from the end; existing records are kept.
    void resize(int count) {
        if (count < 0)
            count = 0;
        while (size() > count)
            m_items.pop_back();
        while (size() < count)
            m_items.push_back(std::make_unique<AccountRuntime>());
    }
    // Removes account n; the accounts above it move down by one.
    void remove(int n) {
        check(n);
        m_items.erase(m_items.begin() + (n - 1));
    }

    AccountRuntime& operator[](int n) {
        check(n);
        return *m_items[static_cast<std::size_t>(n - 1)];
    }
    const AccountRuntime& operator[](int n) const {
        check(n);
        return *m_items[static_cast<std::size_t>(n - 1)];
    }

private:
    void check(int n) const {
        if (n < 1 || n > size())
            throw std::out_of_range("no account " + std::to_string(n));
    }
    std::vector<std::unique_ptr<AccountRuntime>> m_items;
};

} // namespace tarn
