#pragma once

#include "core/MainSettings.h"

#include <array>
#include <string>

namespace tarn {

class IniFile;

// The mail list window's saved state (section EMailList). ConvertHTML and WrapText live in
// that section too but are held by MainSettings.
struct EMailListSettings {
    int Width = 600;
    int Height = 300;
    int X = 0;
    int Y = 0;
    bool ShowStatusBar = true;
    bool ShowToolBar = true;
    int Column_Subject_Width = 0;
    int Column_Sender_Width = 0;
    int Column_Size_Width = 0;
    int Column_Action_Width = 0;
    int Column_Account_Width = 0;
    int Column_Date_Width = 0;
    int MailFormHeight = 400;
    int MailFormWidth = 600;
    std::string SortType = "CountIndex";
    bool ToolBar_HideSelected = true;
    bool ToolBar_HideAll = true;
    bool ToolBar_ShowAll = true;
    bool ToolBar_DeleteSelected = true;
    bool ToolBar_DeleteAll = false;
    bool ToolBar_UndeleteAll = true;
    bool ToolBar_LaunchMailClient = false;
    bool ToolBar_PurgeMaillist = false;
    bool ToolBar_Body = true;
    bool ToolBar_ShowHeaders = true;
    bool ToolBar_CheckNewMails = true;

    bool operator==(const EMailListSettings&) const = default;
};

// What the defaults of the section depend on.
struct EMailListInputs {
    int screenWidth = 0;
    int screenHeight = 0;
    // The list's column widths as designed, in the list's design order:
    // Subject, Sender, Size, Account, Action, Date.
    std::array<int, 6> designColumnWidths{};
};

// Reads the section. Each column key's default is the width of the list's column at the key's
// position at that moment, so a missing Column_Account_Width takes the Action width just read.
EMailListSettings readEMailListSection(const IniFile& ini, const EMailListInputs& inputs,
                                       MainSettings& main);
// Writes every key of the section into the document.
void writeEMailListSection(IniFile& ini, const EMailListSettings& list, const MainSettings& main);
// Loads the file, writes the section and replaces the file atomically; throws TarnError.
void saveEMailListSection(const std::string& path, const EMailListSettings& list,
                          const MainSettings& main);

} // namespace tarn
