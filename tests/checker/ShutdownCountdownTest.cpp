#include "checker/ShutdownCountdown.h"
#include "TestApp.h"
#include "checker/TF_ShutdownForm.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <atomic>

using namespace tarn;
using namespace std::chrono_literals;

namespace {

class RecordingPowerOff : public PowerOff {
public:
    bool powerOff() override {
        ++calls;
        return succeed;
    }
    int calls = 0;
    bool succeed = true;
};

class ShutdownCountdownTest : public ::testing::Test {
protected:
    void SetUp() override { test::app(); }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<TF_ShutdownForm*>(w))
                w->close();
        test::processUntil([] { return false; }, 20ms);
    }

    static int openForms() {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<TF_ShutdownForm*>(w) != nullptr && w->isVisible();
        return n;
    }

    RecordingPowerOff power;
};

TEST_F(ShutdownCountdownTest, WindowLayout) {
    ShutdownCountdown countdown(power);
    countdown.StartShutdownTimer();
    TF_ShutdownForm* form = countdown.latestForm();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "Shutting down Windows");
    EXPECT_EQ(form->size(), QSize(400, 135));
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(form->font().family(), "Arial");
    EXPECT_EQ(form->font().pointSize(), 10);
    EXPECT_EQ(form->label()->text(), "Shutting down your Windows System in 20 seconds");
    EXPECT_EQ(form->label()->geometry().topLeft(), QPoint(45, 24));
    EXPECT_EQ(form->label()->width(), 380);
    EXPECT_EQ(form->abortButton()->text(), "Abort");
    EXPECT_EQ(form->abortButton()->geometry(), QRect(158, 64, 67, 24));
    EXPECT_TRUE(form->abortButton()->isDefault());
    // Centred on the (offscreen) screen.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(form->pos(), QPoint((screen.width() - 400) / 2, (screen.height() - 135) / 2));

    EXPECT_EQ(countdown.ShutdownTimer().objectName(), "ShutdownTimer");
    EXPECT_EQ(countdown.ShutdownTimer().interval(), 20000);
    EXPECT_TRUE(countdown.isCounting());
}

TEST_F(ShutdownCountdownTest, PowersOffWhenTheTimeRunsOut) {
    ShutdownCountdown countdown(power);
    countdown.setPeriodMs(50);
    countdown.StartShutdownTimer();
    EXPECT_TRUE(test::processUntil([&] { return power.calls >= 1; }, 10s));
}

// Abort by click, by Enter (the default button), by the close box and by Escape: the window
// goes away and nothing is powered off.
TEST_F(ShutdownCountdownTest, EveryWayOfClosingStopsTheCountdown) {
    struct {
        const char* name;
        void (*act)(TF_ShutdownForm*);
    } ways[] = {
        {"AbortClick",
         [](TF_ShutdownForm* f) { QTest::mouseClick(f->abortButton(), Qt::LeftButton); }},
        {"Enter", [](TF_ShutdownForm* f) { QTest::keyClick(f, Qt::Key_Return); }},
        {"CloseBox", [](TF_ShutdownForm* f) { f->close(); }},
        {"Escape", [](TF_ShutdownForm* f) { QTest::keyClick(f, Qt::Key_Escape); }},
    };
    for (const auto& way : ways) {
        RecordingPowerOff p;
        ShutdownCountdown countdown(p);
        countdown.setPeriodMs(150);
        countdown.StartShutdownTimer();
        QPointer<TF_ShutdownForm> form = countdown.latestForm();
        ASSERT_TRUE(form) << way.name;
        way.act(form);
        EXPECT_FALSE(countdown.isCounting()) << way.name;
        test::processUntil([] { return false; }, 400ms);
        EXPECT_EQ(p.calls, 0) << way.name;
        EXPECT_TRUE(form.isNull()) << way.name << ": the window is freed";
    }
}

TEST_F(ShutdownCountdownTest, SecondRequestOpensAnotherWindowAndRestartsThePeriod) {
    ShutdownCountdown countdown(power);
    countdown.setPeriodMs(10000);
    countdown.StartShutdownTimer();
    QPointer<TF_ShutdownForm> first = countdown.latestForm();
    test::processUntil([] { return false; }, 300ms);
    const int leftBefore = countdown.ShutdownTimer().remainingTime();
    countdown.StartShutdownTimer();
    QPointer<TF_ShutdownForm> second = countdown.latestForm();

    EXPECT_EQ(openForms(), 2);
    EXPECT_NE(first, second);
    EXPECT_LE(leftBefore, 9750);
    // Counted afresh from the second request.
    EXPECT_GT(countdown.ShutdownTimer().remainingTime(), 9900);

    // Abort in the first window stops the one timer; the second window stays open.
    QTest::mouseClick(first->abortButton(), Qt::LeftButton);
    test::processUntil([&] { return first.isNull(); }, 2s);
    EXPECT_TRUE(first.isNull());
    EXPECT_FALSE(countdown.isCounting());
    ASSERT_FALSE(second.isNull());
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(power.calls, 0);
}

TEST_F(ShutdownCountdownTest, FailingPowerOffIsRetriedEveryPeriod) {
    power.succeed = false;
    ShutdownCountdown countdown(power);
    countdown.setPeriodMs(30);
    countdown.StartShutdownTimer();
    EXPECT_TRUE(test::processUntil([&] { return power.calls >= 3; }, 10s));
    EXPECT_TRUE(countdown.isCounting());
    countdown.AbortShutdown(countdown.latestForm());
    const int calls = power.calls;
    test::processUntil([] { return false; }, 200ms);
    EXPECT_EQ(power.calls, calls);
}

TEST_F(ShutdownCountdownTest, CountdownGoneBeforeItsWindows) {
    QPointer<TF_ShutdownForm> form;
    {
        ShutdownCountdown countdown(power);
        countdown.setPeriodMs(30);
        countdown.StartShutdownTimer();
        form = countdown.latestForm();
    }
    ASSERT_FALSE(form.isNull());
    form->close(); // must not reach the freed countdown
    test::processUntil([&] { return form.isNull(); }, 2s);
    EXPECT_TRUE(form.isNull());
    EXPECT_EQ(power.calls, 0);
}

} // namespace
