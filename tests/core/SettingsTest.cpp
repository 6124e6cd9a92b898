#include "core/Settings.h"
#include "core/IniFile.h"
#include "core/PasswordScrambling.h"
#include "core/StartupDecisions.h"
#include "core/TarnError.h"

#include "TempDir.h"

#include <gtest/gtest.h>

using namespace tarn;
using tarn::test::readFile;
using tarn::test::TempDir;
using tarn::test::writeFile;

namespace {

SettingsReadInputs inputs() {
    SettingsReadInputs in;
    in.workingFolder = "/home/u/tarn";
    in.screen = {1024, 768};
    in.window = {80, 34};
    return in;
}

Settings readText(const std::string& text, SettingsReadResult* result = nullptr) {
    Settings s;
    const auto r = readSettings(IniFile::fromText(text), inputs(), s);
    if (result)
        *result = r;
    return s;
}

TEST(SettingsReaderTest, EmptyFileGivesAFirstStartWithDefaults) {
    SettingsReadResult r;
    const Settings s = readText("", &r);
    EXPECT_TRUE(r.FirstStart);
    EXPECT_TRUE(r.ReleaseChanged);

    MainSettings expected;
    expected.ECount = 1;
    expected.MailCountSound = "/home/u/tarn/bip.wav";
    expected.IncomingSound = "/home/u/tarn/incoming.wav";
    expected.defaultX = 1024 - 80;
    expected.currentX = 1024 - 80;
    expected.defaultY = 768 - 34 - 30;
    expected.alternativeY = 768 - 34 - 30;
    expected.currentY = 768 - 34 - 30;
    expected.alternativeX = 1;
    EXPECT_EQ(s.Main, expected);
    EXPECT_EQ(s.Main.OnOffline, "off");
    EXPECT_EQ(s.Main.ReleaseNr, "0");

    ASSERT_EQ(s.Accounts.size(), 1u);
    AccountSettings account;
    account.Name = "Account 1";
    account.ActiveColor = CheckerColors::blueDefaults().Active;
    account.IdleColor = CheckerColors::blueDefaults().Idle;
    account.Security = static_cast<int>(ConnectionSecurity::Tls); // a new account
    EXPECT_EQ(s.account(1), account);
    EXPECT_TRUE(s.Filters.empty());
}

TEST(SettingsReaderTest, DownloadLimitFitsTodaysMailButAnExistingFileKeepsItsValue) {
    EXPECT_EQ(readText("").Main.MaxDownloadSize, 4096); // a few MB for a new working folder
    EXPECT_EQ(readText("[Main]\nECount=1\nMaxDownloadSize=50\n").Main.MaxDownloadSize, 50);
}

TEST(SettingsReaderTest, ReleaseNumberMustBeExactly19) {
    struct Case {
        const char* value;
        bool changed;
    } cases[] = {{"19", false}, {"  19 ", false}, {"18", true},
                 {"019", true}, {"19.0", true},   {"", true}};
    for (const auto& c : cases) {
        SettingsReadResult r;
        readText(std::string("[Main]\nReleaseNr=") + c.value + "\nECount=1\n", &r);
        EXPECT_EQ(r.ReleaseChanged, c.changed) << c.value;
        EXPECT_EQ(releaseChanged(c.value), std::string_view(c.value) != "19") << c.value;
    }
}

TEST(SettingsReaderTest, AccountCountDecidesTheFirstStartAndIsBounded) {
    struct Case {
        const char* ecount;
        bool firstStart;
        std::size_t accounts;
    } cases[] = {{"2", false, 2},
                 {"0", true, 1},
                 {"-3", true, 1},
                 {"two", true, 1},
                 {"99999999", false, kMaxAccounts}};
    for (const auto& c : cases) {
        SettingsReadResult r;
        const Settings s = readText(std::string("[Main]\nECount=") + c.ecount + "\n", &r);
        EXPECT_EQ(r.FirstStart, c.firstStart) << c.ecount;
        EXPECT_EQ(s.Accounts.size(), c.accounts) << c.ecount;
        EXPECT_EQ(s.Main.ECount, static_cast<int>(c.accounts)) << c.ecount;
        // Only the account a first start makes is new, and new accounts are encrypted.
        EXPECT_EQ(s.account(1).Security, c.firstStart ? 1 : 0) << c.ecount;
    }
    const Settings s = readText("[Main]\nFilterCount=-4\n");
    EXPECT_TRUE(s.Filters.empty());
    EXPECT_EQ(s.Main.FilterCount, 0);
}

TEST(SettingsReaderTest, AccountsBeyondTheCountAreNotRead) {
    const Settings s =
        readText("[Main]\nECount=2\n[1]\nName=One\n[2]\nName=Two\n[3]\nName=Three\n");
    ASSERT_EQ(s.Accounts.size(), 2u);
    EXPECT_EQ(s.account(1).Name, "One");
    EXPECT_EQ(s.account(2).Name, "Two");
}

TEST(SettingsReaderTest, AccountValuesFollowTheTypedRules) {
    const Settings s = readText("[Main]\nECount=4\n"
                                "[1]\nActive=true\nTimer=0x1000\n"
                                "[2]\nActive=0\nTimer=$3E8\nSavePwd=0\n"
                                "[3]\nActive=7\nTimer=soon\nShow=false\n"
                                "[4]\nACTIVECOLOR=-2147483644\nidlecolor=2147483653\n");
    EXPECT_TRUE(s.account(1).Active);
    EXPECT_EQ(s.account(1).Timer, 4096);
    EXPECT_FALSE(s.account(2).Active);
    EXPECT_EQ(s.account(2).Timer, 1000);
    EXPECT_FALSE(s.account(2).SavePwd);
    EXPECT_TRUE(s.account(3).Active);
    EXPECT_EQ(s.account(3).Timer, 300000);
    EXPECT_TRUE(s.account(3).Show);
    EXPECT_EQ(s.account(3).Name, "Account 3");
    EXPECT_EQ(s.account(4).ActiveColor, CheckerColors::systemColor(4));
    EXPECT_EQ(s.account(4).IdleColor, CheckerColors::systemColor(5));
}

// Files written before accounts had a Security key keep their meaning: no encryption.
TEST(SettingsReaderTest, SecurityAndPinAreReadAndAbsentOnesMeanNone) {
    const Settings s = readText("[Main]\nECount=3\n"
                                "[1]\nName=Old\n"
                                "[2]\nSecurity=1\nTLSFingerprint= 01:AB \n"
                                "[3]\nSecurity=starttls\n");
    EXPECT_EQ(s.account(1).Security, 0);
    EXPECT_EQ(s.account(1).TLSFingerprint, "");
    EXPECT_EQ(s.account(2).Security, 1);
    EXPECT_EQ(s.account(2).TLSFingerprint, "01:AB");
    EXPECT_EQ(s.account(3).Security, 0);
}

TEST(SettingsReaderTest, FieldSizesAndFontSizeBelowOneReadAsTheirDefaults) {
    const struct {
        const char* line;
        int MainSettings::*field;
        int expected;
    } rows[] = {
        {"CheckerWidth=-5", &MainSettings::CheckerWidth, 26},
        {"CheckerWidth=0", &MainSettings::CheckerWidth, 26},
        {"CheckerWidth=1", &MainSettings::CheckerWidth, 1},
        {"CheckerWidth=40", &MainSettings::CheckerWidth, 40},
        {"CheckerHeight=-1", &MainSettings::CheckerHeight, 18},
        {"CheckerHeight=0", &MainSettings::CheckerHeight, 18},
        {"CheckerHeight=30", &MainSettings::CheckerHeight, 30},
        {"FontSize=0", &MainSettings::FontSize, 9},
        {"FontSize=-12", &MainSettings::FontSize, 9},
        {"FontSize=14", &MainSettings::FontSize, 14},
        // The spaces may be zero or below: the fields stay visible.
        {"VSpace=0", &MainSettings::VSpace, 0},
        {"VSpace=-3", &MainSettings::VSpace, -3},
        {"HSpace=0", &MainSettings::HSpace, 0},
        {"HSpace=-2", &MainSettings::HSpace, -2},
    };
    for (const auto& row : rows) {
        const Settings s = readText(std::string("[Metrics]\n") + row.line + "\n");
        EXPECT_EQ(s.Main.*row.field, row.expected) << row.line;
    }
}

TEST(SettingsReaderTest, KeepMailDBIsReadWhateverItsCase) {
    for (const char* key : {"keepMailDB", "KeepMailDB", "KEEPMAILDB"}) {
        const Settings s = readText(std::string("[Main]\n") + key + "=0\n");
        EXPECT_FALSE(s.Main.KeepMailDB) << key;
    }
}

TEST(SettingsReaderTest, TheBlueSetIsLoadedWhateverColorSetSays) {
    const Settings s = readText("[Main]\nColorSet=gray\nECount=1\n"
                                "[BlueColorSet]\nBorderSize=2\nActive=255\nIdle=$00FF00\n");
    EXPECT_TRUE(s.Main.BlueSetInUse);
    CheckerColors expected = CheckerColors::blueDefaults();
    expected.BorderSize = 2;
    expected.Active = 255;
    expected.Idle = 0xFF00;
    EXPECT_EQ(s.Main.Colors, expected);
    // Account colour defaults come from the set in use at reading time.
    EXPECT_EQ(s.account(1).ActiveColor, 255u);
    EXPECT_EQ(s.account(1).IdleColor, 0xFF00u);
}

TEST(SettingsReaderTest, FiltersAreReadFromZeroWithTheirDefaults) {
    const Settings s = readText("[Main]\nFilterCount=2\n"
                                "[Filter 0]\nIfCondition=4\nActive=1\nAccount=2\nAction=1\n"
                                "Argument= spam \nSoundFile=/s.wav\nIcon=5\n"
                                "[filter 2]\nIfCondition=9\n");
    ASSERT_EQ(s.Filters.size(), 2u);
    EXPECT_EQ(s.Filters[0], (TFilter{4, true, 2, 1, "spam", "/s.wav", 5}));
    EXPECT_EQ(s.Filters[1], TFilter{});
    EXPECT_EQ(s.Main.FilterCount, 2);
}

TEST(SettingsReaderTest, PositionDefaultsUseTheLaidOutWindow) {
    SettingsReadInputs in = inputs();
    int seenAccounts = 0, seenWidth = 0;
    in.layout = [&](const Settings& s) {
        seenAccounts = s.accountCount();
        seenWidth = s.Main.CheckerWidth;
        return WindowSize{200, 50};
    };
    Settings s;
    readSettings(
        IniFile::fromText("[Main]\nECount=3\nalternativeY=7\n[Metrics]\nCheckerWidth=40\n"), in, s);
    EXPECT_EQ(seenAccounts, 3);
    EXPECT_EQ(seenWidth, 40);
    EXPECT_EQ(s.Main.defaultX, 1024 - 200);
    EXPECT_EQ(s.Main.currentX, 1024 - 200);
    EXPECT_EQ(s.Main.defaultY, 768 - 50 - 30);
    EXPECT_EQ(s.Main.currentY, 768 - 50 - 30);
    EXPECT_EQ(s.Main.alternativeX, 1);
    EXPECT_EQ(s.Main.alternativeY, 7);
}

// A model whose neighbouring fields differ, so a swapped or misspelt key shows.
Settings sampleModel() {
    Settings s;
    MainSettings& m = s.Main;
    m.AlwaysOffline = true;
    m.AnimIcons = false;
    m.Blinking = true;
    m.Jumpback = 20;
    m.AutoFloat = true;
    m.HideWhenOffline = false;
    m.DYKTStartup = false;
    m.PopupMailList = true;
    m.HideWhenEmpty = false;
    m.defaultX = 11;
    m.defaultY = 12;
    m.alternativeX = 13;
    m.alternativeY = 14;
    m.currentX = 999; // the writer takes the window's position, not this
    m.MailCountSound = "/s/bip.wav";
    m.IncomingSound = "/s/in.wav";
    m.SoundItemIndex = 2;
    m.MAXMailCount = 7;
    m.PrefsLevel = 1;
    m.Floating = true;
    m.AlwaysOnTop = false;
    m.KeepLogFile = true;
    m.Transparency = false;
    m.TransparencyValue = 200;
    m.Round = false;
    m.CheckAllWhenGoingOnline = true;
    m.MaxDownloadSize = 64;
    m.CutWhenOffline = true;
    m.SnapWindow = false;
    m.KeepMailDB = false;
    m.CheckerWidth = 30;
    m.CheckerHeight = 20;
    m.VSpace = 5;
    m.HSpace = 6;
    m.FontSize = 10;
    GrayColorSet(m);

    AccountSettings a;
    a.Name = "Home";
    a.MailServerType = 1;
    a.IMAPMailBoxName = "INBOX.Work";
    a.Host = "localhost:110";
    a.ActiveColor = CheckerColors::systemColor(4);
    a.IdleColor = 255;
    a.UserID = "me";
    a.Password = "abc";
    a.Timer = 60000;
    a.Active = false;
    a.Show = false;
    a.RetrieveAllBodies = true;
    a.CustomMailClientPath = "/usr/bin/mutt";
    a.DefaultMailClient = 1;
    a.Security = 2;
    a.TLSFingerprint = "AB:CD:EF";
    s.Accounts.push_back(a);
    AccountSettings b = defaultAccount(2, CheckerColors::blueDefaults());
    b.Password = "secret";
    b.SavePwd = false;
    s.Accounts.push_back(b);

    Firststart(s);
    s.Filters.push_back(TFilter{2, false, 1, 0, "viagra", "/s/x.wav", 3});
    return s;
}

const char* const kSampleFile = "[Main]\n"
                                "on/offline=off\n"
                                "AlwaysOffline=1\n"
                                "ReleaseNr=19\n"
                                "AnimIcons=0\n"
                                "Blinking=1\n"
                                "Jumpback=20\n"
                                "AutoFloat=1\n"
                                "Hidden=1\n"
                                "HideWhenOffline=0\n"
                                "DYKTStartup=0\n"
                                "PopupMailList=1\n"
                                "HideWhenEmpty=0\n"
                                "defaultX=11\n"
                                "defaultY=12\n"
                                "alternativeX=13\n"
                                "alternativeY=14\n"
                                "currentX=15\n"
                                "currentY=16\n"
                                "ColorSet=gray\n"
                                "ECount=2\n"
                                "MailCountSound=/s/bip.wav\n"
                                "IncomingSound=/s/in.wav\n"
                                "SoundItemIndex=2\n"
                                "MAXMailCount=7\n"
                                "PrefsLevel=1\n"
                                "Floating=1\n"
                                "AlwaysOnTop=0\n"
                                "KeepLogFile=1\n"
                                "Transparency=0\n"
                                "TransparencyValue=200\n"
                                "Round=0\n"
                                "CheckAllWhenGoingOnline=1\n"
                                "MaxDownloadSize=64\n"
                                "CutWhenOffline=1\n"
                                "SnapWindow=0\n"
                                "keepMailDB=0\n"
                                "FilterCount=2\n"
                                "DesktopNotify=1\n"
                                "PasswordsInFile=0\n"
                                "[1]\n"
                                "Name=Home\n"
                                "MailServerType=1\n"
                                "IMAPMailBoxName=INBOX.Work\n"
                                "Host=localhost:110\n"
                                "ActiveColor=2147483652\n"
                                "IdleColor=255\n"
                                "UserID=me\n"
                                "Password=bdf\n"
                                "SavePwd=1\n"
                                "Timer=60000\n"
                                "Active=0\n"
                                "Sound=1\n"
                                "Show=0\n"
                                "List=1\n"
                                "RetrieveAllBodies=1\n"
                                "CustomMailClientPath=/usr/bin/mutt\n"
                                "DefaultMailClient=1\n"
                                "Security=2\n"
                                "TLSFingerprint=AB:CD:EF\n"
                                "Push=0\n"
                                "PasswordStore=\n"
                                "SecretId=\n"
                                "AuthMethod=0\n"
                                "OAuthProvider=\n"
                                "OAuthAuthorizeURL=\n"
                                "OAuthTokenURL=\n"
                                "OAuthClientID=\n"
                                "OAuthClientSecret=\n"
                                "OAuthScope=\n"
                                "PasswordCommand=\n"
                                "OAuthToken=\n"
                                "OAuthTokenStore=\n"
                                "[2]\n"
                                "Name=Account 2\n"
                                "MailServerType=0\n"
                                "IMAPMailBoxName=INBOX\n"
                                "Host=\n"
                                "ActiveColor=10514544\n"
                                "IdleColor=9453632\n"
                                "UserID=\n"
                                "Password=\n"
                                "SavePwd=0\n"
                                "Timer=300000\n"
                                "Active=1\n"
                                "Sound=1\n"
                                "Show=1\n"
                                "List=1\n"
                                "RetrieveAllBodies=0\n"
                                "CustomMailClientPath=\n"
                                "DefaultMailClient=0\n"
                                "Security=0\n"
                                "TLSFingerprint=\n"
                                "Push=0\n"
                                "PasswordStore=\n"
                                "SecretId=\n"
                                "AuthMethod=0\n"
                                "OAuthProvider=\n"
                                "OAuthAuthorizeURL=\n"
                                "OAuthTokenURL=\n"
                                "OAuthClientID=\n"
                                "OAuthClientSecret=\n"
                                "OAuthScope=\n"
                                "PasswordCommand=\n"
                                "OAuthToken=\n"
                                "OAuthTokenStore=\n"
                                "[Filter 0]\n"
                                "IfCondition=8\n"
                                "Active=1\n"
                                "Account=0\n"
                                "Action=3\n"
                                "Argument=\n"
                                "SoundFile=\n"
                                "Icon=12\n"
                                "[Filter 1]\n"
                                "IfCondition=2\n"
                                "Active=0\n"
                                "Account=1\n"
                                "Action=0\n"
                                "Argument=viagra\n"
                                "SoundFile=/s/x.wav\n"
                                "Icon=3\n"
                                "[BlueColorSet]\n"
                                "BorderSize=0\n"
                                "Back=6684672\n"
                                "Active=10514544\n"
                                "Idle=9453632\n"
                                "Connected=48093\n"
                                "Error=3022219\n"
                                "Font=16777215\n"
                                "[Metrics]\n"
                                "CheckerWidth=30\n"
                                "CheckerHeight=20\n"
                                "VSpace=5\n"
                                "HSpace=6\n"
                                "FontSize=10\n";

TEST(SettingsWriterTest, WritesEveryKeyInTheWritersOrder) {
    IniFile ini;
    saveSettings(ini, sampleModel(), SaveInputs{false, true, 15, 16});
    EXPECT_EQ(ini.text(), kSampleFile);
}

TEST(SettingsWriterTest, ExistingFileIsUpdatedInPlaceKeepingUnknownContent) {
    const std::string before = "; my settings\n"
                               "[Main]\n"
                               "ECount=5\n"
                               "Mystery=42\n"
                               "\n"
                               "[BlueColorSet]\n"
                               "Back=255\n"
                               "[Plugin]\n"
                               "x=y\n";
    IniFile ini = IniFile::fromText(before);
    saveSettings(ini, sampleModel(), SaveInputs{true, false, 1, 2});
    const std::string text = ini.text();
    EXPECT_TRUE(text.starts_with("; my settings\n[Main]\nECount=2\nMystery=42\non/offline=on\n"))
        << text;
    // An existing colour section is left alone; only a missing one gets the defaults.
    EXPECT_NE(text.find("[BlueColorSet]\nBack=255\n[Plugin]\nx=y\n[1]\n"), std::string::npos)
        << text;
    EXPECT_EQ(ini.readString("BlueColorSet", "Active", "none"), "none");
    EXPECT_EQ(ini.readInteger("Main", "Mystery", 0), 42);
}

TEST(SettingsWriterTest, StaleSectionsGoUpToTheFirstGap) {
    struct Case {
        const char* name;
        std::vector<std::string> present;
        int accounts;
        int filters;
        std::vector<std::string> gone;
        std::vector<std::string> kept;
    } cases[] = {
        {"3 and 5 left over, ECount 2", {"3", "5"}, 2, 0, {"3"}, {"5"}},
        {"a run after the count goes", {"3", "4", "5", "7"}, 2, 0, {"3", "4", "5"}, {"7"}},
        {"a missing first one does not stop it", {"4", "5"}, 2, 0, {"4", "5"}, {}},
        {"nothing beyond the count", {"6"}, 2, 0, {}, {"6"}},
        {"filters",
         {"Filter 1", "filter 2", "Filter 4"},
         1,
         1,
         {"Filter 1", "filter 2"},
         {"Filter 4"}},
        {"all filters gone", {"Filter 0", "Filter 1"}, 1, 0, {"Filter 0", "Filter 1"}, {}},
    };
    for (const auto& c : cases) {
        std::string text = "[Main]\nECount=9\n";
        for (const auto& sec : c.present)
            text += "[" + sec + "]\nName=old\n";
        IniFile ini = IniFile::fromText(text);
        Settings s;
        for (int n = 1; n <= c.accounts; ++n)
            s.Accounts.push_back(defaultAccount(n, s.Main.Colors));
        s.Filters.resize(static_cast<std::size_t>(c.filters));
        saveSettings(ini, s, SaveInputs{});
        for (const auto& sec : c.gone)
            EXPECT_FALSE(ini.sectionExists(sec)) << c.name << ": " << sec;
        for (const auto& sec : c.kept)
            EXPECT_TRUE(ini.sectionExists(sec)) << c.name << ": " << sec;
    }
}

TEST(SettingsWriterTest, LineBreaksInTextFieldsCannotBreakTheFile) {
    Settings s;
    AccountSettings a = defaultAccount(1, s.Main.Colors);
    a.Name = "Two\nLines";
    a.Host = "host\r\n[Main]\r\nECount=99";
    s.Accounts.push_back(a);
    IniFile ini;
    saveSettings(ini, s, SaveInputs{});
    const IniFile back = IniFile::fromText(ini.text());
    EXPECT_EQ(back.readInteger("Main", "ECount", 0), 1);
    EXPECT_EQ(back.readString("1", "Name", ""), "Two Lines");
    EXPECT_EQ(back.sectionNames().size(), ini.sectionNames().size());
}

class SettingsFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("tarn.ini");

