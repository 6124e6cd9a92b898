#include "checker/PasswordPrompt.h"
#include "TestApp.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace tarn {
namespace {

using namespace std::chrono_literals;

class PasswordPromptTest : public ::testing::Test {
protected:
    void SetUp() override { test::app(); }
};

TEST_F(PasswordPromptTest, ControlsSitWhereTheyBelongWithTheirTexts) {
    PasswordPrompt dialog(QStringLiteral("Password at Home:"));
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Enter Password");
    EXPECT_EQ(dialog.size(), QSize(300, 100));
    EXPECT_TRUE(dialog.isModal());
    // A dialog border: no minimise or maximise button, not resizable.
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_NEAR(dialog.frameGeometry().center().x(), screen.center().x(), 1);
    EXPECT_NEAR(dialog.frameGeometry().center().y(), screen.center().y(), 1);

    const struct {
        QWidget* widget;
        QRect geometry; // height -1: the label's own
        QString text;
    } controls[] = {
        {dialog.promptLabel(), QRect(8, 16, 201, -1), "Password at Home:"},
        {dialog.passwordEdit(), QRect(8, 40, 201, 21), ""},
        {dialog.okButton(), QRect(224, 8, 67, 24), "OK"},
        {dialog.cancelButton(), QRect(224, 40, 67, 24), "Cancel"},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.widget->objectName().toStdString());
        EXPECT_EQ(c.widget->parentWidget(), &dialog);
        EXPECT_EQ(c.widget->x(), c.geometry.x());
        EXPECT_EQ(c.widget->y(), c.geometry.y());
        EXPECT_EQ(c.widget->width(), c.geometry.width());
        if (c.geometry.height() >= 0) {
            EXPECT_EQ(c.widget->height(), c.geometry.height());
        }
        QString text;
        if (auto* l = qobject_cast<QLabel*>(c.widget))
            text = l->text();
        else if (auto* e = qobject_cast<QLineEdit*>(c.widget))
            text = e->text();
        else if (auto* b = qobject_cast<QPushButton*>(c.widget))
            text = b->text();
        EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(dialog.promptLabel()->buddy(), dialog.passwordEdit());
    EXPECT_TRUE(dialog.okButton()->isDefault());
    EXPECT_FALSE(dialog.cancelButton()->isDefault());

    QTest::keyClicks(dialog.passwordEdit(), "s3cret");
    EXPECT_EQ(dialog.passwordEdit()->text(), "s3cret");
    EXPECT_EQ(dialog.passwordEdit()->displayText(), "******");
}

TEST_F(PasswordPromptTest, OkGivesTheTextCancelAndCloseGiveNothing) {
    // Each case answers the dialog from the event loop that ask() runs.
    const struct {
        const char* name;
        std::function<void(PasswordPrompt*)> answer;
        std::optional<std::string> result;
    } cases[] = {
        {"OK",
         [](PasswordPrompt* d) {
             QTest::keyClicks(d->passwordEdit(), "pw 1");
             d->okButton()->click();
         },
         "pw 1"},
        {"Return takes the default button",
         [](PasswordPrompt* d) {
             QTest::keyClicks(d->passwordEdit(), "x");
             QTest::keyClick(d->passwordEdit(), Qt::Key_Return);
         },
         "x"},
        {"Cancel",
         [](PasswordPrompt* d) {
             QTest::keyClicks(d->passwordEdit(), "typed");
             d->cancelButton()->click();
         },
         std::nullopt},
        {"closed",
         [](PasswordPrompt* d) {
             QTest::keyClicks(d->passwordEdit(), "typed");
             d->close();
         },
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool answered = false;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<PasswordPrompt*>(w); d && d->isVisible()) {
                    answered = true;
                    c.answer(d);
                    return;
                }
        });
        QTimer::singleShot(5000, [] {
            // A dialog left open would hang the test.
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<PasswordPrompt*>(w))
                    d->reject();
        });
        EXPECT_EQ(PasswordPrompt::ask("Password at Work:"), c.result);
        EXPECT_TRUE(answered);
    }
}

} // namespace
} // namespace tarn
