#include "maillist/MessageTextArea.h"

#include "checker/UiText.h"

#include <QFontDatabase>

namespace tarn {

MessageTextArea::MessageTextArea(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSize(10);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::Base, p.color(QPalette::Button));
    setPalette(p);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Read-only, but the text can still be selected and copied by keyboard.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void MessageTextArea::setBytes(std::string_view bytes) {
    QString text = uiText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(text);
}

} // namespace tarn