    Settings load(SettingsReadResult* result = nullptr) {
        Settings s;
        const auto r = loadSettingsFile(path, inputs(), s);
        if (result)
            *result = r;
        return s;
    }
};

TEST_F(SettingsFileTest, FirstStartWritesACompleteFileThatReadsBackAsANormalStart) {
    SettingsReadResult r;
    Settings s = load(&r);
    ASSERT_TRUE(r.FirstStart);
    const StartOnlineDecision start = decideStartOnline(s.Main);
    EXPECT_TRUE(start.goOffline);
    Firststart(s);
    ASSERT_EQ(s.Filters.size(), 1u);
    EXPECT_EQ(s.Filters[0], (TFilter{8, true, 0, 3, "", "", 12}));
    EXPECT_EQ(s.Main.FilterCount, 1);

    saveSettingsFile(path, s, SaveInputs{false, false, s.Main.currentX, s.Main.currentY});

    SettingsReadResult again;
    const Settings back = load(&again);
    EXPECT_FALSE(again.FirstStart);
    EXPECT_FALSE(again.ReleaseChanged);
    MainSettings expected = s.Main;
    expected.ReleaseNr = "19";
    EXPECT_EQ(back.Main, expected);
    EXPECT_EQ(back.Accounts, s.Accounts);
    EXPECT_EQ(back.Filters, s.Filters);
}

