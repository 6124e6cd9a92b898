#include "filters/EvaluateFilters.h"

#include "core/AccountRuntime.h"
#include "core/Clock.h"
#include "platform/NamedMutex.h"

namespace tarn {

namespace {

enum Action {
    DeleteMessage = 0,
    HideMessage = 1,
    RetrieveFull = 2,
    CustomIcon = 3,
    ShutdownAndDelete = 4,
    PlaySound = 5,
};

void markForDeletion(MailRecord& record, const TFilter& filter, const FilterContext& context) {
    record.Delete = true;
    // Only a filter bound to one account knows whose mailbox must be walked again.
    if (filter.Account > 0 && context.runtimeOf) {
        if (AccountRuntime* runtime = context.runtimeOf(filter.Account))
            runtime->LastMailboxTotal = -2;
    }
}

} // namespace

int EvaluateFilters(MailRecord& record, const FilterList& filters, const FilterContext& context) {
    NamedLock lock(context.mailDbLock);
    int result = 0;
    if (filters.empty())
        return result;
    const double today = context.clock.localToday();
    for (const CompiledFilter& compiled : filters) {
        if (!compiled.appliesTo(record) || !compiled.holds(record, today))
            continue;
        const TFilter& filter = compiled.filter();
        switch (filter.Action) {
        case DeleteMessage:
            markForDeletion(record, filter, context);
            break;
        case HideMessage:
            record.Ignore = true;
            break;
        case RetrieveFull:
            if (!record.Body)
                record.RetrieveMail = true;
            break;
        case CustomIcon:
            record.icon = filter.Icon;
            break;
        case ShutdownAndDelete:
            markForDeletion(record, filter, context);
            result = kFilterShutdown;
            break;
        case PlaySound:
            record.Soundfile = filter.SoundFile;
            break;
        default:
            break;
        }
    }
    return result;
}

} // namespace tarn
