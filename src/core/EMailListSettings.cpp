#include "core/EMailListSettings.h"

#include "core/IniFile.h"
#include "core/SettingKeys.h"

namespace tarn {

EMailListSettings readEMailListSection(const IniFile& ini, const EMailListInputs& inputs,
                                       MainSettings& main) {
    EMailListSettings s;
    SettingContext context;
    context.screen = {inputs.screenWidth, inputs.screenHeight};
    context.designColumnWidths = inputs.designColumnWidths;
    readSettingKeys(ini, kEMailListSection, emailListKeys(), {.main = &main, .list = &s}, context);
    return s;
}

void writeEMailListSection(IniFile& ini, const EMailListSettings& list, const MainSettings& main) {
    EMailListSettings s = list;
    MainSettings m = main;
    writeSettingKeys(ini, kEMailListSection, emailListKeys(), {.main = &m, .list = &s});
}

void saveEMailListSection(const std::string& path, const EMailListSettings& list,
                          const MainSettings& main) {
    IniFile ini(path);
    writeEMailListSection(ini, list, main);
    ini.save();
}

} // namespace tarn
