#include "prefs/LogPage.h"

#include "check/Session.h"
#include "checker/UiText.h"
#include "core/MainSettings.h"
#include "prefs/TF_Prefs.h"

#include "ui_LogPage.h"

namespace tarn {

LogPage::LogPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::LogPage>()) {
    m_ui->setupUi(this);
    bindCheckBox(m_ui->CheckBox2, &MainSettings::KeepLogFile);
    connect(m_ui->Button2, &QPushButton::clicked, this,
            [this] { this->prefs().runCommand([this] { ShowLogClick(); }); });
}

LogPage::~LogPage() = default;

void LogPage::ShowLogClick() {
    ShowDeletionLog(session().workingFolder(), m_viewer,
                    [this](const std::string& text) { prefs().dialogs().error(uiText(text)); });
}

} // namespace tarn
