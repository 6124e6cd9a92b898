#include "prefs/GeneralPage.h"

#include "core/CheckFrequency.h"
#include "core/GlobalOptions.h"
#include "core/MainSettings.h"
#include "core/NumberRanges.h"
#include "core/TarnError.h"
#include "prefs/TF_Prefs.h"

#include "ui_GeneralPage.h"

#include <QEvent>

namespace tarn {

GeneralPage::GeneralPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::GeneralPage>()) {
    m_ui->setupUi(this);
    bindCheckBox(m_ui->dyktCheckBox, &MainSettings::DYKTStartup);
    bindCheckBox(m_ui->RememberCheckBox, &MainSettings::KeepMailDB);
    bindCheckBox(m_ui->PasswordsInFile, &MainSettings::PasswordsInFile);
    bindCheckBox(m_ui->popupMailListCheckBox, &MainSettings::PopupMailList);
    bindCheckBox(m_ui->HidewhenEmptyCheckBox, &MainSettings::HideWhenEmpty);
    bindCheckBox(m_ui->CheckBox16, &MainSettings::ConvertHTML);
    bindCheckBox(m_ui->CheckBox17, &MainSettings::WrapText);
    bindCheckBox(m_ui->CheckAllBox, &MainSettings::CheckAllWhenGoingOnline);
    bindCheckBox(m_ui->CheckBox9, &MainSettings::AlwaysOffline);
    bindCheckBox(m_ui->disconnectonoffline, &MainSettings::CutWhenOffline);
    bindNumber(m_ui->MaxDlEdit, &MainSettings::MaxDownloadSize, kDownloadLimitRange);
    m_ui->MaxDlEdit->installEventFilter(this);
    bindCheckBox(m_ui->DesktopNotify, &MainSettings::DesktopNotify);
}

GeneralPage::~GeneralPage() = default;

bool GeneralPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->MaxDlEdit && event->type() == QEvent::FocusOut)
        prefs().runCommand([this] { MaxDlEditExit(); });
    return PrefsPage::eventFilter(watched, event);
}

void GeneralPage::MaxDlEditExit() {
    const NumberFieldCheck c = checkDownloadLimit(m_ui->MaxDlEdit->text().toStdString());
    if (QString::fromStdString(c.text) != m_ui->MaxDlEdit->text())
        m_ui->MaxDlEdit->setText(QString::fromStdString(c.text));
    if (c.error)
        throw TarnError(c.error);
}

void GeneralPage::setTipsAtStartup(bool on) {
    m_ui->dyktCheckBox->setChecked(on);
}

} // namespace tarn
