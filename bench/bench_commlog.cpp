// The command log filled with 100,000 and with 1,000,000 packets (10-byte
// payloads, window shown, the event loop run every 100 packets as between
// reports): the amortised cost of logging one packet at either size, and
// their ratio, which stays near 1 when logging costs the same however long
// the log already is. With the million packets in the log: the rebuild after
// a check box toggle (until the visible lines are painted again) and the heap
// the log holds per packet.
// Goals: ratio 1M/100k at most 1.3, rebuild at most 50 ms, at most 100 bytes
// per packet.
// A session-like log of 100,000 packets (three quarters of them reports):
// toggling "Hide reports" and setting and clearing a filter text, each with
// the repaint, against a check box toggle on the same log.
// Goal: the hide-reports toggle costs no more than twice the check box
// toggle.
#include "CommLogForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <memory>

namespace {

constexpr int SmallCount = 100000;
constexpr int LargeCount = 1000000;
constexpr int EventsEvery = 100; // packets logged between two event-loop passes

TPacket SamplePacket(int i)
{
    TPacket p;
    p.command = 0x40 + static_cast<uint32_t>(i % 4);
    p.length = 10;
    p.data = {0x00, 0x00, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0x00, 0x00, 0x48, 0x41, 0x01, 0x02};
    return p;
}

// Bytes allocated from the heap and not yet freed (mmapped blocks included).
// Unlike the resident size this does not depend on what earlier runs left
// free in the heap.
double HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct TFigures {
    double smallPerPacketUs = 0;
    double largePerPacketUs = 0;
    double bytesPerPacket = 0;
    double rebuildMs = 0;
    double optionToggleMs = 0;
    double hideReportsMs = 0;
    double filterTextMs = 0;
} Figures;

std::unique_ptr<TCommLog> Log;

void BM_LogPackets(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Log.reset();
        Log = std::make_unique<TCommLog>();
        Log->show();
        QApplication::processEvents();
        const double heapBefore = HeapInUse();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            Log->LogPacket(SamplePacket(i), (i & 1) != 0);
            if (i % EventsEvery == EventsEvery - 1)
                QApplication::processEvents();
        }
        QApplication::processEvents();
        const double seconds = Seconds(t0);
        state.SetIterationTime(seconds);
        const double perPacketUs = seconds * 1e6 / count;
        (count == LargeCount ? Figures.largePerPacketUs : Figures.smallPerPacketUs) = perPacketUs;
        if (count == LargeCount)
            Figures.bytesPerPacket = (HeapInUse() - heapBefore) / count;
    }
}

void BM_ToggleRebuild(benchmark::State& state)
{
    if (!Log || Log->PacketCount() != LargeCount) {
        state.SkipWithError("no log of a million packets");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        Log->cbShowIDDescr->toggle();
        Log->RxMsgMemo->viewport()->repaint();
        const double seconds = Seconds(t0);
        state.SetIterationTime(seconds);
        total += seconds;
    }
    Figures.rebuildMs = total * 1e3 / static_cast<double>(state.iterations());
}

// Per 8 packets: a request and its answer, then six state reports.
std::unique_ptr<TCommLog> SessionLog(int count)
{
    auto log = std::make_unique<TCommLog>();
    log->show();
    for (int i = 0; i < count; ++i) {
        const int step = i % 8;
        TPacket p;
        if (step < 2) {
            p.command = 0x21;
            p.length = step == 0 ? 9 : 2;
            p.data = step == 0 ? TByteArray{0, 0, 0, 0x20, 0x41, 0, 0, 0x48, 0x42} : TByteArray{0x1A, 0};
        } else {
            static const uint8_t reports[] = {0x40, 0x41, 0x43};
            p.command = reports[step % 3];
            p.length = 6;
            p.data = {0, 0, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0x48, 0x41};
        }
        log->LogPacket(p, step != 0);
    }
    QApplication::processEvents();
    return log;
}

// Mean time of `change` followed by the repaint of the visible lines.
template <typename TChange>
double MeanMs(benchmark::State& state, TCommLog& log, TChange change)
{
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        change(log);
        log.RxMsgMemo->viewport()->repaint();
        const double seconds = Seconds(t0);
        state.SetIterationTime(seconds);
        total += seconds;
    }
    return total * 1e3 / static_cast<double>(state.iterations());
}

void BM_SessionToggles(benchmark::State& state)
{
    static std::unique_ptr<TCommLog> log;
    if (!log)
        log = SessionLog(SmallCount);
    switch (state.range(0)) {
    case 0:
        Figures.optionToggleMs = MeanMs(state, *log, [](TCommLog& l) { l.cbShowIDDescr->toggle(); });
        break;
    case 1:
        Figures.hideReportsMs = MeanMs(state, *log, [](TCommLog& l) { l.cbHideReports->toggle(); });
        break;
    default:
        // Every other pass sets the text, every other clears it again.
        Figures.filterTextMs = MeanMs(state, *log, [](TCommLog& l) {
            l.edFilter->setText(l.edFilter->text().isEmpty() ? QStringLiteral("ID=21h") : QString());
        });
        log.reset();
        break;
    }
}

void PrintSummary()
{
    std::printf("\n== Command log, packets of 10 payload bytes, window shown ==\n");
    std::printf("logging: %.2f us per packet amortised at %d packets, %.2f us at %d\n", Figures.smallPerPacketUs,
                SmallCount, Figures.largePerPacketUs, LargeCount);
    std::printf("ratio 1M/100k: %.2f (goal <= 1.3)\n",
                Figures.smallPerPacketUs > 0 ? Figures.largePerPacketUs / Figures.smallPerPacketUs : 0.0);
    std::printf("check box toggle, rebuild and repaint with %d packets: %.2f ms (goal <= 50 ms)\n", LargeCount,
                Figures.rebuildMs);
    std::printf("heap growth: %.1f bytes per logged packet (goal <= 100 bytes)\n", Figures.bytesPerPacket);
    std::printf("\n== Session log of %d packets, 3/4 reports ==\n", SmallCount);
    std::printf("check box toggle: %.2f ms\n", Figures.optionToggleMs);
    std::printf("hide reports toggle: %.2f ms, ratio to check box toggle %.2f (goal <= 2)\n", Figures.hideReportsMs,
                Figures.optionToggleMs > 0 ? Figures.hideReportsMs / Figures.optionToggleMs : 0.0);
    std::printf("filter text set or cleared: %.2f ms, ratio to check box toggle %.2f\n", Figures.filterTextMs,
                Figures.optionToggleMs > 0 ? Figures.filterTextMs / Figures.optionToggleMs : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("LogPackets", BM_LogPackets)
        ->Arg(SmallCount)
        ->Arg(LargeCount)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ToggleRebuild_1M", BM_ToggleRebuild)
        ->Iterations(10)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SessionToggles_100k", BM_SessionToggles)
        ->DenseRange(0, 2)
        ->Iterations(10)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Log.reset();
    PrintSummary();
    return 0;
}
