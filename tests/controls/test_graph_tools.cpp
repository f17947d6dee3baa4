#include "QadGraphTools.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace QadGraphTools;

TEST(GraphTools, LightenMovesEachChannelTowardsWhiteWithHalvesToEven)
{
    EXPECT_EQ(LightenColor(QColor(0, 100, 255), 40), QColor(102, 162, 255));
    // 0 + 255 * 50 / 100 = 127.5 rounds to the even 128; 1 + 127 = 128 exactly.
    EXPECT_EQ(LightenColor(QColor(0, 1, 3), 50), QColor(128, 128, 129));
    EXPECT_EQ(LightenColor(QColor(10, 20, 30), 0), QColor(10, 20, 30));
}

TEST(GraphTools, BlendRoundsAndWrapsChannels)
{
    EXPECT_EQ(BlendColor(QColor(0, 0, 0), QColor(255, 100, 10), 0), QColor(0, 0, 0));
    EXPECT_EQ(BlendColor(QColor(0, 0, 0), QColor(255, 100, 10), 100), QColor(255, 100, 10));
    // 0 + 5 * 50 / 100 = 2.5 -> 2 (even); 0 + 7 * 50 / 100 = 3.5 -> 4 (even).
    EXPECT_EQ(BlendColor(QColor(0, 0, 0), QColor(5, 7, 200), 50), QColor(2, 4, 100));
    // Percentages beyond 100 wrap a channel instead of overflowing it.
    EXPECT_EQ(BlendColor(QColor(0, 0, 0), QColor(200, 0, 0), 150).red(), 300 % 256);
}

TEST(GraphTools, GradientPercentOfASpanAndOfASingleLine)
{
    EXPECT_EQ(GradientPercent(10, 10, 20), 0);
    EXPECT_EQ(GradientPercent(10, 20, 20), 100);
    EXPECT_EQ(GradientPercent(0, 1, 3), 33);
    EXPECT_EQ(GradientPercent(0, 1, 8), 12);   // 12.5 -> 12
    EXPECT_EQ(GradientPercent(0, 3, 8), 38);   // 37.5 -> 38
    EXPECT_EQ(GradientPercent(5, 5, 5), 100);
}

namespace {

QImage Canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

}

TEST(GraphTools, InclusiveLinesAndFramesSetTheirEndPixels)
{
    QImage image = Canvas(12, 12);
    {
        QPainter p(&image);
        p.setPen(QPen(Qt::black, 1));
        DrawLineInclusive(p, 1, 1, 6, 1);
        DrawFrame(p, QRect(QPoint(2, 4), QPoint(9, 10)));
    }
    EXPECT_EQ(image.pixelColor(6, 1), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(7, 1), QColor(Qt::white));
    for (QPoint corner : {QPoint(2, 4), QPoint(9, 4), QPoint(9, 10), QPoint(2, 10)})
        EXPECT_EQ(image.pixelColor(corner), QColor(Qt::black)) << corner.x() << "," << corner.y();
    EXPECT_EQ(image.pixelColor(10, 10), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(5, 7), QColor(Qt::white));
}

TEST(GraphTools, GradientFillsRunFromFirstToSecondColour)
{
    const QColor from(200, 0, 0);
    const QColor to(0, 0, 200);
    QImage image = Canvas(20, 20);
    {
        QPainter p(&image);
        FillGradientColumns(p, from, to, QRect(QPoint(2, 2), QPoint(12, 5)));
        FillGradientRows(p, from, to, QRect(QPoint(2, 8), QPoint(8, 18)));
        FillGradientRows(p, from, to, QRect(QPoint(14, 10), QPoint(18, 10)));
    }
    EXPECT_EQ(image.pixelColor(2, 5), from);
    EXPECT_EQ(image.pixelColor(12, 2), to);
    EXPECT_EQ(image.pixelColor(7, 3), QColor(100, 0, 100));
    EXPECT_EQ(image.pixelColor(13, 3), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(8, 8), from);
    EXPECT_EQ(image.pixelColor(2, 18), to);
    // A single row counts as the end of its gradient.
    EXPECT_EQ(image.pixelColor(16, 10), to);
}
