#include "PlotData.h"

#include <algorithm>
#include <cmath>
#include <limits>

TSampleRing::TSampleRing(size_t capacity) : FItems(capacity) {}

void TSampleRing::Push(const TPlotSample& sample)
{
    if (FItems.empty())
        return;
    if (FCount < FItems.size()) {
        FItems[(FStart + FCount) % FItems.size()] = sample;
        ++FCount;
    } else {
        FItems[FStart] = sample;
        FStart = (FStart + 1) % FItems.size();
    }
}

void TSampleRing::DropBefore(double time)
{
    while (FCount > 0 && FItems[FStart].time < time) {
        FStart = (FStart + 1) % FItems.size();
        --FCount;
    }
}

void TSampleRing::SetCapacity(size_t capacity)
{
    std::vector<TPlotSample> items = ToVector();
    if (items.size() > capacity)
        items.erase(items.begin(), items.end() - static_cast<std::ptrdiff_t>(capacity));
    FCount = items.size();
    items.resize(capacity);
    items.shrink_to_fit();
    FItems = std::move(items);
    FStart = 0;
}

std::vector<TPlotSample> TSampleRing::ToVector() const
{
    std::vector<TPlotSample> items;
    items.reserve(FCount);
    for (size_t i = 0; i < FCount; ++i)
        items.push_back(At(i));
    return items;
}

TPlotData::TPlotData(int windowSeconds) : FWindowSeconds(0)
{
    SetWindowSeconds(windowSeconds);
}

void TPlotData::SetWindowSeconds(int seconds)
{
    FWindowSeconds = std::max(1, seconds);
    for (TSampleRing& ring : FRings)
        ring.SetCapacity(static_cast<size_t>(FWindowSeconds) * MaxReportRate);
}

void TPlotData::Add(TPlotSignal signal, double time, float value)
{
    TSampleRing& ring = FRings[static_cast<size_t>(signal)];
    ring.DropBefore(time - FWindowSeconds);
    ring.Push({time, value});
}

TPlotSnapshot TPlotData::Snapshot() const
{
    TPlotSnapshot snapshot;
    for (size_t i = 0; i < PlotSignalCount; ++i)
        snapshot[i] = FRings[i].ToVector();
    return snapshot;
}

size_t TPlotData::MemoryBytes() const
{
    size_t bytes = 0;
    for (const TSampleRing& ring : FRings)
        bytes += ring.Capacity() * sizeof(TPlotSample);
    return bytes;
}

QList<QPointF> Decimate(const std::vector<TPlotSample>& samples, double from, double to, int buckets,
                        double holdAfter)
{
    QList<QPointF> points;
    if (samples.empty() || buckets <= 0 || to <= from)
        return points;
    const double width = (to - from) / buckets;
    const double hold = std::max(width, holdAfter);
    auto it = std::lower_bound(samples.begin(), samples.end(), from,
                               [](const TPlotSample& s, double t) { return s.time < t; });
    // The sample before the window keeps the line running from its left edge.
    if (it != samples.begin())
        --it;
    points.reserve(3 * buckets + 3);
    while (it != samples.end()) {
        const long bucket = static_cast<long>(std::floor((it->time - from) / width));
        auto low = it;
        auto high = it;
        auto next = it + 1;
        while (next != samples.end() && static_cast<long>(std::floor((next->time - from) / width)) == bucket) {
            if (next->value < low->value)
                low = next;
            if (next->value > high->value)
                high = next;
            ++next;
        }
        const auto first = std::min(low, high);
        const auto second = std::max(low, high);
        // A value holds until the next report: after a silence the line
        // steps instead of slanting across it.
        if (!points.isEmpty() && first->time - points.last().x() > hold)
            points.append(QPointF(first->time, points.last().y()));
        points.append(QPointF(first->time, first->value));
        if (second != first)
            points.append(QPointF(second->time, second->value));
        it = next;
    }
    return points;
}

const TPlotSample* NearestSample(const std::vector<TPlotSample>& samples, double time)
{
    if (samples.empty())
        return nullptr;
    const auto after = std::lower_bound(samples.begin(), samples.end(), time,
                                        [](const TPlotSample& s, double t) { return s.time < t; });
    if (after == samples.begin())
        return &*after;
    if (after == samples.end())
        return &samples.back();
    const auto before = after - 1;
    return (time - before->time) <= (after->time - time) ? &*before : &*after;
}

double TickStep(double span, int maxTicks)
{
    if (!std::isfinite(span) || span <= 0 || maxTicks < 1)
        return 1;
    const double rough = span / maxTicks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= rough * (1 - 1e-9))
            return factor * power;
    return 10 * power;
}

int TickDecimals(double step)
{
    return step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

QString PlotCsv(const TPlotSnapshot& snapshot)
{
    QString csv = QStringLiteral("sample_time_s,position_mm,speed_mm_per_s,force_N\n");
    std::array<size_t, PlotSignalCount> next{};
    constexpr double None = std::numeric_limits<double>::infinity();
    for (;;) {
        double time = None;
        for (size_t i = 0; i < PlotSignalCount; ++i)
            if (next[i] < snapshot[i].size())
                time = std::min(time, snapshot[i][next[i]].time);
        if (time == None)
            break;
        QString line = QString::number(time, 'f', 3);
        for (size_t i = 0; i < PlotSignalCount; ++i) {
            line += QLatin1Char(',');
            if (next[i] < snapshot[i].size() && snapshot[i][next[i]].time == time)
                line += QString::number(static_cast<double>(snapshot[i][next[i]++].value), 'g', 7);
        }
        csv += line + QLatin1Char('\n');
    }
    return csv;
}
