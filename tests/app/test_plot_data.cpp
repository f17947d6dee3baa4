// The plot's recorded data: bounded by the window length however long the
// reports come, thinned for drawing without losing peaks, and exported as CSV;
// the plot window's axes, traces, cursor readout and legend.
#include "PlotData.h"
#include "PlotWindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QTest>
#include <QValueAxis>

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(PlotData, TenMinutesAt100HzKeepOnlyTheWindow)
{
    TPlotData data(60);
    const size_t capacity = data.MemoryBytes();
    double t = 0;
    for (int i = 0; i < 600 * 100; ++i) {
        t = i / 100.0;
        data.Add(TPlotSignal::Position, t, static_cast<float>(i));
        data.Add(TPlotSignal::Speed, t, 1.0f);
    }
    EXPECT_EQ(data.MemoryBytes(), capacity) << "nothing grows with the session";
    const TSampleRing& ring = data.Ring(TPlotSignal::Position);
    EXPECT_EQ(ring.Size(), 6001u); // 60 s at 100 Hz, both ends included
    EXPECT_DOUBLE_EQ(ring.At(0).time, t - 60);
    EXPECT_EQ(ring.At(ring.Size() - 1).value, 59999.0f);
    EXPECT_EQ(data.Ring(TPlotSignal::Force).Size(), 0u);

    // A report flood faster than the ring's rate keeps the newest samples.
    for (int i = 0; i < 100000; ++i)
        data.Add(TPlotSignal::Force, t + i * 1e-5, static_cast<float>(i));
    const TSampleRing& force = data.Ring(TPlotSignal::Force);
    EXPECT_EQ(force.Size(), force.Capacity());
    EXPECT_EQ(force.At(force.Size() - 1).value, 99999.0f);

    // A shorter window drops the oldest, a longer one keeps what is there.
    data.SetWindowSeconds(10);
    EXPECT_EQ(data.Ring(TPlotSignal::Position).Size(), 10u * TPlotData::MaxReportRate);
    EXPECT_EQ(data.Ring(TPlotSignal::Position).At(data.Ring(TPlotSignal::Position).Size() - 1).value, 59999.0f);
    data.SetWindowSeconds(120);
    EXPECT_EQ(data.Ring(TPlotSignal::Position).Size(), 10u * TPlotData::MaxReportRate);
    EXPECT_LT(data.MemoryBytes(), 2u * capacity + 1);
}

TEST(PlotData, ThinningKeepsPeaksAndOrder)
{
    std::vector<TPlotSample> samples;
    for (int i = 0; i < 10000; ++i)
        samples.push_back({i / 1000.0, static_cast<float>(std::sin(i / 300.0))});
    samples[5123].value = 7.0f; // a one-sample spike
    const QList<QPointF> points = Decimate(samples, 0, 10, 200);
    EXPECT_LE(points.size(), 2 * 200 + 2);
    double highest = -1e9;
    for (qsizetype i = 0; i < points.size(); ++i) {
        highest = std::max(highest, points[i].y());
        if (i > 0)
            EXPECT_LE(points[i - 1].x(), points[i].x());
    }
    EXPECT_EQ(highest, 7.0);
    // The sample before the window starts the line at its left edge.
    EXPECT_EQ(Decimate(samples, 5.0005, 6, 10).front().x(), 5.0);
    EXPECT_TRUE(Decimate({}, 0, 1, 10).isEmpty());
    // Reports on change only: after a silence the value holds, then steps;
    // reports closer than the hold time are joined directly.
    EXPECT_EQ(Decimate({{0, 0.0f}, {5, 10.0f}, {5.5, 10.5f}, {7, 12.0f}}, 0, 10, 100, 1.0),
              (QList<QPointF>{{0, 0}, {5, 0}, {5, 10}, {5.5, 10.5}, {7, 10.5}, {7, 12}}));
}

TEST(PlotData, CsvHasOneLinePerPointInTime)
{
    TPlotSnapshot snapshot;
    snapshot[0] = {{0.0, 55.0f}, {0.1, 55.5f}, {0.2, 56.25f}};
    snapshot[1] = {{0.1, 100.0f}};
    snapshot[2] = {{0.15, 40.4f}};
    EXPECT_EQ(PlotCsv(snapshot), QStringLiteral("sample_time_s,position_mm,speed_mm_per_s,force_N\n"
                                                "0.000,55,,\n"
                                                "0.100,55.5,100,\n"
                                                "0.150,,,40.4\n"
                                                "0.200,56.25,,\n"));
    EXPECT_EQ(PlotCsv({}), QStringLiteral("sample_time_s,position_mm,speed_mm_per_s,force_N\n"));
}

TEST(PlotData, NearestSampleForTheCursor)
{
    const std::vector<TPlotSample> samples{{1.0, 1.0f}, {2.0, 2.0f}, {4.0, 4.0f}};
    EXPECT_EQ(NearestSample(samples, -5)->value, 1.0f);
    EXPECT_EQ(NearestSample(samples, 2.9)->value, 2.0f);
    EXPECT_EQ(NearestSample(samples, 3.1)->value, 4.0f);
    EXPECT_EQ(NearestSample(samples, 99)->value, 4.0f);
    EXPECT_EQ(NearestSample({}, 1), nullptr);
}

}

