#pragma once

#include <string>

namespace tarn {

class Session;

struct FilterPassResult {
    // Records that met a shutdown filter: the windows start the shutdown countdown once for
    // each (one window per message).
    int shutdownRequests = 0;
    // Why the pass stopped early (the records before keep their changes); empty when it ran
    // through.
    std::string failure;
};

// The preferences' "Apply Filters": every record of the mail list runs through the current
// filters in one pass under the MailDB lock, so no check stores a record until every record
// has been seen. The windows then show what changed.
FilterPassResult applyAllFilters(Session& session);

} // namespace tarn
