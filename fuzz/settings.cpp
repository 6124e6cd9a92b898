// The tarn.ini reader on any file, then the writer: what was read must be written so that it
// reads back the same, and the untouched text must survive.
#include "core/Settings.h"
#include "core/EMailListSettings.h"
#include "core/IniFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tarn;

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "settings round trip: %s\n", what);
        std::abort();
    }
}

struct Read {
    Settings settings;
    EMailListSettings list;
};

Read readAll(const IniFile& ini) {
    SettingsReadInputs in;
    in.workingFolder = "/home/u/.config/tarnwick";
    in.screen = {1920, 1080};
    in.layout = [](const Settings& s) { return WindowSize{s.accountCount() * 30, 20}; };
    Read r;
    readSettings(ini, in, r.settings);
    EMailListInputs listIn;
    listIn.screenWidth = 1920;
    listIn.screenHeight = 1080;
    listIn.designColumnWidths = {200, 100, 60, 70, 80, 120};
    r.list = readEMailListSection(ini, listIn, r.settings.Main);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    IniFile ini = IniFile::fromText(text);
    // Reading and writing back unchanged keeps every byte; a last line gets its line end.
    const std::string same = ini.text();
    require(same == text ||
                (!text.empty() && text.back() != '\n' && same == std::string(text) + "\n"),
            "text changed by parsing");

    const Read first = readAll(ini);
    const MainSettings& m = first.settings.Main;
    const SaveInputs now{m.OnOffline == "on", m.Hidden, m.currentX, m.currentY};
    saveSettings(ini, first.settings, now);
    writeEMailListSection(ini, first.list, m);
    writeColorSet(ini, m.Colors);

    // Through the text, as the file would be read at the next start.
    const Read second = readAll(IniFile::fromText(ini.text()));
    Settings expected = first.settings;
    expected.Main.ReleaseNr = std::string(kReleaseNr);
    expected.Main.OnOffline = now.online ? "on" : "off";
    expected.Main.Colors.BorderSize = 0; // the colour commands always write it as 0
    for (AccountSettings& a : expected.Accounts) {
        if (!a.SavePwd)
            a.Password.clear();
    }
    require(second.settings.Main == expected.Main, "main settings differ");
    for (std::size_t n = 0; n < expected.Accounts.size(); ++n) {
        const AccountSettings& want = expected.Accounts[n];
        const AccountSettings& got = second.settings.Accounts.at(n);
        for (const SettingKey& k : accountKeys()) {
            const SettingValue a =
                settingValue(k, {.account = const_cast<AccountSettings*>(&want)});
            const SettingValue b = settingValue(k, {.account = const_cast<AccountSettings*>(&got)});
            if (a != b)
                std::fprintf(stderr, "account %zu key %s differs\n", n + 1,
                             std::string(k.name).c_str());
        }
    }
    require(second.settings.Accounts == expected.Accounts, "accounts differ");
    require(second.settings.Filters == expected.Filters, "filters differ");
    require(second.list == first.list, "mail list settings differ");
    return 0;
}
