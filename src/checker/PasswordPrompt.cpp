#include "checker/PasswordPrompt.h"

#include "checker/UiText.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace tarn {

namespace {

// The edit shows "*" for every typed character, whatever the desktop's style uses.
class StarEchoStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

PasswordPrompt::PasswordPrompt(const QString& prompt, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("PasswordPrompt"));
    setWindowTitle(QString::fromLatin1(Caption));
    setModal(true);
    setFixedSize(300, 100);

    m_label = new QLabel(prompt, this);
    m_label->setObjectName(QStringLiteral("PromptLabel"));
    m_label->setGeometry(8, 16, 201, std::clamp(m_label->fontMetrics().height(), 13, 24));

    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("PasswordEdit"));
    auto* star = new StarEchoStyle;
    star->setParent(m_edit);
    m_edit->setStyle(star);
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setGeometry(8, 40, 201, 21);
    m_label->setBuddy(m_edit);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    m_ok->setGeometry(224, 8, 67, 24);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_cancel->setGeometry(224, 40, 67, 24);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_edit->setFocus();
}

void PasswordPrompt::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred as a whole, frame included, once the frame is known.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        const QSize outer = frameGeometry().size();
        move(s.x() + (s.width() - outer.width()) / 2, s.y() + (s.height() - outer.height()) / 2);
    }
}

std::optional<std::string> PasswordPrompt::ask(const std::string& prompt) {
    PasswordPrompt dialog(uiText(prompt));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.passwordEdit()->text().toStdString();
}

} // namespace tarn
