#include "check/ApplyAllFilters.h"

#include "check/Session.h"
#include "filters/EvaluateFilters.h"
#include "platform/NamedMutex.h"

#include <exception>
#include <memory>
#include <optional>

namespace tarn {

FilterPassResult applyAllFilters(Session& session) {
    FilterPassResult out;
    MailListDB& db = session.db();
    const std::shared_ptr<const FilterList> filters = session.filters().load();
    const FilterContext context{db.mutex(), session.clock(),
                                [&session](int n) { return session.runtimeOf(n); }};
    NamedLock lock(db.mutex());
    try {
        for (const MessageKey& key : db.MessageKeys(MailListDB::AllAccounts)) {
            std::optional<MailRecord> record = db.FindMessage(key.UID, key.Account);
            if (!record)
                continue;
            if (EvaluateFilters(*record, *filters, context) == kFilterShutdown)
                ++out.shutdownRequests;
            db.UpdateMessage(*record);
        }
    } catch (const std::exception& e) {
        out.failure = e.what();
    }
    return out;
}

} // namespace tarn
