#include "core/Settings.h"

#include "core/IniFile.h"

#include <algorithm>

namespace tarn {

namespace {

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
    SettingContext context;
    context.number = n;
    context.colors = colors;
    applySettingDefaults(accountKeys(), {.account = &a}, context);
    return a;
}

AccountSettings readAccount(const IniFile& ini, int n, const CheckerColors& colors) {
    AccountSettings a;
    SettingContext context;
    context.number = n;
    context.colors = colors;
    readSettingKeys(ini, std::to_string(n), accountKeys(), {.account = &a}, context);
    return a;
}

TFilter readFilter(const IniFile& ini, int k) {
    TFilter f;
    readSettingKeys(ini, filterSectionName(k), filterKeys(), {.filter = &f}, {});
    return f;
}

void BlueColorSet(const IniFile& ini, MainSettings& main) {
    CheckerColors c;
    readSettingKeys(ini, kColorSetSection, colorSetKeys(), {.colors = &c}, {});
    main.Colors = c;
    main.BlueSetInUse = true;
}

void GrayColorSet(MainSettings& main) {
    main.Colors = CheckerColors::gray();
    main.BlueSetInUse = false;
}

void writeColorSet(IniFile& ini, const CheckerColors& inUse) {
    CheckerColors c = inUse;
    c.BorderSize = 0;
    writeSettingKeys(ini, kColorSetSection, colorSetKeys(), {.colors = &c});
}

void saveColorSet(const std::string& path, const CheckerColors& inUse) {
    IniFile ini = IniFile::loadForUpdate(path);
    writeColorSet(ini, inUse);
    ini.save();
}

SettingsReadResult readSettings(const IniFile& ini, const SettingsReadInputs& in, Settings& out) {
    SettingsReadResult result;
    MainSettings& m = out.Main;
    SettingContext context;
    context.workingFolder = in.workingFolder;
    context.screen = in.screen;

    readSettingKeys(ini, kMainSection, mainKeys(), {.main = &m}, context);
    readSettingKeys(ini, kMetricsSection, metricsKeys(), {.main = &m}, context);
    result.ReleaseChanged = m.ReleaseNr != kReleaseNr;
    BlueColorSet(ini, m);

    // A count below 1 (missing, 0 or damaged) is a first start with one account.
    int count = m.ECount;
    if (count <= 0) {
        result.FirstStart = true;
        count = 1;
    }
    count = std::min(count, kMaxAccounts);
    out.Accounts.clear();
    out.Accounts.reserve(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n)
        out.Accounts.push_back(readAccount(ini, n, m.Colors));
    // The account of a first start is a new one: encrypted unless the file says otherwise.
    if (result.FirstStart && !ini.valueExists("1", "Security"))
        out.Accounts.front().Security = static_cast<int>(ConnectionSecurity::Tls);
    m.ECount = count;

    const int filters = std::clamp(m.FilterCount, 0, kMaxFilters);
    out.Filters.clear();
    out.Filters.reserve(static_cast<std::size_t>(filters));
    for (int k = 0; k < filters; ++k)
        out.Filters.push_back(readFilter(ini, k));
    m.FilterCount = filters;

    // The position defaults need the window as laid out from the accounts and metrics just read.
    context.window = in.layout ? in.layout(out) : in.window;
    readSettingKeys(ini, kMainSection, mainKeys(), {.main = &m}, context,
                    SettingReadPass::AfterLayout);
    return result;
}

SettingsReadResult loadSettingsFile(const std::string& path, const SettingsReadInputs& inputs,
                                    Settings& out) {
    const IniFile ini(path);
    return readSettings(ini, inputs, out);
}

void saveSettings(IniFile& ini, const Settings& s, const SaveInputs& now) {
    const int accounts = s.accountCount();
    const int filters = static_cast<int>(s.Filters.size());

    // What the file records that the model does not hold, or holds differently.
    MainSettings m = s.Main;
    m.OnOffline = now.online ? "on" : "off";
    m.ReleaseNr = std::string(kReleaseNr);
    m.Hidden = now.hidden;
    m.currentX = now.currentX;
    m.currentY = now.currentY;
    m.ECount = accounts;
    m.FilterCount = filters;
    writeSettingKeys(ini, kMainSection, mainKeys(), {.main = &m});

    for (int n = 1; n <= accounts; ++n) {
        AccountSettings a = s.account(n);
        if (!a.SavePwd)
            a.Password.clear();
        writeSettingKeys(ini, std::to_string(n), accountKeys(), {.account = &a});
    }
    eraseStaleSections(ini, accounts + 1, [](int n) { return std::to_string(n); });

    for (int k = 0; k < filters; ++k) {
        TFilter f = s.Filters[static_cast<std::size_t>(k)];
        writeSettingKeys(ini, filterSectionName(k), filterKeys(), {.filter = &f});
    }
    eraseStaleSections(ini, filters, filterSectionName);

    if (!ini.sectionExists(kColorSetSection))
        writeColorSet(ini, CheckerColors::blueDefaults());

    writeSettingKeys(ini, kMetricsSection, metricsKeys(), {.main = &m});
}

void saveSettingsFile(const std::string& path, const Settings& settings, const SaveInputs& now) {
    IniFile ini = IniFile::loadForUpdate(path);
    saveSettings(ini, settings, now);
    ini.save();
}

} // namespace tarn
