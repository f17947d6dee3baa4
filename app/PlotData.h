#pragma once
// The recorded values of the plot window: one ring buffer per signal
// (finger position, finger speed, grasping force), each holding the samples
// of the last window length and never more than the window length allows at
// the highest report rate the plot keeps up with. Older samples are dropped
// as new ones come, so memory stays bounded however long a session runs.
#include <QList>
#include <QPointF>
#include <QString>

#include <array>
#include <cstddef>
#include <vector>

enum class TPlotSignal { Position, Speed, Force };
constexpr size_t PlotSignalCount = 3;

struct TPlotSample {
    double time; // seconds since recording started
    float value;
};

// A fixed-capacity ring of samples in arrival order; a full ring overwrites
// its oldest sample.
class TSampleRing {
public:
    explicit TSampleRing(size_t capacity = 0);

    size_t Size() const { return FCount; }
    size_t Capacity() const { return FItems.size(); }
    // The i-th oldest sample.
    const TPlotSample& At(size_t i) const { return FItems[(FStart + i) % FItems.size()]; }

    void Push(const TPlotSample& sample);
    // Drops the samples older than `time`.
    void DropBefore(double time);
    // New capacity; the newest samples that fit are kept.
    void SetCapacity(size_t capacity);
    std::vector<TPlotSample> ToVector() const;

private:
    std::vector<TPlotSample> FItems;
    size_t FStart = 0;
    size_t FCount = 0;
};

using TPlotSnapshot = std::array<std::vector<TPlotSample>, PlotSignalCount>;

class TPlotData {
public:
    // Reports per second and signal that a full window can hold.
    static constexpr int MaxReportRate = 250;
    static constexpr int DefaultWindowSeconds = 60;

    explicit TPlotData(int windowSeconds = DefaultWindowSeconds);

    int WindowSeconds() const { return FWindowSeconds; }
    void SetWindowSeconds(int seconds);

    // Adds a sample at `time` seconds; samples older than the window before
    // it are dropped.
    void Add(TPlotSignal signal, double time, float value);
    const TSampleRing& Ring(TPlotSignal signal) const { return FRings[static_cast<size_t>(signal)]; }
    TPlotSnapshot Snapshot() const;
    // Bytes held by the three rings.
    size_t MemoryBytes() const;

private:
    int FWindowSeconds;
    std::array<TSampleRing, PlotSignalCount> FRings;
};

// At most two points (the least and the largest value) per bucket of equal
// time between `from` and `to`, in time order: a line through them looks the
// same as one through every sample at a width of `buckets` pixels. Where
// samples are further apart than a bucket and than `holdAfter` seconds (a
// gripper reporting only changes was silent because the value held), a
// corner point keeps the earlier value up to the later sample's time.
QList<QPointF> Decimate(const std::vector<TPlotSample>& samples, double from, double to, int buckets,
                        double holdAfter = 0);

// The sample of `samples` (in time order) nearest to `time`, or null.
const TPlotSample* NearestSample(const std::vector<TPlotSample>& samples, double time);

// A round step for axis ticks (1, 2 or 5 times a power of ten) that divides
// `span` into at most `maxTicks` steps; 1 for an empty or unusable span.
double TickStep(double span, int maxTicks);
// Decimals a tick label of `step` needs (0 for steps of 1 and above).
int TickDecimals(double step);

// CSV text of a snapshot, a table of samples: the header
// "sample_time_s,position_mm,speed_mm_per_s,force_N"
// and one line per point in time at which any signal has a sample, the other
// signals' cells empty; times with three decimals, values with up to seven
// significant digits, "." as decimal separator.
QString PlotCsv(const TPlotSnapshot& snapshot);
