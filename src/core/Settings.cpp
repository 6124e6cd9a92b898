#include "core/Settings.h"

#include "core/IniFile.h"
#include "core/PasswordScrambling.h"

#include <algorithm>

namespace tarn {

namespace {

constexpr const char* kMain = "Main";
constexpr const char* kMetrics = "Metrics";
constexpr const char* kColorSet = "BlueColorSet";

// Text fields are single lines; a stray line break from elsewhere must not break the file
// (or the whole write), so it is stored as a blank.
std::string singleLine(std::string_view s) {
    std::string out(s);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
    return out;
}

// Erases section `first` if present, then every following section while it exists.
template <typename NameOf> void eraseStaleSections(IniFile& ini, int first, NameOf nameOf) {
    int n = first;
    ini.eraseSection(nameOf(n));
    while (ini.sectionExists(nameOf(n + 1))) {
        ++n;
        ini.eraseSection(nameOf(n));
    }
}

} // namespace

std::string filterSectionName(int k) {
    return "Filter " + std::to_string(k);
}

std::string joinPath(std::string_view folder, std::string_view name) {
    if (folder.empty())
        return std::string(name);
    std::string out(folder);
    if (out.back() != '/')
        out += '/';
    out += name;
    return out;
}

WindowPositions defaultWindowPositions(WindowSize screen, WindowSize window) {
    const int x = screen.width - window.width;
    const int y = screen.height - window.height - 30;
    return {x, y, 1, y, x, y};
}

AccountSettings defaultAccount(int n, const CheckerColors& colors) {
    AccountSettings a;
    a.Name = "Account " + std::to_string(n);
    a.ActiveColor = colors.Active;
    a.IdleColor = colors.Idle;
    return a;
}

AccountSettings readAccount(const IniFile& ini, int n, const CheckerColors& colors) {
    const AccountSettings d = defaultAccount(n, colors);
    const std::string s = std::to_string(n);
    AccountSettings a;
    a.Name = ini.readString(s, "Name", d.Name);
    a.MailServerType = ini.readInteger(s, "MailServerType", d.MailServerType);
    a.IMAPMailBoxName = ini.readString(s, "IMAPMailBoxName", d.IMAPMailBoxName);
    a.Host = ini.readString(s, "Host", d.Host);
    a.UserID = ini.readString(s, "UserID", d.UserID);
    a.Password = passwordFromStoredText(ini.readString(s, "Password", ""));
    a.SavePwd = ini.readBool(s, "SavePwd", d.SavePwd);
    a.Timer = ini.readInteger(s, "Timer", d.Timer);
    a.Active = ini.readBool(s, "Active", d.Active);
    a.ActiveColor = ini.readColor(s, "ActiveColor", d.ActiveColor);
    a.IdleColor = ini.readColor(s, "IdleColor", d.IdleColor);
    a.Sound = ini.readBool(s, "Sound", d.Sound);
    a.Show = ini.readBool(s, "Show", d.Show);
    a.List = ini.readBool(s, "List", d.List);
    a.RetrieveAllBodies = ini.readBool(s, "RetrieveAllBodies", d.RetrieveAllBodies);
    a.CustomMailClientPath = ini.readString(s, "CustomMailClientPath", d.CustomMailClientPath);
    a.DefaultMailClient = ini.readInteger(s, "DefaultMailClient", d.DefaultMailClient);
    return a;
}

TFilter readFilter(const IniFile& ini, int k) {
    const std::string s = filterSectionName(k);
    TFilter f;
    f.IfCondition = ini.readInteger(s, "IfCondition", -1);
    f.Active = ini.readBool(s, "Active", false);
    f.Account = ini.readInteger(s, "Account", -1);
    f.Action = ini.readInteger(s, "Action", -1);
    f.Argument = ini.readString(s, "Argument", "");
    f.SoundFile = ini.readString(s, "SoundFile", "");
    f.Icon = ini.readInteger(s, "Icon", 0);
    return f;
}

void BlueColorSet(const IniFile& ini, MainSettings& main) {
    const CheckerColors d = CheckerColors::blueDefaults();
    CheckerColors c;
    c.BorderSize = ini.readInteger(kColorSet, "BorderSize", d.BorderSize);
    c.Back = ini.readColor(kColorSet, "Back", d.Back);
    c.Active = ini.readColor(kColorSet, "Active", d.Active);
    c.Idle = ini.readColor(kColorSet, "Idle", d.Idle);
    c.Connected = ini.readColor(kColorSet, "Connected", d.Connected);
    c.Error = ini.readColor(kColorSet, "Error", d.Error);
    c.Font = ini.readColor(kColorSet, "Font", d.Font);
    main.Colors = c;
    main.BlueSetInUse = true;
}

void GrayColorSet(MainSettings& main) {
    main.Colors = CheckerColors::gray();
    main.BlueSetInUse = false;
}

void writeColorSet(IniFile& ini, const CheckerColors& c) {
    ini.writeInteger(kColorSet, "BorderSize", 0);
    ini.writeColor(kColorSet, "Back", c.Back);
    ini.writeColor(kColorSet, "Active", c.Active);
    ini.writeColor(kColorSet, "Idle", c.Idle);
    ini.writeColor(kColorSet, "Connected", c.Connected);
    ini.writeColor(kColorSet, "Error", c.Error);
    ini.writeColor(kColorSet, "Font", c.Font);
}

void saveColorSet(const std::string& path, const CheckerColors& inUse) {
    IniFile ini = IniFile::loadForUpdate(path);
    writeColorSet(ini, inUse);
    ini.save();
}

SettingsReadResult readSettings(const IniFile& ini, const SettingsReadInputs& in, Settings& out) {
    SettingsReadResult result;
    MainSettings& m = out.Main;

    m.ReleaseNr = ini.readString(kMain, "ReleaseNr", "0");
    result.ReleaseChanged = m.ReleaseNr != kReleaseNr;
    m.OnOffline = ini.readString(kMain, "on/offline", "off");
    m.AlwaysOffline = ini.readBool(kMain, "AlwaysOffline", false);
    m.AnimIcons = ini.readBool(kMain, "AnimIcons", true);
    m.Blinking = ini.readBool(kMain, "Blinking", true);
    m.Jumpback = ini.readInteger(kMain, "Jumpback", 15);
    m.AutoFloat = ini.readBool(kMain, "AutoFloat", false);
    m.Hidden = ini.readBool(kMain, "Hidden", false);
    m.HideWhenOffline = ini.readBool(kMain, "HideWhenOffline", false);
    m.DYKTStartup = ini.readBool(kMain, "DYKTStartup", true);
    m.PopupMailList = ini.readBool(kMain, "PopupMailList", false);
    m.HideWhenEmpty = ini.readBool(kMain, "HideWhenEmpty", false);
    m.KeepLogFile = ini.readBool(kMain, "KeepLogFile", true);

    BlueColorSet(ini, m);

    // A count below 1 (missing, 0 or damaged) is a first start with one account.
    int count = ini.readInteger(kMain, "ECount", 0);
    if (count <= 0) {
        result.FirstStart = true;
        count = 1;
    }
    count = std::min(count, kMaxAccounts);

    m.MailCountSound =
        ini.readString(kMain, "MailCountSound", joinPath(in.workingFolder, "bip.wav"));
    m.IncomingSound =
        ini.readString(kMain, "IncomingSound", joinPath(in.workingFolder, "incoming.wav"));
    m.SoundItemIndex = ini.readInteger(kMain, "SoundItemIndex", 1);
    m.MAXMailCount = ini.readInteger(kMain, "MAXMailCount", 10);
    m.PrefsLevel = ini.readInteger(kMain, "PrefsLevel", 0);
    m.Floating = ini.readBool(kMain, "Floating", false);
    m.AlwaysOnTop = ini.readBool(kMain, "AlwaysOnTop", true);
    m.Round = ini.readBool(kMain, "Round", true);
    m.SnapWindow = ini.readBool(kMain, "SnapWindow", true);
    m.KeepMailDB = ini.readBool(kMain, "KeepMailDB", true);
    m.CheckAllWhenGoingOnline = ini.readBool(kMain, "CheckAllWhenGoingOnline", true);
    m.CutWhenOffline = ini.readBool(kMain, "CutWhenOffline", false);
    m.MaxDownloadSize = ini.readInteger(kMain, "MaxDownloadSize", 50);

    out.Accounts.clear();
    out.Accounts.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n)
        out.Accounts.push_back(readAccount(ini, n, m.Colors));
    m.ECount = count;

