#include "auxwin/TF_About.h"

#include "checker/TestApp.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tarn {
namespace {

class AboutBox : public ::testing::Test {
protected:
    AboutBox()
        : box((test::app(), QStringLiteral("http://www.example.org/tarnwick/")),
              [this] { ++launches; }) {}
    QLabel* label(const char* name) {
        QLabel* l = box.findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(l, nullptr) << name;
        return l;
    }

    int launches = 0;
    TF_About box;
};

TEST_F(AboutBox, TextsAtTheirPlacesAndSizes) {
    EXPECT_EQ(box.windowTitle(), "About Tarnwick");
    // The designed size, wider only when a text needs it.
    EXPECT_GE(box.width(), 469);
    EXPECT_EQ(box.height(), 294);
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
    EXPECT_EQ(box.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_TRUE(box.autoFillBackground());

    const struct {
        const char* name;
        QString text;
        int top;
        int pixelSize;
        bool link;
    } texts[] = {
        {"Label2", "Tarnwick", 8, 31, false},
        {"Label3", "Version 3.5", 56, 17, false},
        {"Label1", QString::fromLatin1(TF_About::NoticeText), 136, 17, false},
        {"Label4", "For the latest information and updates visit:", 184, 17, false},
        {"Label5", "http://www.example.org/tarnwick/", 208, 22, true},
        {"Label6", "Click here", 240, 10, true},
    };
    int previousBottom = 0;
    for (const auto& t : texts) {
        SCOPED_TRACE(t.name);
        QLabel* l = label(t.name);
        EXPECT_EQ(l->text(), t.text);
        EXPECT_EQ(l->geometry().top(), t.top);
        // Centred across the full width, every line whole with a margin on both sides.
        EXPECT_EQ(l->geometry().left(), 0);
        EXPECT_EQ(l->geometry().width(), box.width());
        for (const QString& line : l->text().split('\n'))
            EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(line) + 2 * 8, l->width())
                << line.toStdString();
        EXPECT_EQ(l->alignment(), Qt::AlignHCenter | Qt::AlignTop);
        EXPECT_EQ(l->font().pixelSize(), t.pixelSize);
        EXPECT_TRUE(l->font().bold());
        const QString family = QFontInfo(l->font()).family();
        EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family.toStdString();
        // Room for the text, and no overlap with the text above.
        EXPECT_GE(l->height(), l->sizeHint().height());
        EXPECT_GE(l->geometry().top(), previousBottom);
        previousBottom = l->geometry().bottom();
        EXPECT_EQ(l->font().underline(), t.link);
        if (t.link) {
            EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
            EXPECT_EQ(l->cursor().shape(), Qt::PointingHandCursor);
        }
    }
    EXPECT_EQ(label("Label1")->text().count('\n'), 1); // two lines
    auto* close = box.findChild<QPushButton*>("Button1");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "Close");
    EXPECT_EQ(close->geometry().top(), 264);
    EXPECT_GT(close->geometry().top(), previousBottom);
    EXPECT_TRUE(box.rect().contains(close->geometry()));
    EXPECT_NEAR(close->geometry().center().x(), box.rect().center().x(), 1);
}

TEST_F(AboutBox, BothLinksOpenTheHomePage) {
    box.show();
    QTest::mouseClick(label("Label5"), Qt::LeftButton);
    EXPECT_EQ(launches, 1);
    QTest::mouseClick(label("Label6"), Qt::LeftButton);
    EXPECT_EQ(launches, 2);
    // Other texts are no links, and the keyboard reaches the links too.
    QTest::mouseClick(label("Label4"), Qt::LeftButton);
    EXPECT_EQ(launches, 2);
    QTest::keyClick(label("Label6"), Qt::Key_Space);
    EXPECT_EQ(launches, 3);
}

TEST_F(AboutBox, GotchaStaysAndCloseHides) {
    box.show();
    box.setGotcha();
    EXPECT_EQ(label("Label1")->text(), "Gotcha");
    box.findChild<QPushButton*>("Button1")->click();
    EXPECT_FALSE(box.isVisible());
    box.showCentred();
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(label("Label1")->text(), "Gotcha");
}

} // namespace
} // namespace tarn
