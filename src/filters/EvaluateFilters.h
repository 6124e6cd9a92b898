#pragma once

#include "filters/FilterList.h"
#include "store/MailRecord.h"

#include <functional>

namespace tarn {

class Clock;
class NamedMutex;
struct AccountRuntime;

// What an evaluation needs besides the record and the rules.
struct FilterContext {
    // The MailDB lock; taken for the whole evaluation (re-entrant for a caller holding it).
    NamedMutex& mailDbLock;
    // Gives "today" for the age condition.
    const Clock& clock;
    // The run-time state of account n, or null when there is none; a delete filter bound to
    // one account forces that account's next check to make the full pass.
    std::function<AccountRuntime*(int)> runtimeOf;
};

// The result of an evaluation in which a "shutdown System and delete mail" filter matched.
inline constexpr int kFilterShutdown = 10;

// Runs every active filter meant for the record's account, in list order, on the record;
// every filter whose condition holds applies its action to the record (the caller stores
// the record afterwards). Returns kFilterShutdown when a shutdown filter matched, else 0.
// Throws TarnError at the first filter whose Argument cannot be used; the filters after it
// do not run and the lock is released.
int EvaluateFilters(MailRecord& record, const FilterList& filters, const FilterContext& context);

} // namespace tarn
