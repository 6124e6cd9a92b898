#include "core/EMailListSettings.h"

#include "core/IniFile.h"

namespace tarn {

namespace {
constexpr const char* kSection = "EMailList";
}

EMailListSettings readEMailListSection(const IniFile& ini, const EMailListInputs& inputs,
                                       MainSettings& main) {
    EMailListSettings s;
    s.Width = ini.readInteger(kSection, "Width", 600);
    s.Height = ini.readInteger(kSection, "Height", 300);
    // Halved with truncation toward zero, as integer division does.
    s.X = ini.readInteger(
        kSection, "X",
        static_cast<int>((static_cast<long long>(inputs.screenWidth) - s.Width) / 2));
    s.Y = ini.readInteger(
        kSection, "Y",
        static_cast<int>((static_cast<long long>(inputs.screenHeight) - s.Height) / 2));
    s.ShowStatusBar = ini.readBool(kSection, "ShowStatusBar", true);
    s.ShowToolBar = ini.readBool(kSection, "ShowToolBar", true);

    // Columns by position in the list: Subject, Sender, Size, Account, Action, Date.
    std::array<int, 6> col = inputs.designColumnWidths;
    col[0] = ini.readInteger(kSection, "Column_Subject_Width", col[0] - 32);
    col[1] = ini.readInteger(kSection, "Column_Sender_Width", col[1]);
    col[2] = ini.readInteger(kSection, "Column_Size_Width", col[2]);
    col[4] = ini.readInteger(kSection, "Column_Action_Width", col[3]);
    col[3] = ini.readInteger(kSection, "Column_Account_Width", col[4]);
    col[5] = ini.readInteger(kSection, "Column_Date_Width", col[5]);
    s.Column_Subject_Width = col[0];
    s.Column_Sender_Width = col[1];
    s.Column_Size_Width = col[2];
    s.Column_Account_Width = col[3];
    s.Column_Action_Width = col[4];
    s.Column_Date_Width = col[5];

    s.MailFormHeight = ini.readInteger(kSection, "MailFormHeight", 400);
    s.MailFormWidth = ini.readInteger(kSection, "MailFormWidth", 600);
    main.ConvertHTML = ini.readBool(kSection, "ConvertHTML", true);
    main.WrapText = ini.readBool(kSection, "WrapText", true);
    s.SortType = ini.readString(kSection, "SortType", "CountIndex");
    s.ToolBar_HideSelected = ini.readBool(kSection, "ToolBar_HideSelected", true);
    s.ToolBar_HideAll = ini.readBool(kSection, "ToolBar_HideAll", true);
    s.ToolBar_ShowAll = ini.readBool(kSection, "ToolBar_ShowAll", true);
    s.ToolBar_DeleteSelected = ini.readBool(kSection, "ToolBar_DeleteSelected", true);
    s.ToolBar_DeleteAll = ini.readBool(kSection, "ToolBar_DeleteAll", false);
    s.ToolBar_UndeleteAll = ini.readBool(kSection, "ToolBar_UndeleteAll", true);
    s.ToolBar_LaunchMailClient = ini.readBool(kSection, "ToolBar_LaunchMailClient", false);
    s.ToolBar_PurgeMaillist = ini.readBool(kSection, "ToolBar_PurgeMaillist", false);
    s.ToolBar_Body = ini.readBool(kSection, "ToolBar_Body", true);
    s.ToolBar_ShowHeaders = ini.readBool(kSection, "ToolBar_ShowHeaders", true);
    s.ToolBar_CheckNewMails = ini.readBool(kSection, "ToolBar_CheckNewMails", true);
    return s;
}

void writeEMailListSection(IniFile& ini, const EMailListSettings& s, const MainSettings& main) {
    ini.writeInteger(kSection, "Width", s.Width);
    ini.writeInteger(kSection, "Height", s.Height);
    ini.writeInteger(kSection, "X", s.X);
    ini.writeInteger(kSection, "Y", s.Y);
    ini.writeBool(kSection, "ShowStatusBar", s.ShowStatusBar);
    ini.writeBool(kSection, "ShowToolBar", s.ShowToolBar);
    ini.writeInteger(kSection, "Column_Subject_Width", s.Column_Subject_Width);
    ini.writeInteger(kSection, "Column_Sender_Width", s.Column_Sender_Width);
    ini.writeInteger(kSection, "Column_Size_Width", s.Column_Size_Width);
    ini.writeInteger(kSection, "Column_Action_Width", s.Column_Action_Width);
    ini.writeInteger(kSection, "Column_Account_Width", s.Column_Account_Width);
    ini.writeInteger(kSection, "Column_Date_Width", s.Column_Date_Width);
    ini.writeInteger(kSection, "MailFormHeight", s.MailFormHeight);
    ini.writeInteger(kSection, "MailFormWidth", s.MailFormWidth);
    ini.writeBool(kSection, "ConvertHTML", main.ConvertHTML);
    ini.writeBool(kSection, "WrapText", main.WrapText);
    ini.writeString(kSection, "SortType", s.SortType);
    ini.writeBool(kSection, "ToolBar_HideSelected", s.ToolBar_HideSelected);
    ini.writeBool(kSection, "ToolBar_HideAll", s.ToolBar_HideAll);
    ini.writeBool(kSection, "ToolBar_ShowAll", s.ToolBar_ShowAll);
    ini.writeBool(kSection, "ToolBar_DeleteSelected", s.ToolBar_DeleteSelected);
    ini.writeBool(kSection, "ToolBar_DeleteAll", s.ToolBar_DeleteAll);
    ini.writeBool(kSection, "ToolBar_UndeleteAll", s.ToolBar_UndeleteAll);
    ini.writeBool(kSection, "ToolBar_LaunchMailClient", s.ToolBar_LaunchMailClient);
    ini.writeBool(kSection, "ToolBar_PurgeMaillist", s.ToolBar_PurgeMaillist);
    ini.writeBool(kSection, "ToolBar_Body", s.ToolBar_Body);
    ini.writeBool(kSection, "ToolBar_ShowHeaders", s.ToolBar_ShowHeaders);
    ini.writeBool(kSection, "ToolBar_CheckNewMails", s.ToolBar_CheckNewMails);
}

void saveEMailListSection(const std::string& path, const EMailListSettings& list,
                          const MainSettings& main) {
    IniFile ini(path);
    writeEMailListSection(ini, list, main);
    ini.save();
}

} // namespace tarn
