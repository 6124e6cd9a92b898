#include "auxwin/TF_DYKT.h"

#include "checker/UiText.h"
#include "core/MainSettings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace tarn {

TF_DYKT::TF_DYKT(MainSettings& settings, const std::string& tipsPath, const std::string& homePage,
                 QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_settings(settings), m_tips(tipsPath, homePage) {
    setObjectName(QStringLiteral("TF_DYKT"));
    setWindowTitle(QStringLiteral("Tarnwick Tips"));
    setFixedSize(ClientWidth, ClientHeight);

    m_label = new QLabel(QStringLiteral("Did you know that..."), this);
    m_label->setObjectName(QStringLiteral("Label1"));
    m_label->setGeometry(13, 6, 209, 16);

    m_mDYKT = new QPlainTextEdit(this);
    m_mDYKT->setObjectName(QStringLiteral("mDYKT"));
    m_mDYKT->setGeometry(13, 26, 209, 121);
    m_mDYKT->setReadOnly(true);
    m_mDYKT->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_mDYKT->setAccessibleName(QStringLiteral("Tip"));
    m_label->setBuddy(m_mDYKT);

    m_cbShowAgain = new QCheckBox(QStringLiteral("Show this window at startup"), this);
    m_cbShowAgain->setObjectName(QStringLiteral("cbShowAgain"));
    m_cbShowAgain->setGeometry(13, 154, 209, 20);

    m_bNext = new QPushButton(QStringLiteral("Next Tip"), this);
    m_bNext->setObjectName(QStringLiteral("bNext"));
    m_bNext->setGeometry(13, 182, 100, 25);
    connect(m_bNext, &QPushButton::clicked, this, [this] { TFr_DYKT1bNextClick(); });

    m_bClose = new QPushButton(QStringLiteral("Close"), this);
    m_bClose->setObjectName(QStringLiteral("bClose"));
    m_bClose->setGeometry(122, 182, 100, 25);
    m_bClose->setDefault(true);
    connect(m_bClose, &QPushButton::clicked, this, [this] { TFr_DYKT1bCloseClick(); });

    // Centred on the desktop, then to the left edge.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - ClientWidth) / 2,
             area.y() + (area.height() - ClientHeight) / 2);
    }
    // Shown at start by the program itself, so it leaves the keyboard where the user has it;
    // the menu's "Tips" raises and activates it explicitly.
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (m_settings.DYKTStartup)
        show();
    move(10, y());
}

void TF_DYKT::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Restoring from minimised is no new showing.
    if (!event->spontaneous())
        FormShow();
}

void TF_DYKT::FormShow() {
    m_cbShowAgain->setChecked(m_settings.DYKTStartup);
    TFr_DYKT1bNextClick();
}

void TF_DYKT::TFr_DYKT1bNextClick() {
    m_mDYKT->setPlainText(QStringLiteral("\n") + uiText(m_tips.next()));
}

void TF_DYKT::TFr_DYKT1bCloseClick() {
    close();
}

void TF_DYKT::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}

void TF_DYKT::FormClose() {
    m_settings.DYKTStartup = m_cbShowAgain->isChecked();
    if (m_startupChoice)
        m_startupChoice(m_settings.DYKTStartup);
}

} // namespace tarn
