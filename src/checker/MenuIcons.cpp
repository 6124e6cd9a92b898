#include "checker/MenuIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace tarn {

namespace {

using Draw = void (*)(QPainter&);

const QColor Ink(40, 50, 70);
const QColor Blue(40, 100, 200);
const QColor Paper(250, 250, 245);

void pen(QPainter& p, const QColor& c, qreal width = 1.0) {
    p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

// A cog wheel: the settings.
void drawPreferences(QPainter& p) {
    QPainterPath cog;
    const QPointF c(8, 8);
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * M_PI / 4;
        const qreal w = 0.28;
        cog.moveTo(c);
        cog.lineTo(c + QPointF(7.2 * std::cos(a - w), 7.2 * std::sin(a - w)));
        cog.lineTo(c + QPointF(7.2 * std::cos(a + w), 7.2 * std::sin(a + w)));
        cog.closeSubpath();
    }
    cog.addEllipse(c, 5.4, 5.4);
    cog.setFillRule(Qt::WindingFill);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(110, 120, 135));
    p.drawPath(cog.simplified());
    p.setBrush(Paper);
    p.drawEllipse(c, 2.2, 2.2);
}

// A sheet with lines: the mail list.
void drawMailList(QPainter& p) {
    pen(p, Ink);
    p.setBrush(Paper);
    p.drawRect(QRectF(2.5, 1.5, 11, 13));
    for (int i = 0; i < 4; ++i) {
        const qreal y = 4.5 + i * 2.8;
        pen(p, Blue, 1.4);
        p.drawPoint(QPointF(5, y));
        pen(p, Ink, 1.0);
        p.drawLine(QPointF(7, y), QPointF(11.5, y));
    }
}

// A downward arrow into a tray: fetch the newer release.
void drawUpdate(QPainter& p) {
    pen(p, Ink);
    p.setBrush(QColor(220, 225, 235));
    p.drawRect(QRectF(1.5, 10.5, 13, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 150, 60));
    QPainterPath arrow;
    arrow.moveTo(6, 1);
    arrow.lineTo(10, 1);
    arrow.lineTo(10, 6);
    arrow.lineTo(13, 6);
    arrow.lineTo(8, 11.5);
    arrow.lineTo(3, 6);
    arrow.lineTo(6, 6);
    arrow.closeSubpath();
    p.drawPath(arrow);
}

void drawBadge(QPainter& p, const QString& letter) {
    pen(p, QColor(20, 60, 140));
    p.setBrush(Blue);
    p.drawEllipse(QPointF(8, 8), 6.8, 6.8);
    QFont f = p.font();
    f.setFamily(QStringLiteral("Sans Serif"));
    f.setBold(true);
    f.setPixelSize(11);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, letter);
}

void drawHelp(QPainter& p) {
    drawBadge(p, QStringLiteral("?"));
}

void drawAbout(QPainter& p) {
    drawBadge(p, QStringLiteral("i"));
}

// A small window and the place it moves to.
void drawWindowPositions(QPainter& p) {
    pen(p, QColor(150, 155, 165), 1.0);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(7.5, 7.5, 7, 6));
    pen(p, Ink);
    p.setBrush(Paper);
    p.drawRect(QRectF(1.5, 2.5, 8, 6));
    p.setPen(Qt::NoPen);
    p.setBrush(Blue);
    p.drawRect(QRectF(2, 3, 7, 1.6));
    pen(p, QColor(30, 150, 60), 1.3);
    p.drawLine(QPointF(9.5, 10.5), QPointF(12.5, 13.5));
}

// A plug: connected to the network or not.
void drawOnline(QPainter& p) {
    pen(p, Ink, 1.6);
    p.drawLine(QPointF(2, 14), QPointF(5.5, 10.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 100, 115));
    QPainterPath body;
    body.moveTo(4.5, 8.5);
    body.lineTo(7.5, 5.5);
    body.lineTo(10.5, 8.5);
    body.lineTo(7.5, 11.5);
    body.closeSubpath();
    p.drawPath(body);
    pen(p, QColor(200, 140, 20), 1.6);
    p.drawLine(QPointF(8.5, 5.5), QPointF(11.5, 2.5));
    p.drawLine(QPointF(10.5, 7.5), QPointF(13.5, 4.5));
}

// The checker window itself: hide or show it.
void drawRestore(QPainter& p) {
    pen(p, Ink);
    p.setBrush(QColor(40, 40, 110));
    p.drawRoundedRect(QRectF(0.5, 4.5, 15, 7), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 205, 250));
    p.drawRect(QRectF(3, 6, 4, 4));
    p.drawRect(QRectF(9, 6, 4, 4));
}

// An envelope with a green circling arrow: check every account.
void drawCheckAll(QPainter& p) {
    pen(p, Ink);
    p.setBrush(Paper);
    p.drawRect(QRectF(0.5, 4.5, 11, 8));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(0.5, 4.5), QPointF(6, 9), QPointF(11.5, 4.5)}));
    pen(p, QColor(30, 150, 60), 1.6);
    p.drawArc(QRectF(8.5, 0.8, 6.5, 6.5), 90 * 16, 270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 150, 60));
    p.drawPolygon(QPolygonF({QPointF(11, -0.4), QPointF(14, 1.2), QPointF(11, 3.2)}));
}

// A power sign: quit.
void drawQuit(QPainter& p) {
    pen(p, QColor(190, 30, 30), 2.0);
    p.drawArc(QRectF(2.5, 2.5, 11, 11), 120 * 16, 300 * 16);
    p.drawLine(QPointF(8, 1.5), QPointF(8, 7.5));
}

struct Item {
    const char* name;
    const char* theme;
    Draw draw;
};

const Item items[] = {
    {"Preferences1", "preferences-system", drawPreferences},
    {"MailList1", "mail-folder-inbox", drawMailList},
    {"CheckforUpdate2", "system-software-update", drawUpdate},
    {"Help1", "help-contents", drawHelp},
    {"About2", "help-about", drawAbout},
    {"WindowPositions1", "", drawWindowPositions},
    {"online1", "network-wired", drawOnline},
    {"Restore1", "", drawRestore},
    {"CheckAll1", "mail-send-receive", drawCheckAll},
    {"Quit2", "application-exit", drawQuit},
};

const Item* find(const QString& name) {
    for (const Item& i : items)
        if (name == QLatin1String(i.name))
            return &i;
    return nullptr;
}

} // namespace

QImage MenuIcons::drawing(const QString& itemName, int scale) {
    const Item* item = find(itemName);
    if (!item || scale < 1)
        return {};
    QImage img(Size * scale, Size * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.scale(scale, scale);
    item->draw(p);
    return img;
}

QString MenuIcons::themeName(const QString& itemName) {
    const Item* item = find(itemName);
    return item ? QString::fromLatin1(item->theme) : QString();
}

QIcon MenuIcons::forItem(const QString& itemName) {
    const Item* item = find(itemName);
    if (!item)
        return {};
    QIcon own;
    own.addPixmap(QPixmap::fromImage(drawing(itemName, 1)));
    own.addPixmap(QPixmap::fromImage(drawing(itemName, 2)));
    const QString theme = themeName(itemName);
    return theme.isEmpty() ? own : QIcon::fromTheme(theme, own);
}

} // namespace tarn
