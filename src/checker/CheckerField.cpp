#include "checker/CheckerField.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPalette>

namespace tarn {

CheckerField::CheckerField(int account, QWidget* parent) : QFrame(parent), m_account(account) {
    setObjectName(QStringLiteral("CheckerField%1").arg(account));
    QFont f(QStringLiteral("Arial"));
    f.setBold(true);
    f.setPointSize(9);
    setFont(f);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor CheckerField::toQColor(std::uint32_t color) {
    if (color & 0x80000000u) {
        // The desktop scheme's colours by their index, mapped onto the palette. This is the
        // one place that reads them: everything painted from the settings comes through here.
        const QPalette pal = QApplication::palette();
        switch (color & 0x7FFFFFFFu) {
        case 1:  // desktop
        case 12: // application workspace
            return pal.color(QPalette::Dark);
        case 0:  // scroll bar
        case 4:  // menu
        case 10: // active border
        case 11: // inactive border
        case 15: // button face
        case 30: // menu bar
            return pal.color(QPalette::Button);
        case 5: // window
            return pal.color(QPalette::Base);
        case 7: // menu text
        case 8: // window text
            return pal.color(QPalette::WindowText);
        case 2:  // active caption
        case 13: // highlight
        case 27: // active caption's gradient
        case 29: // menu highlight
            return pal.color(QPalette::Highlight);
        case 9:  // caption text
        case 14: // highlight text
            return pal.color(QPalette::HighlightedText);
        case 16: // button shadow
            return pal.color(QPalette::Mid);
        case 17: // gray text
        case 19: // inactive caption text
            return pal.color(QPalette::PlaceholderText);
        case 18: // button text
            return pal.color(QPalette::ButtonText);
        case 20: // button highlight
            return pal.color(QPalette::Light);
        case 6:  // window frame
        case 21: // dark shadow
            return pal.color(QPalette::Shadow);
        case 22: // light edge
            return pal.color(QPalette::Midlight);
        case 24: // tooltip background
            return pal.color(QPalette::ToolTipBase);
        case 23: // tooltip text
            return pal.color(QPalette::ToolTipText);
        case 26: // hot-tracked item
            return pal.color(QPalette::Link);
        default: // inactive caption and its gradient, and unknown indexes
            return pal.color(QPalette::Window);
        }
    }
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

void CheckerField::setColor(std::uint32_t color) {
    m_color = color;
    update();
}

void CheckerField::setFontColor(std::uint32_t color) {
    m_fontColor = color;
    update();
}

void CheckerField::setBevel(int width) {
    m_bevel = width < 0 ? 0 : width;
    update();
}

void CheckerField::setText(const QString& text) {
    m_text = text;
    update();
}

void CheckerField::setPointSize(int points) {
    QFont f = font();
    if (points > 0)
        f.setPointSize(points);
    f.setBold(true);
    setFont(f);
    update();
}

void CheckerField::setHint(const QString& hint) {
    m_hint = hint;
    updateToolTip();
}

void CheckerField::setOffline(bool offline) {
    if (m_state.offline == offline)
        return;
    m_state.offline = offline;
    updateToolTip();
    update();
}

void CheckerField::setPushDownSince(const QString& since) {
    m_state.pushDownSince = since.toStdString();
    updateToolTip();
}

void CheckerField::updateToolTip() {
    setToolTip(QString::fromStdString(fieldHintText(m_hint.toStdString(), m_state)));
}

void CheckerField::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    QColor fill = toQColor(m_color);
    if (m_state.offline) {
        // Dimmed: most of the colour gone, so offline reads at a glance.
        fill = QColor::fromHsv(fill.hsvHue(), fill.hsvSaturation() / 4, 96 + fill.value() / 4);
    }
    p.fillRect(r, fill);
    if (m_bevel > 0) {
        // Raised: light on the top and left, dark on the bottom and right.
        const QColor light = fill.lighter(160);
        const QColor dark = fill.darker(200);
        for (int i = 0; i < m_bevel; ++i) {
            const QRect b = r.adjusted(i, i, -i - 1, -i - 1);
            p.setPen(light);
            p.drawLine(b.topLeft(), b.topRight());
            p.drawLine(b.topLeft(), b.bottomLeft());
            p.setPen(dark);
            p.drawLine(b.bottomLeft(), b.bottomRight());
            p.drawLine(b.topRight(), b.bottomRight());
        }
    }
    if (!m_text.isEmpty()) {
        QColor ink = toQColor(m_fontColor);
        if (m_state.offline)
            ink.setAlpha(150);
        p.setPen(ink);
        p.setFont(font());
        p.drawText(r, Qt::AlignCenter, m_text);
    }
}

void CheckerField::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        emit doubleClicked(m_account);
}

void CheckerField::contextMenuEvent(QContextMenuEvent* event) {
    if (m_menu)
        m_menu->popup(event->globalPos());
    event->accept();
}

} // namespace tarn
