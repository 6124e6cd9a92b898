#include "checker/MenuIcons.h"
#include "TestApp.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace tarn {
namespace {

const char* const pictured[] = {
    "Preferences1",     "MailList1", "CheckforUpdate2", "Help1",     "About2",
    "WindowPositions1", "online1",   "Restore1",        "CheckAll1", "Quit2"};

int painted(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qAlpha(img.pixel(x, y)) > 0;
    return n;
}

class MenuIconsTest : public ::testing::Test {
protected:
    void SetUp() override { test::app(); }
};

TEST_F(MenuIconsTest, EachItemHasItsOwnPictureDrawnAfreshAtTwiceTheSize) {
    std::vector<QImage> seen;
    for (const char* name : pictured) {
        SCOPED_TRACE(name);
        const QImage one = MenuIcons::drawing(QString::fromLatin1(name), 1);
        const QImage two = MenuIcons::drawing(QString::fromLatin1(name), 2);
        ASSERT_EQ(one.size(), QSize(16, 16));
        ASSERT_EQ(two.size(), QSize(32, 32));
        EXPECT_GT(painted(one), 20);
        // Not the small picture blown up: a scaled copy has only blocks of 2 x 2 pixels.
        EXPECT_NE(two, one.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        for (const QImage& other : seen)
            EXPECT_NE(one, other);
        seen.push_back(one);
    }
    EXPECT_TRUE(MenuIcons::drawing(QStringLiteral("N1"), 1).isNull());
    EXPECT_TRUE(MenuIcons::forItem(QStringLiteral("N1")).isNull());
}

TEST_F(MenuIconsTest, TheDesktopThemesStandardIconIsPreferredWhereThereIsOne) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString theme = dir.filePath(QStringLiteral("tarntheme"));
    ASSERT_TRUE(QDir().mkpath(theme + QStringLiteral("/16x16/actions")));
    QFile index(theme + QStringLiteral("/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=tarntheme\nDirectories=16x16/actions\n\n"
                "[16x16/actions]\nSize=16\nType=Fixed\n");
    index.close();
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(QColor(255, 0, 0));
    ASSERT_TRUE(red.save(theme + QStringLiteral("/16x16/actions/help-about.png")));

    const QStringList oldPaths = QIcon::themeSearchPaths();
    const QString oldTheme = QIcon::themeName();
    QIcon::setThemeSearchPaths({dir.path()});
    QIcon::setThemeName(QStringLiteral("tarntheme"));

    const QImage themed = MenuIcons::forItem(QStringLiteral("About2")).pixmap(16, 16).toImage();
    EXPECT_EQ(themed.pixelColor(8, 8), QColor(255, 0, 0));
    // Without a theme icon of its name, the item keeps our picture.
    const QImage own = MenuIcons::forItem(QStringLiteral("Quit2")).pixmap(16, 16).toImage();
    EXPECT_EQ(own.convertToFormat(QImage::Format_ARGB32_Premultiplied),
              MenuIcons::drawing(QStringLiteral("Quit2"), 1));

    QIcon::setThemeName(oldTheme);
    QIcon::setThemeSearchPaths(oldPaths);
}

} // namespace
} // namespace tarn
