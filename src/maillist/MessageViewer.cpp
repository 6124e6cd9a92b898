#include "maillist/MessageViewer.h"

#include "check/Session.h"
#include "checker/ClearOfChecker.h"
#include "maillist/TF_HeaderWindow.h"
#include "maillist/TF_MessageWindow.h"
#include "platform/NamedMutex.h"

namespace tarn {

std::vector<TF_HeaderWindow*> ShowHeader1Click(Session& session,
                                               const std::vector<MessageKey>& rows) {
    std::vector<TF_HeaderWindow*> opened;
    NamedLock lock(session.db().mutex());
    for (const MessageKey& key : rows) {
        const auto record = session.db().FindMessage(key.UID, key.Account);
        if (!record)
            continue;
        auto* w = new TF_HeaderWindow(session, *record);
        keepClearOfChecker(w);
        w->show();
        w->activateWindow(); // asked for by the user
        opened.push_back(w);
    }
    return opened;
}

std::vector<TF_MessageWindow*> A_ShowMessageExecute(Session& session, MessageWindowHost& host,
                                                    const std::vector<MessageKey>& rows) {
    std::vector<TF_MessageWindow*> opened;
    NamedLock lock(session.db().mutex());
    for (const MessageKey& key : rows) {
        const auto record = session.db().FindMessage(key.UID, key.Account);
        if (!record || !record->Body)
            continue;
        // Filled while still invisible, then shown: the whole message, however long.
        auto* w = new TF_MessageWindow(session, host, *record);
        keepClearOfChecker(w);
        w->show();
        w->activateWindow(); // asked for by the user
        opened.push_back(w);
    }
    return opened;
}

} // namespace tarn
