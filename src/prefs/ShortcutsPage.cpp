#include "prefs/ShortcutsPage.h"

#include "check/Session.h"
#include "checker/UiText.h"
#include "platform/ShellShortcuts.h"
#include "prefs/TF_Prefs.h"

#include "ui_ShortcutsPage.h"

#include <QPushButton>

#include <cstdio>
#include <exception>

namespace tarn {

ShortcutsPage::ShortcutsPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::ShortcutsPage>()) {
    m_ui->setupUi(this);
    connect(m_ui->StartupButton1, &QPushButton::clicked, this, [this] { StartupButton1Click(); });
    connect(m_ui->StartmenuButton1, &QPushButton::clicked, this,
            [this] { StartmenuButton1Click(); });
}

ShortcutsPage::~ShortcutsPage() = default;

ShellShortcuts ShortcutsPage::shortcuts() {
    const PrefsOptions& o = prefs().options();
    return ShellShortcuts({session().workingFolder(), o.programPath, o.PrefsName});
}

void ShortcutsPage::formCreate() {
    if (!prefs().options().addMenu)
        return;
    // No window is up yet to show a failure in.
    try {
        shortcuts().addStartmenuShortcuts();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick: -addmenu: %s\n", e.what());
    }
}

void ShortcutsPage::run(void (ShellShortcuts::*command)() const) {
    try {
        (shortcuts().*command)();
    } catch (const std::exception& e) {
        prefs().dialogs().error(uiText(e.what()));
    }
}

void ShortcutsPage::StartupButton1Click() {
    run(&ShellShortcuts::addStartupShortcut);
}

void ShortcutsPage::StartmenuButton1Click() {
    run(&ShellShortcuts::addStartmenuShortcuts);
}

} // namespace tarn
