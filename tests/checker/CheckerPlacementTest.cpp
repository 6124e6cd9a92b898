#include "checker/CheckerPlacement.h"
#include "TestApp.h"
#include "check/Session.h"
#include "core/TarnError.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarn {
namespace {

using namespace std::chrono_literals;

constexpr int W = 77;
constexpr int H = 27;
// A field on the background; presses and movements over it are not the background's.
const QRect FieldRect(14, 6, 20, 14);

QRect workRect() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

class CheckerPlacementTest : public ::testing::Test {
protected:
    CheckerPlacementTest() : session(dir.path().string(), systemClock(), test::uniqueLockSuffix()) {
        test::app();
        window.setWindowFlags(Qt::FramelessWindowHint | Qt::Tool);
        window.setFixedSize(W, H);
        background = new QWidget(&window);
        background->setObjectName(QStringLiteral("Panel1"));
        background->setGeometry(0, 0, W, H);
        field = new QWidget(background);
        field->setGeometry(FieldRect);
        CheckerPlacement::Hooks hooks;
        hooks.ApplyOpacity = [this] { calls.push_back("ApplyOpacity"); };
        hooks.EShowTest = [this] { calls.push_back("EShowTest"); };
        hooks.minimised = [this] { calls.push_back("minimised"); };
        placement = std::make_unique<CheckerPlacement>(window, *background, session, snap, hooks);
    }

    MainSettings& main() { return session.settings().Main; }

    // A position well inside the work area, away from every edge.
    QPoint middle() const {
        const QRect a = workRect();
        return {a.left() + a.width() / 2 - W / 2, a.top() + a.height() / 2 - H / 2};
    }

    void putAt(QPoint p) {
        const bool s = main().SnapWindow;
        main().SnapWindow = false;
        placement->moveChecker(p.x(), p.y());
        main().SnapWindow = s;
        ASSERT_EQ(window.pos(), p);
    }

    void mouse(QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers mods = Qt::NoModifier) {
        // Global position from where the window is now, as the platform would report it.
        QMouseEvent e(type, QPointF(local), QPointF(window.pos() + local), button, buttons, mods);
        QCoreApplication::sendEvent(background, &e);
    }
    void hover(QPoint local, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        mouse(QEvent::MouseMove, local, Qt::NoButton, Qt::NoButton, mods);
    }

