#include "checker/TrayIcons.h"
#include "TestApp.h"
#include "checker/TrayAnimation.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>

#include <vector>

using namespace tarn;
using namespace std::chrono_literals;

namespace {

int opaquePixels(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qAlpha(img.pixel(x, y)) > 0;
    return n;
}

std::vector<QImage> allPictures() {
    std::vector<QImage> all;
    for (int i = 0; i < 3; ++i)
        all.push_back(TrayIcons::staticImage(i));
    for (int i = 0; i < TrayIcons::FrameCount; ++i)
        all.push_back(TrayIcons::noMailFrame(i));
    for (int i = 0; i < TrayIcons::FrameCount; ++i)
        all.push_back(TrayIcons::mailFrame(i));
    return all;
}

TEST(TrayIcons, SixteenSquareWithContentAndAllDifferent) {
    test::app();
    const std::vector<QImage> all = allPictures();
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].size(), QSize(16, 16)) << i;
        // Mostly filled, but not a solid square.
        EXPECT_GT(opaquePixels(all[i]), 100) << i;
        EXPECT_LT(opaquePixels(all[i]), 256) << i;
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(all[i], all[j]) << i << " vs " << j;
    }
}

TEST(TrayIcons, OfflineIsGreyAndMailHasAColourfulMark) {
    test::app();
    auto maxSaturation = [](const QImage& img) {
        int best = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (qAlpha(img.pixel(x, y)) > 0)
                    best = std::max(best, QColor(img.pixel(x, y)).hsvSaturation());
        return best;
    };
    EXPECT_LT(maxSaturation(TrayIcons::staticImage(2)), 20);
    EXPECT_GT(maxSaturation(TrayIcons::staticImage(1)), 200);
    // A red pixel is only in the mail picture.
    auto hasRed = [](const QImage& img) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QColor c(img.pixel(x, y));
                if (qAlpha(img.pixel(x, y)) > 200 && c.red() > 180 && c.green() < 80)
                    return true;
            }
        return false;
    };
    EXPECT_TRUE(hasRed(TrayIcons::staticImage(1)));
    EXPECT_FALSE(hasRed(TrayIcons::staticImage(0)));
    EXPECT_FALSE(hasRed(TrayIcons::staticImage(2)));
}

TEST(TrayIcons, ListsHaveTheirSizes) {
    test::app();
    EXPECT_EQ(TrayIcons::ImageList1().size(), 3);
    EXPECT_EQ(TrayIcons::ImageList5().size(), 5);
    EXPECT_EQ(TrayIcons::ImageList6().size(), 5);
    EXPECT_FALSE(TrayIcons::ImageList6().at(4).isNull());
}

TEST(TrayAnimation, StepsFromFirstFrameAndWraps) {
    test::app();
    TrayAnimation anim;
    anim.setInterval(5);
    std::vector<int> shown;
    int steps = 0;
    QObject::connect(&anim, &TrayAnimation::frameChanged,
                     [&](const QIcon&, int index) { shown.push_back(index); });
    QObject::connect(&anim, &TrayAnimation::stepped, [&] { ++steps; });
    anim.start(TrayIcons::ImageList5());
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), 0);
    ASSERT_TRUE(test::processUntil([&] { return shown.size() >= 7; }, 10s));
    anim.stop();
    EXPECT_FALSE(anim.isRunning());
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i], static_cast<int>(i % 5)) << i;
    EXPECT_EQ(steps, static_cast<int>(shown.size()));
    const std::size_t atStop = shown.size();
    test::processUntil([] { return false; }, 50ms);
    EXPECT_EQ(shown.size(), atStop);
    EXPECT_EQ(anim.currentFrame(), shown.back());

    // A new start begins again at frame 0.
    anim.start(TrayIcons::ImageList6());
    EXPECT_EQ(shown.back(), 0);
    anim.stop();
}

TEST(TrayAnimation, StopFromTheFirstStepHolds) {
    test::app();
    TrayAnimation anim;
    anim.setInterval(5);
    int steps = 0;
    QObject::connect(&anim, &TrayAnimation::stepped, [&] {
        ++steps;
        anim.stop();
    });
    anim.start(TrayIcons::ImageList5());
    EXPECT_EQ(steps, 1);
    EXPECT_FALSE(anim.isRunning());
    test::processUntil([] { return false; }, 50ms);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(anim.currentFrame(), 0);
}

// Writes the pictures enlarged to a sheet, for looking at them.
TEST(TrayIcons, WritesAPreviewSheet) {
    test::app();
    const std::vector<QImage> all = allPictures();
    QImage sheet(13 * 80, 80, QImage::Format_ARGB32);
    sheet.fill(QColor(90, 110, 140));
    QPainter p(&sheet);
    for (std::size_t i = 0; i < all.size(); ++i)
        p.drawImage(static_cast<int>(i) * 80 + 8, 8, all[i].scaled(64, 64));
    p.end();
    const QString path = QDir::tempPath() + "/tarn-tray-icons.png";
    EXPECT_TRUE(sheet.save(path));
}

} // namespace
