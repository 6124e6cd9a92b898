#pragma once

#include "store/MailRecord.h"

namespace tarn {
namespace maillist {

// The icon number is a property of the record (its flags, its custom icon, whether its body
// is kept); the store's rows cache it for sorting, the window draws it.
// The automatic and custom row icons.
constexpr int IconNoBody = 0;
constexpr int IconWithBody = 1;
constexpr int IconDeleting = 2;
constexpr int IconNoHeader = 14;
constexpr int IconCount = 15;

// Icon number of a row: 2 when marked for deletion, else a custom icon 1..14, else 14 without
// subject and sender, else 0 without body and 1 with it.
int rowIcon(const MailRecord& record);
int rowIcon(bool deleting, int customIcon, bool subjectAndSenderEmpty, bool hasBody);
// Rows with icon 2 are drawn grey.
inline bool rowIsGrey(int icon) {
    return icon == IconDeleting;
}

} // namespace maillist
} // namespace tarn
