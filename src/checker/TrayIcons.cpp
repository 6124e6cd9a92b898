#include "checker/TrayIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace tarn {

namespace {

enum class Look { NoMail, Mail, Offline };

// The envelope body spans (1,3)-(14,12); the flap meets in the middle.
void drawEnvelope(QPainter& p, Look look) {
    QColor fill, line, flap;
    switch (look) {
    case Look::NoMail:
        fill = QColor(250, 250, 245);
        line = QColor(30, 60, 140);
        flap = QColor(215, 225, 245);
        break;
    case Look::Mail:
        fill = QColor(255, 236, 120);
        line = QColor(120, 70, 0);
        flap = QColor(250, 205, 60);
        break;
    case Look::Offline:
        fill = QColor(200, 200, 200);
        line = QColor(120, 120, 120);
        flap = QColor(175, 175, 175);
        break;
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(line);
    p.setBrush(fill);
    p.drawRect(1, 3, 13, 9);

    QPainterPath flapPath;
    flapPath.moveTo(1.5, 3.5);
    flapPath.lineTo(7.5, 8.5);
    flapPath.lineTo(14.5, 3.5);
    flapPath.closeSubpath();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(flap);
    p.drawPath(flapPath);
    p.setRenderHint(QPainter::Antialiasing, false);
}

// A red badge in the upper right corner: mail is waiting.
void drawMailMark(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QColor(120, 0, 0));
    p.setBrush(QColor(225, 25, 25));
    p.drawEllipse(QRectF(9.5, 0.5, 6, 6));
    p.setPen(QPen(Qt::white, 1.2));
    p.drawLine(QPointF(12.5, 1.8), QPointF(12.5, 4.0));
    p.drawPoint(QPointF(12.5, 5.2));
    p.setRenderHint(QPainter::Antialiasing, false);
}

// Offline: a dark slash through the grey envelope.
void drawOfflineMark(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(70, 70, 70), 1.5));
    p.drawLine(QPointF(2, 14), QPointF(14, 1));
    p.setRenderHint(QPainter::Antialiasing, false);
}

// Checking: a green bar runs along the bottom edge, one step per frame, and a sweep
// highlight moves across the envelope with it.
void drawCheckingMark(QPainter& p, int frame) {
    const int f = ((frame % TrayIcons::FrameCount) + TrayIcons::FrameCount) % TrayIcons::FrameCount;
    const int x = 1 + f * 3;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 200, 60, 110));
    p.drawRect(x, 4, 3, 8);
    p.setBrush(QColor(20, 160, 40));
    p.drawRect(x, 13, 3, 3);
}

QImage blank() {
    QImage img(TrayIcons::Size, TrayIcons::Size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QImage picture(Look look, int checkingFrame) {
    QImage img = blank();
    QPainter p(&img);
    drawEnvelope(p, look);
    if (checkingFrame >= 0)
        drawCheckingMark(p, checkingFrame);
    if (look == Look::Mail)
        drawMailMark(p);
    if (look == Look::Offline)
        drawOfflineMark(p);
    return img;
}

QList<QIcon> icons(QImage (*make)(int), int count) {
    QList<QIcon> list;
    for (int i = 0; i < count; ++i)
        list.append(QIcon(QPixmap::fromImage(make(i))));
    return list;
}

} // namespace

QImage TrayIcons::staticImage(int index) {
    switch (index) {
    case 0:
        return picture(Look::NoMail, -1);
    case 1:
        return picture(Look::Mail, -1);
    case 2:
        return picture(Look::Offline, -1);
    default:
        return blank();
    }
}

QImage TrayIcons::noMailFrame(int frame) {
    return picture(Look::NoMail, frame);
}

QImage TrayIcons::mailFrame(int frame) {
    return picture(Look::Mail, frame);
}

QList<QIcon> TrayIcons::ImageList1() {
    return icons(&TrayIcons::staticImage, 3);
}

QList<QIcon> TrayIcons::ImageList5() {
    return icons(&TrayIcons::noMailFrame, FrameCount);
}

QList<QIcon> TrayIcons::ImageList6() {
    return icons(&TrayIcons::mailFrame, FrameCount);
}

} // namespace tarn
