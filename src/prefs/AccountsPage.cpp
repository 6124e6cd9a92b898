#include "prefs/AccountsPage.h"

#include "prefs/AccountConfigPage.h"
#include "prefs/TF_Prefs.h"

#include "ui_AccountsPage.h"

namespace tarn {

AccountsPage::AccountsPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::AccountsPage>()) {
    m_ui->setupUi(this);
    connect(m_ui->NewButton1, &QPushButton::clicked, this, [this] {
        TF_Prefs& p = this->prefs();
        p.runCommand([&p] { p.accountPage().NewButton1Click(); });
    });
}

AccountsPage::~AccountsPage() = default;

} // namespace tarn
