#include "checker/ClearOfChecker.h"

#include "core/WindowSnap.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

namespace tarn {

namespace {

constexpr int kTitleAllowance = 30;

WindowGeometry geometryOf(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

} // namespace

void keepClearOfChecker(QWidget* window) {
    if (!window)
        return;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top == window || !top->isVisible() ||
            top->objectName() != QLatin1String("TF_CheckerWindow"))
            continue;
        const QScreen* screen = window->screen();
        if (!screen)
            return;
        const QRect area = screen->availableGeometry();
        // A window not yet shown and not placed by the program would be placed by the window
        // manager, usually centred: it is centred here so that its place is known.
        if (!window->isVisible() && !window->testAttribute(Qt::WA_Moved)) {
            QRect r(QPoint(0, 0), window->size());
            r.moveCenter(area.center());
            window->move(r.topLeft());
        }
        // Before it is shown its frame is not known: the title bar is allowed for.
        QRect frame = window->frameGeometry();
        if (!window->isVisible())
            frame.adjust(0, -kTitleAllowance, 0, 0);
        const WindowGeometry placed = placeClearOf(
            geometryOf(frame), geometryOf(top->frameGeometry()),
            {area.left(), area.top(), area.left() + area.width(), area.top() + area.height()});
        if (placed.x != frame.x() || placed.y != frame.y())
            window->move(window->x() + placed.x - frame.x(), window->y() + placed.y - frame.y());
        return;
    }
}

} // namespace tarn
