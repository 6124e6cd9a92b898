#include "maillist/MailListIcons.h"

#include "maillist/MailListRules.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>
#include <functional>

namespace tarn {

namespace {

using Painter = std::function<void(QPainter&)>;

// Paints a picture designed on a size x size grid at 1x and 2x.
QIcon drawn(int size, const Painter& paint) {
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pm(size * scale, size * scale);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            paint(p);
        }
        pm.setDevicePixelRatio(scale);
        icon.addPixmap(pm);
    }
    return icon;
}

// An envelope on a 16 grid.
void envelope(QPainter& p, const QColor& paper, bool open) {
    p.setPen(QPen(QColor(60, 60, 70), 1.0));
    p.setBrush(paper);
    p.drawRect(QRectF(1.5, 4.5, 13, 9));
    QPainterPath flap;
    if (open) {
        flap.moveTo(1.5, 4.5);
        flap.lineTo(8, 0.5);
        flap.lineTo(14.5, 4.5);
    } else {
        flap.moveTo(1.5, 4.5);
        flap.lineTo(8, 9.5);
        flap.lineTo(14.5, 4.5);
    }
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void cross(QPainter& p, const QRectF& r, const QColor& c) {
    p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

// Custom icons 3 to 13: a coloured flag of its own on the envelope.
const std::array<QColor, 11> kFlagColors = {
    QColor(220, 40, 40),  QColor(240, 140, 20), QColor(230, 200, 0),  QColor(60, 170, 60),
    QColor(30, 150, 150), QColor(40, 90, 220),  QColor(130, 60, 200), QColor(220, 70, 160),
    QColor(120, 80, 40),  QColor(90, 90, 90),   QColor(0, 0, 0)};

void paintRow(QPainter& p, int n) {
    switch (n) {
    case maillist::IconNoBody:
        envelope(p, QColor(250, 240, 200), false);
        return;
    case maillist::IconWithBody:
        envelope(p, QColor(250, 240, 200), true);
        p.setPen(QPen(QColor(80, 80, 160), 1.0));
        for (double y : {7.5, 9.5, 11.5})
            p.drawLine(QPointF(4, y), QPointF(12, y));
        return;
    case maillist::IconDeleting:
        envelope(p, QColor(230, 230, 230), false);
        cross(p, QRectF(3, 3, 10, 10), QColor(200, 20, 20));
        return;
    case maillist::IconNoHeader: {
        envelope(p, QColor(235, 235, 235), false);
        QFont f;
        f.setPixelSize(10);
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(40, 40, 160));
        p.drawText(QRectF(0, 3, 16, 12), Qt::AlignCenter, QStringLiteral("?"));
        return;
    }
    default: {
        envelope(p, QColor(250, 240, 200), false);
        const QColor c = kFlagColors[static_cast<std::size_t>(n - 3)];
        p.setPen(QPen(QColor(40, 40, 40), 1.0));
        p.drawLine(QPointF(11.5, 1), QPointF(11.5, 15));
        p.setBrush(c);
        QPainterPath flag;
        flag.moveTo(11.5, 1.5);
        flag.lineTo(15.5, 3.5);
        flag.lineTo(11.5, 5.5);
        flag.closeSubpath();
        p.drawPath(flag);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(3, 8, 4, 4));
        return;
    }
    }
}