TEST_F(SettingsFileTest, ModelSurvivesARoundTripWithUnknownContent) {
    writeFile(path, "# hand-written\r\n[Main]\r\nExtra=yes\r\n[Unknown]\r\nk=v\r\n");
    Settings s = sampleModel();
    s.account(2).SavePwd = true; // keep its password this time
    BlueColorSet(IniFile(), s.Main);
    saveSettingsFile(path, s, SaveInputs{true, false, s.Main.currentX, s.Main.currentY});

    const std::string text = readFile(path);
    EXPECT_TRUE(text.starts_with("# hand-written\r\n[Main]\r\nExtra=yes\r\non/offline=on\r\n"))
        << text;
    EXPECT_NE(text.find("[Unknown]\r\nk=v\r\n"), std::string::npos);

    const Settings back = load();
    Settings expected = s;
    expected.Main.ReleaseNr = "19";
    expected.Main.OnOffline = "on";
    expected.Main.ECount = 2;
    expected.Main.FilterCount = 2;
    EXPECT_EQ(back.Main, expected.Main);
    EXPECT_EQ(back.Accounts, expected.Accounts);
    EXPECT_EQ(back.Filters, expected.Filters);
    EXPECT_EQ(back.account(2).Password, "secret");
}

TEST_F(SettingsFileTest, PasswordWithoutSavePwdReadsBackEmpty) {
    Settings s = sampleModel();
    saveSettingsFile(path, s, SaveInputs{});
    const Settings back = load();
    EXPECT_EQ(back.account(1).Password, "abc");
    EXPECT_EQ(back.account(2).Password, "");
    EXPECT_FALSE(back.account(2).SavePwd);
}

