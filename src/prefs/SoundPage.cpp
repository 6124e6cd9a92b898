#include "prefs/SoundPage.h"

#include "checker/TF_CheckerWindow.h"
#include "checker/UiText.h"
#include "core/CheckFrequency.h"
#include "core/GlobalOptions.h"
#include "core/NewMailSounds.h"
#include "core/NumberRanges.h"
#include "core/Settings.h"
#include "core/TarnError.h"
#include "prefs/TF_Prefs.h"

#include "ui_SoundPage.h"

#include <QEvent>
#include <QRadioButton>

#include <filesystem>
#include <system_error>

namespace tarn {

namespace {

QString fileNamePart(const std::string& path) {
    return uiText(std::filesystem::path(path).filename().string());
}

} // namespace

SoundPage::SoundPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::SoundPage>()) {
    m_ui->setupUi(this);
    auto command = [this](void (SoundPage::*handler)()) {
        return
            [this, handler] { this->prefs().runCommand([this, handler] { (this->*handler)(); }); };
    };
    connect(m_ui->Button4, &QPushButton::clicked, this, command(&SoundPage::BitBtn1Click));
    connect(m_ui->Button5, &QPushButton::clicked, this, command(&SoundPage::BitBtn3Click));
    connect(m_ui->Button3, &QPushButton::clicked, this, command(&SoundPage::BitBtn2Click));
    connect(m_ui->Button6, &QPushButton::clicked, this, command(&SoundPage::BitBtn4Click));
    m_ui->lMaxMailCount->installEventFilter(this);

    const QRadioButton* items[] = {m_ui->RadioGroup2Item0, m_ui->RadioGroup2Item1,
                                   m_ui->RadioGroup2Item2, m_ui->RadioGroup2Item3};
    bind(nullptr, [this, items] {
        for (int i = 0; i < 4; ++i)
            if (items[i]->isChecked())
                mainSettings().SoundItemIndex = i;
    });
    bindNumber(m_ui->lMaxMailCount, &MainSettings::MAXMailCount, kRepeatCountRange);
}

SoundPage::~SoundPage() = default;

void SoundPage::formCreate() {
    // The occasion is chosen once; later openings keep what the user left there.
    const int index = mainSettings().SoundItemIndex;
    QRadioButton* items[] = {m_ui->RadioGroup2Item0, m_ui->RadioGroup2Item1, m_ui->RadioGroup2Item2,
                             m_ui->RadioGroup2Item3};
    if (index >= 0 && index < 4)
        items[index]->setChecked(true);
    showFileNames();
}

void SoundPage::fill() {
    PrefsPage::fill();
    showFileNames();
}

void SoundPage::showFileNames() {
    const MainSettings& m = mainSettings();
    m_ui->IncomingSoundLabel->setText(fileNamePart(m.IncomingSound));
    m_ui->IncomingSoundLabel->setToolTip(uiText(m.IncomingSound));
    m_ui->MailCountSoundLabel->setText(fileNamePart(m.MailCountSound));
    m_ui->MailCountSoundLabel->setToolTip(uiText(m.MailCountSound));
}

bool SoundPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->lMaxMailCount && event->type() == QEvent::FocusOut)
        prefs().runCommand([this] { lMaxMailCountExit(); });
    return PrefsPage::eventFilter(watched, event);
}

void SoundPage::browse(std::string& setting) {
    const std::string chosen = prefs().dialogs().openFileName(QString::fromLatin1(BrowseTitle),
                                                              QString::fromLatin1(BrowseFilter));
    if (chosen.empty())
        return;
    std::error_code ec;
    const std::filesystem::path path(chosen);
    if (!std::filesystem::exists(path, ec) || std::filesystem::is_directory(path, ec))
        return;
    // The settings file keeps one value per line; such a name could never be written.
    if (chosen.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        prefs().dialogs().error(QString::fromLatin1(LineBreakText));
        return;
    }
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    setting = ec ? chosen : full.lexically_normal().string();
    showFileNames();
}

void SoundPage::BitBtn1Click() {
    browse(mainSettings().IncomingSound);
}

void SoundPage::BitBtn3Click() {
    browse(mainSettings().MailCountSound);
}

void SoundPage::play(const std::string& file) {
    // Without the media-player lock: a worker announcing mail holds it while the main thread
    // plays its file, so waiting for it here could never end.
    SoundPlayer* player = checker().soundPlayer();
    bool played = false;
    if (player && !file.empty()) {
        // The player keeps the window responsive while it waits: no second play meanwhile.
        m_ui->Button3->setEnabled(false);
        m_ui->Button6->setEnabled(false);
        try {
            played = player->play(file);
        } catch (const std::exception&) {
            played = false;
        }
        m_ui->Button3->setEnabled(true);
        m_ui->Button6->setEnabled(true);
    }
    if (!played)
        prefs().dialogs().error(QString::fromLatin1(NotPlayedText));
}

void SoundPage::BitBtn2Click() {
    play(mainSettings().IncomingSound);
}

void SoundPage::BitBtn4Click() {
    play(mainSettings().MailCountSound);
}

void SoundPage::lMaxMailCountExit() {
    const NumberFieldCheck c = checkRepeatCount(m_ui->lMaxMailCount->text().toStdString());
    if (QString::fromStdString(c.text) != m_ui->lMaxMailCount->text())
        m_ui->lMaxMailCount->setText(QString::fromStdString(c.text));
    if (c.error)
        throw TarnError(c.error);
}

} // namespace tarn