    struct AppFirst {
        AppFirst() { test::app(); }
    } appFirst; // the widgets below need the application
    test::TempDir dir;
    Session session;
    QWidget window;
    QWidget* background = nullptr;
    QWidget* field = nullptr;
    WindowSnap snap;
    std::vector<std::string> calls;
    std::unique_ptr<CheckerPlacement> placement;
};

struct SnapCase {
    const char* name;
    // Proposal relative to the work area: dx from the left edge (or, when fromRight, the
    // window's right edge from the area's right edge), dy likewise.
    int dx;
    bool fromRight;
    int dy;
    bool fromBottom;
    bool snapWindow;
    bool quitting;
    // Expected offsets in the same terms.
    int ex;
    int ey;
};

TEST_F(CheckerPlacementTest, MovesSnapToTheWorkAreaEdges) {
    const SnapCase cases[] = {
        {"left within threshold", 10, false, 300, false, true, false, 0, 300},
        {"left at threshold", 15, false, 300, false, true, false, 0, 300},
        {"left beyond threshold", 16, false, 300, false, true, false, 16, 300},
        {"right within threshold", 14, true, 300, false, true, false, 0, 300},
        {"right beyond threshold", 16, true, 300, false, true, false, 16, 300},
        {"top", 300, false, 5, false, true, false, 300, 0},
        {"bottom", 300, false, 12, true, true, false, 300, 0},
        {"off the left edge", -40, false, 300, false, true, false, 0, 300},
        {"corner", -3, true, -8, true, true, false, 0, 0},
        {"snapping off: may leave the screen", -40, false, -5, false, false, false, -40, -5},
        {"quitting: unchanged", 3, false, 3, false, true, true, 3, 3},
    };
    const QRect a = workRect();
    const int right = a.left() + a.width();
    const int bottom = a.top() + a.height();
    for (const SnapCase& c : cases) {
        SCOPED_TRACE(c.name);
        main().SnapWindow = c.snapWindow;
        session.Quitting = c.quitting;
        const int x = c.fromRight ? right - W - c.dx : a.left() + c.dx;
        const int y = c.fromBottom ? bottom - H - c.dy : a.top() + c.dy;
        placement->moveChecker(x, y);
        const int ex = c.fromRight ? right - W - c.ex : a.left() + c.ex;
        const int ey = c.fromBottom ? bottom - H - c.ey : a.top() + c.ey;
        EXPECT_EQ(window.pos(), QPoint(ex, ey));
    }
    EXPECT_TRUE(snap.snapped());
}

TEST_F(CheckerPlacementTest, MovesAndResizesByOthersAreSnappedToo) {
    const QRect a = workRect();
    const int right = a.left() + a.width();
    window.move(a.left() + 7, middle().y());
    window.show();
    ASSERT_TRUE(test::processUntil([&] { return window.x() == a.left(); }, 2s));
    EXPECT_EQ(window.y(), middle().y());

    // Growing toward the right edge: the window snaps with its new width.
    placement->moveChecker(right - W - 20, middle().y());
    ASSERT_EQ(window.x(), right - W - 20);
    window.setFixedSize(W + 10, H);
    test::processUntil([&] { return window.x() == right - W - 10; }, 2s);
    EXPECT_EQ(window.x(), right - W - 10);
}

TEST_F(CheckerPlacementTest, DraggingTheBackgroundMovesTheWindowThroughSnapping) {
    const QRect a = workRect();
    putAt(middle());
    window.show();
    const QPoint grip(3, 3);
    mouse(QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    ASSERT_TRUE(placement->dragging());

    // 40 pixels to the right: followed exactly.
    QMouseEvent move1(QEvent::MouseMove, QPointF(grip), QPointF(middle() + grip + QPoint(40, 0)),
                      Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(background, &move1);
    EXPECT_EQ(window.pos(), middle() + QPoint(40, 0));

    // Near the left edge: snapped onto it.
    const QPoint nearLeft(a.left() + 9, middle().y() + 10);
    QMouseEvent move2(QEvent::MouseMove, QPointF(grip), QPointF(nearLeft + grip), Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(background, &move2);
    EXPECT_EQ(window.pos(), QPoint(a.left(), nearLeft.y()));

    mouse(QEvent::MouseButtonRelease, grip, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(placement->dragging());
    const QPoint after = window.pos();
    QMouseEvent move3(QEvent::MouseMove, QPointF(grip), QPointF(middle()), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(background, &move3);
    EXPECT_EQ(window.pos(), after);
}

TEST_F(CheckerPlacementTest, PressingOnAFieldDoesNotDrag) {
    putAt(middle());
    mouse(QEvent::MouseButtonPress, FieldRect.center(), Qt::LeftButton, Qt::LeftButton);
    EXPECT_FALSE(placement->dragging());
    QMouseEvent move(QEvent::MouseMove, QPointF(FieldRect.center()),
                     QPointF(middle() + QPoint(60, 60)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(background, &move);
    EXPECT_EQ(window.pos(), middle());
}

struct FloatCase {
    const char* name;
    bool floating;
    bool ctrl;
    bool overField;
    bool jumps;
};

TEST_F(CheckerPlacementTest, MouseOverTheBackgroundFloatsTheWindow) {
    const FloatCase cases[] = {
        {"floating on", true, false, false, true},
        {"Ctrl held", true, true, false, false},
        {"floating off", false, false, false, false},
        {"over a field", true, false, true, false},
    };
    // The alternative position is one the edge snapping would move; the jump must not.
    const QPoint def = middle();
    const QPoint alt(workRect().left() + 1, middle().y() + 100);
    main().defaultX = def.x();
    main().defaultY = def.y();
    main().alternativeX = alt.x();
    main().alternativeY = alt.y();
    main().SnapWindow = true;
    for (const FloatCase& c : cases) {
        SCOPED_TRACE(c.name);
        main().Floating = c.floating;
        putAt(def);
        hover(c.overField ? FieldRect.center() : QPoint(2, 2),
              c.ctrl ? Qt::ControlModifier : Qt::NoModifier);
        EXPECT_EQ(window.pos(), c.jumps ? alt : def);
        EXPECT_TRUE(main().SnapWindow);
        EXPECT_EQ(placement->floatBackTimer(), nullptr); // AutoFloat is off
    }
    // From anywhere but the default position the jump goes to the default position.
    main().Floating = true;
    putAt(def + QPoint(5, 5));
    hover(QPoint(2, 2));
    EXPECT_EQ(window.pos(), def);
    // Equal positions: every jump lands on the same place.
    main().alternativeX = def.x();
    main().alternativeY = def.y();
    hover(QPoint(2, 2));
    EXPECT_EQ(window.pos(), def);
}

TEST_F(CheckerPlacementTest, AutoFloatBringsTheWindowBackAfterTheLastJump) {
    const QPoint def = middle();
    const QPoint alt = middle() + QPoint(-200, 100);
    main().defaultX = def.x();
    main().defaultY = def.y();
    main().alternativeX = alt.x();
    main().alternativeY = alt.y();
    main().Floating = true;
    main().AutoFloat = true;
    main().Jumpback = 15;
    putAt(def);

    hover(QPoint(2, 2));
    ASSERT_EQ(window.pos(), alt);
    QTimer* first = placement->floatBackTimer();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->objectName(), "Timer7");
    EXPECT_EQ(first->interval(), 15000);
    EXPECT_TRUE(first->isSingleShot());
    EXPECT_TRUE(first->isActive());

    // Each jump starts a fresh timer; only one exists.
    hover(QPoint(2, 2));
    EXPECT_EQ(window.pos(), def);
    hover(QPoint(2, 2));
    EXPECT_EQ(window.pos(), alt);
    QTimer* last = placement->floatBackTimer();
    EXPECT_EQ(placement->findChildren<QTimer*>(QStringLiteral("Timer7")).size(), 1);

    QMetaObject::invokeMethod(last, "timeout");
    EXPECT_EQ(window.pos(), def);
    EXPECT_FALSE(last->isActive());

    // At the default position already: the tick leaves it there.
    QMetaObject::invokeMethod(last, "timeout");
    EXPECT_EQ(window.pos(), def);

    // Quitting: no float-back.
    hover(QPoint(2, 2));
    ASSERT_EQ(window.pos(), alt);
    session.Quitting = true;
    QMetaObject::invokeMethod(placement->floatBackTimer(), "timeout");
    EXPECT_EQ(window.pos(), alt);
}

TEST_F(CheckerPlacementTest, FloatBackTimerRunsOnItsOwn) {
    const QPoint def = middle();
    main().defaultX = def.x();
    main().defaultY = def.y();
    main().alternativeX = def.x() - 150;
    main().alternativeY = def.y();
    main().Floating = true;
    main().AutoFloat = true;
    main().Jumpback = 1;
    putAt(def);
    hover(QPoint(2, 2));
    ASSERT_NE(window.pos(), def);
    EXPECT_TRUE(test::processUntil([&] { return window.pos() == def; }, 5s));
}

struct WarningCase {
    const char* name;
    bool makeDefault;
    bool equal;
    const char* warning; // null: no warning
};

TEST_F(CheckerPlacementTest, MakePositionStoresAndWarnsWhenBothAreEqual) {
    const WarningCase cases[] = {
        {"default, differs", true, false, nullptr},
        {"default, equal", true, true, "Warning: Default and Alternative Positions are the Same!"},
        {"alternative, differs", false, false, nullptr},
        {"alternative, equal", false, true,
         "Warning: Default and Alternative Positions Are the Same!"},
    };
    const QPoint here = middle();
    for (const WarningCase& c : cases) {
        SCOPED_TRACE(c.name);
        putAt(here);
        const QPoint other = c.equal ? here : here + QPoint(0, 40);
        main().defaultX = main().alternativeX = -999;
        if (c.makeDefault) {
            main().alternativeX = other.x();
            main().alternativeY = other.y();
        } else {
            main().defaultX = other.x();
            main().defaultY = other.y();
        }
        std::string thrown;
        try {
            if (c.makeDefault)
                placement->MakeDefaultPosition1Click();
            else
                placement->MakeAlternativePosition1Click();
        } catch (const TarnError& e) {
            thrown = e.what();
        }
        EXPECT_EQ(thrown, c.warning ? c.warning : "");
        const QPoint stored = c.makeDefault ? QPoint(main().defaultX, main().defaultY)
                                            : QPoint(main().alternativeX, main().alternativeY);
        EXPECT_EQ(stored, here);
    }
}

// The tray menu's placement items as the checker window names them.
struct MenuFixture {
    QMenu popup;
    QAction* floating2;
    QAction* makeDefault;
    QAction* makeAlternative;
    QAction* reset;
    QAction* alwaysOnTop2;
    QAction* restore1;
    MenuFixture() {
        auto add = [this](const char* name) {
            QAction* a = popup.addAction(QString::fromLatin1(name));
            a->setObjectName(QString::fromLatin1(name));
            return a;
        };
        floating2 = add("Floating2");
        floating2->setCheckable(true);
        QMenu* sub = popup.addMenu(QStringLiteral("Floating Window Positions"));
        makeDefault = sub->addAction(QStringLiteral("Make Default Position"));
        makeDefault->setObjectName(QStringLiteral("MakeDefaultPosition1"));
        makeAlternative = sub->addAction(QStringLiteral("Make Alternative Position"));
        makeAlternative->setObjectName(QStringLiteral("MakeAlternativePosition1"));
        reset = sub->addAction(QStringLiteral("Reset Window Positions"));
        reset->setObjectName(QStringLiteral("ResetWindowPositions1"));
        alwaysOnTop2 = add("AlwaysonTop2");
        restore1 = add("Restore1");
    }
};

TEST_F(CheckerPlacementTest, MenuCommandsRunAndTheirWarningsEndSilently) {
    MenuFixture menu;
    placement->attachMenu(menu.popup);
    QSignalSpy failed(placement.get(), &CheckerPlacement::commandFailed);
    QSignalSpy floating(placement.get(), &CheckerPlacement::floatingChanged);

    putAt(middle());
    main().alternativeX = middle().x();
    main().alternativeY = middle().y();
    menu.makeDefault->trigger(); // must not throw out of the menu
    EXPECT_EQ(QPoint(main().defaultX, main().defaultY), middle());
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(),
              "Warning: Default and Alternative Positions are the Same!");

    main().Floating = false;
    menu.floating2->trigger();
    EXPECT_TRUE(main().Floating);
    menu.floating2->trigger();
    EXPECT_FALSE(main().Floating);
    ASSERT_EQ(floating.count(), 2);
    EXPECT_TRUE(floating.at(0).at(0).toBool());
    EXPECT_EQ(failed.count(), 1);
}

TEST_F(CheckerPlacementTest, ResetWindowPositionsUsesTheScreenAndCentresTheMailList) {
    MenuFixture menu;
    placement->attachMenu(menu.popup);
    QWidget mailList;
    mailList.resize(300, 200);
    placement->setMailListWindow(&mailList);
    putAt(middle());

    menu.reset->trigger();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint def(screen.width() - W, screen.height() - H - 30);
    EXPECT_EQ(QPoint(main().defaultX, main().defaultY), def);
    EXPECT_EQ(QPoint(main().alternativeX, main().alternativeY), QPoint(1, def.y()));
    EXPECT_EQ(QPoint(main().currentX, main().currentY), def);
    // The window goes there through the snapping.
    const WindowGeometry g =
        snap.snap({def.x(), def.y(), W, H}, CheckerPlacement::workArea(), false, main().SnapWindow);
    EXPECT_EQ(window.pos(), QPoint(g.x, g.y));
    EXPECT_EQ(mailList.pos(), QPoint((screen.width() - 300) / 2, (screen.height() - 200) / 2));
    EXPECT_EQ(mailList.size(), QSize(425, 167));
}

TEST_F(CheckerPlacementTest, AlwaysOnTopTogglesTheStyleThenOpacityAndLayout) {
    MenuFixture menu;
    placement->attachMenu(menu.popup);
    QSignalSpy changed(placement.get(), &CheckerPlacement::alwaysOnTopChanged);
    main().AlwaysOnTop = true;
    placement->applyStayOnTopStyle();
    putAt(middle());
    window.show();
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    menu.alwaysOnTop2->trigger();
    EXPECT_FALSE(main().AlwaysOnTop);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.pos(), middle());
    EXPECT_EQ(calls, (std::vector<std::string>{"ApplyOpacity", "EShowTest"}));

    calls.clear();
    menu.alwaysOnTop2->trigger();
    EXPECT_TRUE(main().AlwaysOnTop);
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(calls, (std::vector<std::string>{"ApplyOpacity", "EShowTest"}));
    ASSERT_EQ(changed.count(), 2);
    EXPECT_FALSE(changed.at(0).at(0).toBool());
    EXPECT_TRUE(changed.at(1).at(0).toBool());
}

TEST_F(CheckerPlacementTest, ToggleHidesWithThePreferencesAndShowsAgain) {
    MenuFixture menu;
    placement->attachMenu(menu.popup);
    QWidget prefs;
    placement->setPreferencesWindow(&prefs);
    window.show();
    prefs.show();
    EXPECT_EQ(menu.restore1->text(), "Hide");

    menu.restore1->trigger();
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(prefs.isVisible());
    EXPECT_EQ(menu.restore1->text(), "Show");

    menu.restore1->trigger();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(prefs.isVisible()); // only the checker comes back
    EXPECT_EQ(menu.restore1->text(), "Hide");
}

TEST_F(CheckerPlacementTest, MinimiseHidesInsteadAndTheToggleShowsAgain) {
    MenuFixture menu;
    placement->attachMenu(menu.popup);
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    test::processUntil([&] { return !window.isVisible(); }, 2s);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(calls, (std::vector<std::string>{"minimised"}));
    EXPECT_EQ(menu.restore1->text(), "Hide"); // the caption stays

    menu.restore1->trigger();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(menu.restore1->text(), "Hide");
}

} // namespace
} // namespace tarn
