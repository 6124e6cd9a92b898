#pragma once

#include "core/AccountRuntime.h"
#include "core/Clock.h"
#include "core/TFilter.h"
#include "filters/EvaluateFilters.h"
#include "platform/NamedMutex.h"

#include <array>
#include <chrono>
#include <string>
#include <unistd.h>

namespace tarn::test {

inline TFilter filter(int condition, std::string argument, int action, int account = 0,
                      int icon = 0, std::string sound = {}) {
    TFilter f;
    f.IfCondition = condition;
    f.Argument = std::move(argument);
    f.Action = action;
    f.Account = account;
    f.Icon = icon;
    f.SoundFile = std::move(sound);
    f.Active = true;
    return f;
}

// A clock fixed at 2024-06-15 14:05 local time, a private MailDB lock and three accounts.
class FilterFixture {
public:
    FilterFixture()
        : m_lockName("TarnwickTest.Filters." + std::to_string(::getpid())), m_lock(m_lockName),
          m_clock(std::chrono::sys_days{std::chrono::year{2024} / 6 / 15} + std::chrono::hours{14} +
                      std::chrono::minutes{5},
                  0) {
        for (auto& r : m_runtimes)
            r.LastMailboxTotal = 7;
    }
    ~FilterFixture() { NamedMutex::removeSystemObject(m_lockName); }

    FilterContext context() {
        return FilterContext{m_lock, m_clock, [this](int account) -> AccountRuntime* {
                                 if (account < 1 || account > 3)
                                     return nullptr;
                                 return &m_runtimes[static_cast<size_t>(account - 1)];
                             }};
    }

    double today() const { return m_clock.localToday(); }

    std::string m_lockName;
    NamedMutex m_lock;
    FixedClock m_clock;
    std::array<AccountRuntime, 3> m_runtimes;
};

} // namespace tarn::test