// Toolbar pictures on a 32 grid.
void bigEnvelope(QPainter& p) {
    p.save();
    p.scale(2, 2);
    envelope(p, QColor(250, 240, 200), false);
    p.restore();
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
    p.setPen(QPen(c, 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double len = std::max(1.0, std::hypot(d.x(), d.y()));
    const QPointF u(d.x() / len, d.y() / len);
    const QPointF n(-u.y(), u.x());
    p.drawLine(to, to - 6 * u + 5 * n);
    p.drawLine(to, to - 6 * u - 5 * n);
}

void eye(QPainter& p, bool crossed) {
    QPainterPath lid;
    lid.moveTo(3, 16);
    lid.quadTo(16, 3, 29, 16);
    lid.quadTo(16, 29, 3, 16);
    p.setPen(QPen(QColor(40, 40, 60), 2.0));
    p.setBrush(QColor(255, 255, 255));
    p.drawPath(lid);
    p.setBrush(QColor(50, 110, 200));
    p.drawEllipse(QPointF(16, 16), 5, 5);
    if (crossed) {
        p.setPen(QPen(QColor(200, 20, 20), 3.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5, 27), QPointF(27, 5));
    }
}

void paintTool(QPainter& p, MailListIcons::Tool t) {
    using T = MailListIcons::Tool;
    switch (t) {
    case T::CheckNewMails:
        bigEnvelope(p);
        arrow(p, QPointF(16, 2), QPointF(16, 18), QColor(30, 140, 40));
        return;
    case T::ShowHeaders: {
        p.setPen(QPen(QColor(60, 60, 70), 1.5));
        p.setBrush(QColor(255, 255, 255));
        p.drawRect(QRectF(5, 3, 22, 26));
        p.setPen(QPen(QColor(40, 90, 200), 2.0));
        for (double y : {9.0, 14.0, 19.0})
            p.drawLine(QPointF(9, y), QPointF(23, y));
        return;
    }
    case T::RetrieveBody:
        bigEnvelope(p);
        arrow(p, QPointF(26, 4), QPointF(26, 28), QColor(30, 100, 200));
        return;
    case T::ShowMessage: {
        p.save();
        p.scale(2, 2);
        envelope(p, QColor(250, 240, 200), true);
        p.restore();
        p.setPen(QPen(QColor(80, 80, 160), 2.0));
        for (double y : {15.0, 19.0, 23.0})
            p.drawLine(QPointF(8, y), QPointF(24, y));
        return;
    }
    case T::DeleteSelected:
        bigEnvelope(p);
        cross(p, QRectF(8, 8, 16, 16), QColor(200, 20, 20));
        return;
    case T::DeleteAll:
        p.save();
        p.translate(-3, -3);
        bigEnvelope(p);
        p.restore();
        p.save();
        p.translate(3, 3);
        bigEnvelope(p);
        p.restore();
        cross(p, QRectF(8, 8, 18, 18), QColor(200, 20, 20));
        return;
    case T::UndeleteAll: {
        bigEnvelope(p);
        p.setPen(QPen(QColor(30, 140, 40), 3.0, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(8, 8, 16, 16), 90 * 16, 270 * 16);
        arrow(p, QPointF(18, 8), QPointF(13, 8), QColor(30, 140, 40));
        return;
    }
    case T::HideSelected:
        eye(p, true);
        return;
    case T::HideAll:
        p.save();
        p.translate(0, -5);
        eye(p, false);
        p.restore();
        p.save();
        p.translate(0, 5);
        eye(p, true);
        p.restore();
        return;
    case T::ShowAll:
        eye(p, false);
        return;
    }
}

const char* themeName(MailListIcons::Tool t) {
    using T = MailListIcons::Tool;
    switch (t) {
    case T::CheckNewMails:
        return "mail-receive";
    case T::ShowHeaders:
        return "document-properties";
    case T::RetrieveBody:
        return "document-save";
    case T::ShowMessage:
        return "mail-read";
    case T::DeleteSelected:
        return "edit-delete";
    case T::DeleteAll:
        return "edit-clear";
    case T::UndeleteAll:
        return "edit-undo";
    case T::HideSelected:
    case T::HideAll:
    case T::ShowAll:
        // No standard picture says "hide from the list"; ours is clearer.
        return nullptr;
    }
    return nullptr;
}

} // namespace

QIcon MailListIcons::rowIcon(int n) {
    static std::array<QIcon, maillist::IconCount> icons;
    if (n < 0 || n >= maillist::IconCount)
        n = 0;
    QIcon& icon = icons[static_cast<std::size_t>(n)];
    if (icon.isNull())
        icon = drawn(16, [n](QPainter& p) { paintRow(p, n); });
    return icon;
}

QIcon MailListIcons::ownToolIcon(Tool tool) {
    return drawn(32, [tool](QPainter& p) { paintTool(p, tool); });
}

QIcon MailListIcons::toolIcon(Tool tool) {
    const QIcon own = ownToolIcon(tool);
    const char* name = themeName(tool);
    return name ? QIcon::fromTheme(QString::fromLatin1(name), own) : own;
}

} // namespace tarn