TEST_F(SettingsFileTest, AwkwardPasswordsSurviveTheFile) {
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        allBytes.push_back(static_cast<char>(c));
    const std::vector<std::string> passwords = {
        "\x0C",                 // scrambles to CR
        "\x09",                 // to LF
        "\xFF",                 // to NUL
        std::string("a\0b", 3), // NUL in the plain text
        "\x1F"
        "abc",    // starts with a blank once scrambled
        "ab\x1E", // ends with a blank once scrambled
        "\x08",   // a tab
        " \x1F"
        "x",                   // scrambles to the escape prefix itself
        std::string(200, '~'), // long enough to wrap past 255
        "p\xC3\xA4sswort",     // UTF-8
        allBytes,
        " lead and trail ",
    };
    Settings s;
    for (std::size_t i = 0; i < passwords.size(); ++i) {
        AccountSettings a = defaultAccount(static_cast<int>(i + 1), s.Main.Colors);
        a.Password = passwords[i];
        s.Accounts.push_back(a);
    }
    saveSettingsFile(path, s, SaveInputs{});
    const Settings back = load();
    ASSERT_EQ(back.Accounts.size(), passwords.size());
    for (std::size_t i = 0; i < passwords.size(); ++i)
        EXPECT_EQ(back.Accounts[i].Password, passwords[i]) << "password " << i;
}

