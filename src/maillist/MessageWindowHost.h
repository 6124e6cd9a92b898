#pragma once

#include <string>
#include <vector>

namespace tarn {

class MailListActions;

// What the message and header windows need of the mail list window and the checker window:
// the list's view, rows and selection, its Show Message command, and the refresh steps that
// follow a change of the mail list.
class MessageWindowHost {
public:
    virtual ~MessageWindowHost() = default;

    virtual int ViewAccount() const = 0;
    virtual void RebuildList(int account) = 0;
    virtual void ReportStatus(int account, int kind, const std::string& text) = 0;
    virtual void UpdateFieldCount(int account) = 0;
    virtual void UpdateTrayState() = 0;
    // The commands' changes to the mail list, with the list's check requests.
    virtual MailListActions& actions() = 0;

    // The list's rows top to bottom, by the text of their "UID" column.
    virtual std::vector<std::string> rowUids() const = 0;
    virtual void clearSelection() = 0;
    // Adds the row to the selection.
    virtual void selectRow(int row) = 0;
    virtual bool showMessageEnabled() const = 0;
    virtual void A_ShowMessageExecute() = 0;
};

} // namespace tarn