    const int filters = std::clamp(ini.readInteger(kMain, "FilterCount", 0), 0, kMaxFilters);
    out.Filters.clear();
    out.Filters.reserve(static_cast<std::size_t>(filters));
    for (int k = 0; k < filters; ++k)
        out.Filters.push_back(readFilter(ini, k));
    m.FilterCount = filters;

    // A field of no size or a font of no size would leave a window without visible fields:
    // such values read as their defaults.
    auto positive = [&](std::string_view key, int def) {
        const int v = ini.readInteger(kMetrics, key, def);
        return v > 0 ? v : def;
    };
    m.CheckerWidth = positive("CheckerWidth", 26);
    m.CheckerHeight = positive("CheckerHeight", 18);
    m.VSpace = ini.readInteger(kMetrics, "VSpace", 8);
    m.HSpace = ini.readInteger(kMetrics, "HSpace", 9);
    m.FontSize = positive("FontSize", 9);

    const WindowSize window = in.layout ? in.layout(out) : in.window;
    const WindowPositions d = defaultWindowPositions(in.screen, window);
    m.defaultX = ini.readInteger(kMain, "defaultX", d.defaultX);
    m.defaultY = ini.readInteger(kMain, "defaultY", d.defaultY);
    m.alternativeX = ini.readInteger(kMain, "alternativeX", d.alternativeX);
    m.alternativeY = ini.readInteger(kMain, "alternativeY", d.alternativeY);
    m.currentX = ini.readInteger(kMain, "currentX", d.currentX);
    m.currentY = ini.readInteger(kMain, "currentY", d.currentY);

