#include "store/RecordIcon.h"

namespace tarn {
namespace maillist {

int rowIcon(bool deleting, int customIcon, bool subjectAndSenderEmpty, bool hasBody) {
    if (deleting)
        return IconDeleting;
    if (customIcon > 0 && customIcon < IconCount)
        return customIcon;
    if (subjectAndSenderEmpty)
        return IconNoHeader;
    return hasBody ? IconWithBody : IconNoBody;
}

int rowIcon(const MailRecord& r) {
    // No copies of the texts: this runs for every row of a rebuild.
    const bool empty = (!r.Subject || r.Subject->empty()) && (!r.Sender || r.Sender->empty());
    return rowIcon(r.Delete.value_or(false), r.icon.value_or(0), empty, r.Body.has_value());
}

} // namespace maillist
} // namespace tarn
