// The command log with 100,000 logged packets (10-byte payloads, window
// shown): the cost of logging one more packet, the rebuild after a check box
// toggle (until the visible lines are painted again) and the memory the
// whole process grows by per logged packet. The baseline, measured in the
// same run, is storing the same packets in a bare packet list.
// Goals: rebuild at most 500 ms, logging at most 50 us per packet amortised,
// growth at most 300 bytes per packet.
#include "CommLogForm.h"
#include "PacketListClass.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTest>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr int PacketCount = 100000;
constexpr int EventsEvery = 100; // packets logged between two event-loop passes

TPacket SamplePacket(int i)
{
    TPacket p;
    p.command = 0x40 + static_cast<uint32_t>(i % 4);
    p.length = 10;
    p.data = {0x00, 0x00, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0x00, 0x00, 0x48, 0x41, 0x01, 0x02};
    return p;
}

long ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * sysconf(_SC_PAGESIZE) : 0;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct TFigures {
    double baselinePerPacketUs = 0;
    double appendPerPacketUs = 0;
    double bytesPerPacket = 0;
    double rebuildMs = 0;
    double baselineCopyMs = 0;
} Figures;

std::unique_ptr<TCommLog> Log;

void BM_PacketListBaseline(benchmark::State& state)
{
    for (auto _ : state) {
        TPacketList list;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < PacketCount; ++i)
            list.Add(SamplePacket(i));
        const double seconds = Seconds(t0);
        state.SetIterationTime(seconds);
        Figures.baselinePerPacketUs = seconds * 1e6 / PacketCount;
        Figures.baselineCopyMs = seconds * 1e3;
    }
}

void BM_LogPackets(benchmark::State& state)
{
    for (auto _ : state) {
        Log = std::make_unique<TCommLog>();
        Log->show();
        QApplication::processEvents();
        const long before = ResidentBytes();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < PacketCount; ++i) {
            Log->LogPacket(SamplePacket(i), (i & 1) != 0);
            if (i % EventsEvery == EventsEvery - 1)
                QApplication::processEvents();
        }
        QApplication::processEvents();
        const double seconds = Seconds(t0);
        state.SetIterationTime(seconds);
        Figures.appendPerPacketUs = seconds * 1e6 / PacketCount;
        Figures.bytesPerPacket = static_cast<double>(ResidentBytes() - before) / PacketCount;
    }
}

void BM_ToggleRebuild(benchmark::State& state)
{
    if (!Log) {
        state.SkipWithError("no log");
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

void PrintSummary()
{
    std::printf("\n== Command log, %d packets of 10 payload bytes, window shown ==\n", PacketCount);
    std::printf("logging: %.2f us per packet amortised (bare packet list %.3f us, ratio %.1f; goal <= 50 us)\n",
                Figures.appendPerPacketUs, Figures.baselinePerPacketUs,
                Figures.baselinePerPacketUs > 0 ? Figures.appendPerPacketUs / Figures.baselinePerPacketUs : 0.0);
    std::printf("check box toggle, rebuild and repaint: %.2f ms (storing all packets %.2f ms, ratio %.2f; goal <= 500 ms)\n",
                Figures.rebuildMs, Figures.baselineCopyMs,
                Figures.baselineCopyMs > 0 ? Figures.rebuildMs / Figures.baselineCopyMs : 0.0);
    std::printf("process growth: %.0f bytes per logged packet (goal <= 300 bytes)\n", Figures.bytesPerPacket);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    // Logging first, on a fresh heap, so that the growth it causes is its own.
    benchmark::RegisterBenchmark("LogPackets_100k", BM_LogPackets)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ToggleRebuild_100k", BM_ToggleRebuild)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PacketList_Baseline_100k", BM_PacketListBaseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Log.reset();
    PrintSummary();
    return 0;
}
