#include "core/EMailListSettings.h"
#include "core/IniFile.h"

#include "TempDir.h"

#include <gtest/gtest.h>

using namespace tarn;

namespace {

EMailListInputs listInputs(int screenWidth = 1024, int screenHeight = 768) {
    EMailListInputs in;
    in.screenWidth = screenWidth;
    in.screenHeight = screenHeight;
    in.designColumnWidths = {200, 100, 60, 70, 80, 120}; // Subject Sender Size Account Action Date
    return in;
}

TEST(EMailListSettingsTest, DefaultsComeFromTheScreenAndTheColumnsAtTheirPositions) {
    MainSettings main;
    main.ConvertHTML = false;
    const EMailListSettings s = readEMailListSection(IniFile(), listInputs(), main);
    EXPECT_EQ(s.Width, 600);
    EXPECT_EQ(s.Height, 300);
    EXPECT_EQ(s.X, (1024 - 600) / 2);
    EXPECT_EQ(s.Y, (768 - 300) / 2);
    EXPECT_EQ(s.Column_Subject_Width, 200 - 32);
    EXPECT_EQ(s.Column_Sender_Width, 100);
    EXPECT_EQ(s.Column_Size_Width, 60);
    // Action takes the fourth column (Account), then Account the fifth (just set by Action).
    EXPECT_EQ(s.Column_Action_Width, 70);
    EXPECT_EQ(s.Column_Account_Width, 70);
    EXPECT_EQ(s.Column_Date_Width, 120);
    EXPECT_EQ(s.SortType, "CountIndex");
    EXPECT_TRUE(main.ConvertHTML);
    EXPECT_TRUE(main.WrapText);
    EXPECT_FALSE(s.ToolBar_DeleteAll);
    EXPECT_TRUE(s.ToolBar_CheckNewMails);
}

TEST(EMailListSettingsTest, CentringRoundsTowardZeroAndFollowsTheReadSize) {
    MainSettings main;
    const EMailListSettings narrow = readEMailListSection(IniFile(), listInputs(599, 299), main);
    EXPECT_EQ(narrow.X, 0); // -1 / 2
    EXPECT_EQ(narrow.Y, 0);
    const EMailListSettings sized = readEMailListSection(
        IniFile::fromText("[EMailList]\nWidth=824\nHeight=68\n"), listInputs(), main);
    EXPECT_EQ(sized.X, 100);
    EXPECT_EQ(sized.Y, 350);
}

TEST(EMailListSettingsTest, MissingAccountWidthTakesTheActionWidthJustRead) {
    MainSettings main;
    const EMailListSettings s = readEMailListSection(
        IniFile::fromText("[EMailList]\nColumn_Action_Width=55\n"), listInputs(), main);
    EXPECT_EQ(s.Column_Action_Width, 55);
    EXPECT_EQ(s.Column_Account_Width, 55);
}

TEST(EMailListSettingsTest, SectionRoundTripsThroughTheFile) {
    tarn::test::TempDir dir;
    const std::string path = dir.file("tarn.ini");
    tarn::test::writeFile(path, "[Main]\nECount=1\n");
    EMailListSettings s;
    s.Width = 700;
    s.Height = 410;
    s.X = -3;
    s.Y = 9;
    s.ShowStatusBar = false;
    s.Column_Subject_Width = 1;
    s.Column_Sender_Width = 2;
    s.Column_Size_Width = 3;
    s.Column_Action_Width = 4;
    s.Column_Account_Width = 5;
    s.Column_Date_Width = 6;
    s.MailFormHeight = 333;
    s.SortType = "DateIndex";
    s.ToolBar_DeleteAll = true;
    s.ToolBar_Body = false;
    MainSettings main;
    main.WrapText = false;
    saveEMailListSection(path, s, main);

    const IniFile ini(path);
    EXPECT_EQ(ini.readInteger("Main", "ECount", 0), 1);
    MainSettings readMain;
    EXPECT_EQ(readEMailListSection(ini, listInputs(), readMain), s);
    EXPECT_FALSE(readMain.WrapText);
    EXPECT_TRUE(readMain.ConvertHTML);
}

TEST(EMailListSettingsTest, SectionIsWrittenInItsFixedOrder) {
    EMailListSettings s;
    s.X = -3;
    s.Column_Action_Width = 4;
    s.Column_Account_Width = 5;
    s.ToolBar_Body = false;
    MainSettings main;
    main.ConvertHTML = false;
    IniFile ini = IniFile::fromText("[Main]\nECount=1\n");
    writeEMailListSection(ini, s, main);
    EXPECT_EQ(ini.text(), "[Main]\n"
                          "ECount=1\n"
                          "[EMailList]\n"
                          "Width=600\n"
                          "Height=300\n"
                          "X=-3\n"
                          "Y=0\n"
                          "ShowStatusBar=1\n"
                          "ShowToolBar=1\n"
                          "Column_Subject_Width=0\n"
                          "Column_Sender_Width=0\n"
                          "Column_Size_Width=0\n"
                          "Column_Action_Width=4\n"
                          "Column_Account_Width=5\n"
                          "Column_Date_Width=0\n"
                          "MailFormHeight=400\n"
                          "MailFormWidth=600\n"
                          "ConvertHTML=0\n"
                          "WrapText=1\n"
                          "SortType=CountIndex\n"
                          "ToolBar_HideSelected=1\n"
                          "ToolBar_HideAll=1\n"
                          "ToolBar_ShowAll=1\n"
                          "ToolBar_DeleteSelected=1\n"
                          "ToolBar_DeleteAll=0\n"
                          "ToolBar_UndeleteAll=1\n"
                          "ToolBar_LaunchMailClient=0\n"
                          "ToolBar_PurgeMaillist=0\n"
                          "ToolBar_Body=0\n"
                          "ToolBar_ShowHeaders=1\n"
                          "ToolBar_CheckNewMails=1\n");
}

} // namespace
