#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class AccountsPage;
}

namespace tarn {

// The "Accounts" page: an introduction and "Create New Account".
class AccountsPage : public PrefsPage {
    Q_OBJECT
public:
    explicit AccountsPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~AccountsPage() override;

private:
    std::unique_ptr<Ui::AccountsPage> m_ui;
};

} // namespace tarn
