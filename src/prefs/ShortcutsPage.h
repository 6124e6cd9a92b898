#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class ShortcutsPage;
}

namespace tarn {

class ShellShortcuts;

// The "Shortcuts" page: start-up and start-menu entries for this instance of the program.
class ShortcutsPage : public PrefsPage {
    Q_OBJECT
public:
    explicit ShortcutsPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~ShortcutsPage() override;

    // "-addmenu" makes the start-menu entries while the dialog is created.
    void formCreate() override;

    // The buttons. A failure shows its reason; entries written before it stay.
    void StartupButton1Click();
    void StartmenuButton1Click();

private:
    ShellShortcuts shortcuts();
    // Runs one of the shortcut commands; its failure is shown in an error box.
    void run(void (ShellShortcuts::*command)() const);

    std::unique_ptr<Ui::ShortcutsPage> m_ui;
};

} // namespace tarn