namespace {

bool IsRoundStep(double step)
{
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    return std::fabs(mantissa - 1) < 1e-6 || std::fabs(mantissa - 2) < 1e-6 || std::fabs(mantissa - 5) < 1e-6;
}

bool IsMultiple(double value, double step)
{
    const double ratio = value / step;
    return std::fabs(ratio - std::round(ratio)) < 1e-6;
}

TEST(PlotData, TickStepsAreOneTwoOrFiveTimesAPowerOfTen)
{
    EXPECT_DOUBLE_EQ(TickStep(48, 6), 10);
    EXPECT_DOUBLE_EQ(TickStep(24, 6), 5);
    EXPECT_DOUBLE_EQ(TickStep(7, 6), 2);
    EXPECT_DOUBLE_EQ(TickStep(60, 6), 10);
    EXPECT_DOUBLE_EQ(TickStep(0.9, 6), 0.2);
    EXPECT_DOUBLE_EQ(TickStep(0, 6), 1);
    EXPECT_EQ(TickDecimals(10), 0);
    EXPECT_EQ(TickDecimals(0.2), 1);
    EXPECT_EQ(TickDecimals(0.05), 2);
}

TEST(PlotWindow, RoundTicksTracesUpToNowAndAFixedWidth)
{
    TPlotWindow plot;
    plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
    // The values of a grasp: the position falls from 118 to 20 mm, the
    // speed goes up to -3.6 and back, then nothing is reported for 10 s.
    for (int i = 0; i <= 40; ++i) {
        plot.Data().Add(TPlotSignal::Position, 1 + i * 0.1, static_cast<float>(118 - i * 2.45));
        plot.Data().Add(TPlotSignal::Speed, 1 + i * 0.1, static_cast<float>(i < 20 ? -0.18 * i : 20.4 - 0.5 * i));
    }
    plot.RefreshAt(15);
    for (const TPlotSignal signal : {TPlotSignal::Position, TPlotSignal::Speed}) {
        const QValueAxis* axis = plot.ValueAxis(signal);
        EXPECT_EQ(axis->tickType(), QValueAxis::TicksDynamic);
        EXPECT_TRUE(IsRoundStep(axis->tickInterval())) << axis->tickInterval();
        EXPECT_TRUE(IsMultiple(axis->min(), axis->tickInterval())) << axis->min();
        EXPECT_TRUE(IsMultiple(axis->max(), axis->tickInterval())) << axis->max();
        // The last value holds up to now, the right edge.
        const QList<QPointF> points = plot.Series(signal)->points();
        ASSERT_FALSE(points.isEmpty());
        EXPECT_DOUBLE_EQ(points.last().x(), 0);
        EXPECT_FLOAT_EQ(static_cast<float>(points.last().y()), plot.Data().Ring(signal).At(40).value);
    }
    EXPECT_DOUBLE_EQ(plot.TimeAxis()->tickInterval(), 10);
    EXPECT_FALSE(plot.Series(TPlotSignal::Force)->isVisible()) << "not reported";

    // The cursor readout does not widen the window, and it is not cut.
    const int width = plot.width();
    plot.ShowCursorAt(3);
    QApplication::processEvents();
    EXPECT_EQ(plot.width(), width);
    EXPECT_GE(plot.lbCursor->width(), plot.lbCursor->fontMetrics().horizontalAdvance(plot.lbCursor->text()));
    EXPECT_TRUE(plot.lbCursor->text().contains(QStringLiteral("position"))) << plot.lbCursor->text().toStdString();
}

TEST(PlotWindow, ClickingALegendEntryHidesOrShowsItsSeries)
{
    TPlotWindow plot;
    plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
    plot.Data().Add(TPlotSignal::Position, 1, 10);
    plot.Data().Add(TPlotSignal::Speed, 1, 0);
    plot.RefreshAt(2);
    QLineSeries* speed = plot.Series(TPlotSignal::Speed);
    QLegendMarker* marker = plot.ChartView->chart()->legend()->markers(speed).value(0);
    ASSERT_NE(marker, nullptr);
    ASSERT_FALSE(speed->points().isEmpty());
    emit marker->clicked();
    EXPECT_TRUE(plot.SeriesHidden(TPlotSignal::Speed));
    EXPECT_TRUE(speed->points().isEmpty());
    EXPECT_FALSE(plot.ValueAxis(TPlotSignal::Speed)->isVisible());
    EXPECT_TRUE(marker->isVisible()) << "the entry stays to show the series again";
    plot.Data().Add(TPlotSignal::Speed, 2.5, 5);
    plot.RefreshAt(3);
    EXPECT_TRUE(speed->points().isEmpty()) << "stays hidden while reports come";
    EXPECT_FALSE(plot.Series(TPlotSignal::Position)->points().isEmpty());
    emit marker->clicked();
    EXPECT_FALSE(speed->points().isEmpty());
    EXPECT_TRUE(plot.ValueAxis(TPlotSignal::Speed)->isVisible());
}

} // namespace