    m.ForceTransparency = ini.readBool(kMain, "ForceTransparency", true);
    m.Transparency = ini.readBool(kMain, "Transparency", true);
    m.TransparencyValue = ini.readInteger(kMain, "TransparencyValue", 255);
    return result;
}

SettingsReadResult loadSettingsFile(const std::string& path, const SettingsReadInputs& inputs,
                                    Settings& out) {
    const IniFile ini(path);
    return readSettings(ini, inputs, out);
}

void saveSettings(IniFile& ini, const Settings& s, const SaveInputs& now) {
    const MainSettings& m = s.Main;
    const int accounts = s.accountCount();
    const int filters = static_cast<int>(s.Filters.size());

    ini.writeString(kMain, "on/offline", now.online ? "on" : "off");
    ini.writeBool(kMain, "AlwaysOffline", m.AlwaysOffline);
    ini.writeString(kMain, "ReleaseNr", kReleaseNr);
    ini.writeBool(kMain, "AnimIcons", m.AnimIcons);
    ini.writeBool(kMain, "Blinking", m.Blinking);
    ini.writeInteger(kMain, "Jumpback", m.Jumpback);
    ini.writeBool(kMain, "AutoFloat", m.AutoFloat);
    ini.writeBool(kMain, "Hidden", now.hidden);
    ini.writeBool(kMain, "HideWhenOffline", m.HideWhenOffline);
    ini.writeBool(kMain, "DYKTStartup", m.DYKTStartup);
    ini.writeBool(kMain, "PopupMailList", m.PopupMailList);
    ini.writeBool(kMain, "HideWhenEmpty", m.HideWhenEmpty);
    ini.writeInteger(kMain, "defaultX", m.defaultX);
    ini.writeInteger(kMain, "defaultY", m.defaultY);
    ini.writeInteger(kMain, "alternativeX", m.alternativeX);
    ini.writeInteger(kMain, "alternativeY", m.alternativeY);
    ini.writeInteger(kMain, "currentX", now.currentX);
    ini.writeInteger(kMain, "currentY", now.currentY);
    ini.writeString(kMain, "ColorSet", m.BlueSetInUse ? "blue" : "gray");
    ini.writeInteger(kMain, "ECount", accounts);
    ini.writeString(kMain, "MailCountSound", singleLine(m.MailCountSound));
    ini.writeString(kMain, "IncomingSound", singleLine(m.IncomingSound));
    ini.writeInteger(kMain, "SoundItemIndex", m.SoundItemIndex);
    ini.writeInteger(kMain, "MAXMailCount", m.MAXMailCount);
    ini.writeInteger(kMain, "PrefsLevel", m.PrefsLevel);
    ini.writeBool(kMain, "Floating", m.Floating);
    ini.writeBool(kMain, "AlwaysOnTop", m.AlwaysOnTop);
    ini.writeBool(kMain, "KeepLogFile", m.KeepLogFile);
    ini.writeBool(kMain, "Transparency", m.Transparency);
    ini.writeInteger(kMain, "TransparencyValue", m.TransparencyValue);
    ini.writeBool(kMain, "Round", m.Round);
    ini.writeBool(kMain, "CheckAllWhenGoingOnline", m.CheckAllWhenGoingOnline);
    ini.writeInteger(kMain, "MaxDownloadSize", m.MaxDownloadSize);
    ini.writeBool(kMain, "CutWhenOffline", m.CutWhenOffline);
    ini.writeBool(kMain, "SnapWindow", m.SnapWindow);
    ini.writeBool(kMain, "keepMailDB", m.KeepMailDB);

    for (int n = 1; n <= accounts; ++n) {
        const AccountSettings& a = s.account(n);
        const std::string sec = std::to_string(n);
        ini.writeString(sec, "Name", singleLine(a.Name));
        ini.writeInteger(sec, "MailServerType", a.MailServerType);
        ini.writeString(sec, "IMAPMailBoxName", singleLine(a.IMAPMailBoxName));
        ini.writeString(sec, "Host", singleLine(a.Host));
        ini.writeColor(sec, "ActiveColor", a.ActiveColor);
        ini.writeColor(sec, "IdleColor", a.IdleColor);
        ini.writeString(sec, "UserID", singleLine(a.UserID));
        ini.writeString(sec, "Password", a.SavePwd ? storedPasswordText(a.Password) : "");
        ini.writeBool(sec, "SavePwd", a.SavePwd);
        ini.writeInteger(sec, "Timer", a.Timer);
        ini.writeBool(sec, "Active", a.Active);
        ini.writeBool(sec, "Sound", a.Sound);
        ini.writeBool(sec, "Show", a.Show);
        ini.writeBool(sec, "List", a.List);
        ini.writeBool(sec, "RetrieveAllBodies", a.RetrieveAllBodies);
        ini.writeString(sec, "CustomMailClientPath", singleLine(a.CustomMailClientPath));
        ini.writeInteger(sec, "DefaultMailClient", a.DefaultMailClient);
    }
    eraseStaleSections(ini, accounts + 1, [](int n) { return std::to_string(n); });

    ini.writeInteger(kMain, "FilterCount", filters);
    for (int k = 0; k < filters; ++k) {
        const TFilter& f = s.Filters[static_cast<std::size_t>(k)];
        const std::string sec = filterSectionName(k);
        ini.writeInteger(sec, "IfCondition", f.IfCondition);
        ini.writeBool(sec, "Active", f.Active);
        ini.writeInteger(sec, "Account", f.Account);
        ini.writeInteger(sec, "Action", f.Action);
        ini.writeString(sec, "Argument", singleLine(f.Argument));
        ini.writeString(sec, "SoundFile", singleLine(f.SoundFile));
        ini.writeInteger(sec, "Icon", f.Icon);
    }
    eraseStaleSections(ini, filters, filterSectionName);

    if (!ini.sectionExists(kColorSet)) {
        const CheckerColors d = CheckerColors::blueDefaults();
        ini.writeInteger(kColorSet, "BorderSize", d.BorderSize);
        ini.writeColor(kColorSet, "Back", d.Back);
        ini.writeColor(kColorSet, "Active", d.Active);
        ini.writeColor(kColorSet, "Idle", d.Idle);
        ini.writeColor(kColorSet, "Connected", d.Connected);
        ini.writeColor(kColorSet, "Error", d.Error);
        ini.writeColor(kColorSet, "Font", d.Font);
    }

    ini.writeInteger(kMetrics, "CheckerWidth", m.CheckerWidth);
    ini.writeInteger(kMetrics, "CheckerHeight", m.CheckerHeight);
    ini.writeInteger(kMetrics, "VSpace", m.VSpace);
    ini.writeInteger(kMetrics, "HSpace", m.HSpace);
    ini.writeInteger(kMetrics, "FontSize", m.FontSize);
}

void saveSettingsFile(const std::string& path, const Settings& settings, const SaveInputs& now) {
    IniFile ini = IniFile::loadForUpdate(path);
    saveSettings(ini, settings, now);
    ini.save();
}

} // namespace tarn
