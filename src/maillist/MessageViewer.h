#pragma once

#include "store/MailListDB.h"

#include <vector>

namespace tarn {

class MessageWindowHost;
class Session;
class TF_HeaderWindow;
class TF_MessageWindow;

// Show Headers and Show Message of the mail list: one window per row, in list order, each
// built and shown while the MailDB lock is held. Rows whose record is gone open nothing, and
// Show Message opens nothing for a message whose body has not been fetched. The windows free
// themselves when closed; the returned pointers are valid until then.
std::vector<TF_HeaderWindow*> ShowHeader1Click(Session& session,
                                               const std::vector<MessageKey>& rows);
std::vector<TF_MessageWindow*> A_ShowMessageExecute(Session& session, MessageWindowHost& host,
                                                    const std::vector<MessageKey>& rows);

} // namespace tarn