TEST_F(SettingsFileTest, ColourSetWriterWritesAllSevenKeysWithBorderZero) {
    writeFile(path, "[Main]\nECount=1\n[BlueColorSet]\nBorderSize=3\nBack=1\n");
    MainSettings m;
    GrayColorSet(m);
    EXPECT_FALSE(m.BlueSetInUse);
    EXPECT_EQ(m.Colors, CheckerColors::gray());
    saveColorSet(path, m.Colors);
    EXPECT_EQ(readFile(path), "[Main]\nECount=1\n"
                              "[BlueColorSet]\nBorderSize=0\nBack=2147483652\nActive=16777215\n"
                              "Idle=8421504\nConnected=32768\nError=255\nFont=0\n");
    BlueColorSet(IniFile(path), m);
    EXPECT_TRUE(m.BlueSetInUse);
    CheckerColors expected = CheckerColors::gray();
    expected.BorderSize = 0;
    EXPECT_EQ(m.Colors, expected);
}

TEST_F(SettingsFileTest, FailedSaveLeavesTheOldFileAndReportsTheReason) {
    const std::string old = "[Main]\nECount=3\n";
    writeFile(path, old);
    // Nothing can be created below a regular file, not even by root.
    const std::string blocked = dir.file("tarn.ini") + "/tarn.ini";
    EXPECT_THROW(saveSettingsFile(blocked, sampleModel(), SaveInputs{}), TarnError);
    EXPECT_EQ(readFile(path), old);

    // A folder where the file should be is neither read as settings nor replaced.
    const std::string folder = dir.file("sub");
    std::filesystem::create_directories(folder + "/tarn.ini");
    EXPECT_THROW(saveSettingsFile(folder + "/tarn.ini", sampleModel(), SaveInputs{}), TarnError);
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/tarn.ini"));
}

} // namespace
