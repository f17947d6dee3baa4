// The plot window's cost at 100 reports per second for each of its three
// signals (position, speed, force) over 10 minutes of simulated time: every
// report goes through the frame assembler and the gripper object as it does
// when received, and its value is recorded; the chart is redrawn as often per
// simulated second as the window does (thinning, series update, painting).
// The baseline, measured in the same run, is receiving the same reports
// without the plot (assembler, gripper object, one label text per report, as
// the main window does).
// Goals: the plot adds at most 2 % of one core; the process does not grow in
// the second five minutes (memory bounded by the window length).
#include "FrameAssembler.h"
#include "Framing.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "PlotWindow.h"
#include "convert.h"

#include <QApplication>
#include <QFile>
#include <QLabel>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>

namespace {

constexpr int SimulatedSeconds = 600;
constexpr int ReportRate = 100;
constexpr int Signals = 3;

long ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * sysconf(_SC_PAGESIZE) : 0;
}

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// One report frame (status word E_SUCCESS, then the float).
TByteArray ReportFrame(uint8_t command, float value)
{
    const auto bytes = SingleToBytes(value);
    const uint8_t payload[6] = {0, 0, bytes[0], bytes[1], bytes[2], bytes[3]};
    return BuildFrame(command, payload, sizeof payload);
}

// A gripper opening and closing: position, speed and force at `t` seconds.
float Value(int signal, double t)
{
    switch (signal) {
    case 0:
        return static_cast<float>(55 + 50 * std::sin(t * 0.7));
    case 1:
        return static_cast<float>(35 * std::cos(t * 0.7));
    default:
        return static_cast<float>(std::fmod(t, 8.0) > 4 ? 40.4 : 0.0);
    }
}

struct TFigures {
    double baselineCpu = 0;
    double plotCpu = 0;
    long growthFirstHalf = 0;
    long growthSecondHalf = 0;
    size_t ringBytes = 0;
    size_t samplesKept = 0;
} Figures;

// Feeds 10 minutes of reports; with `plot` the values are recorded and the
// chart redrawn RefreshRate times per simulated second.
double Run(TPlotWindow* plot, long* firstHalf = nullptr, long* secondHalf = nullptr)
{
    THXT gripper;
    QLabel label;
    TFrameAssembler assembler([] { return 0u; });
    assembler.OnFrame = [&](TPacket&& p) { gripper.HandlePacket(p); };
    double now = 0;
    const auto show = [&](TPlotSignal signal, float value) {
        label.setText(QString::number(static_cast<double>(value), 'f', 2));
        if (plot)
            plot->Data().Add(signal, now, value);
    };
    gripper.OnPosition = [&](QObject*) { show(TPlotSignal::Position, gripper.Position()); };
    gripper.OnSpeed = [&](QObject*) { show(TPlotSignal::Speed, gripper.Speed()); };
    gripper.OnForce = [&](QObject*) { show(TPlotSignal::Force, gripper.Force()); };
    const uint8_t commands[Signals] = {CMD_GET_POS, CMD_GET_SPEED, CMD_GET_FORCE};

    const int ticks = SimulatedSeconds * ReportRate;
    const int ticksPerRefresh = ReportRate / TPlotWindow::RefreshRate;
    static_assert(ReportRate % TPlotWindow::RefreshRate == 0, "redraws fall on report ticks");
    long start = ResidentBytes();
    const double cpu0 = CpuSeconds();
    for (int tick = 0; tick < ticks; ++tick) {
        now = static_cast<double>(tick) / ReportRate;
        for (int s = 0; s < Signals; ++s) {
            const TByteArray frame = ReportFrame(commands[s], Value(s, now));
            assembler.ProcessChunk(frame.data(), frame.size());
        }
        if (plot && tick % ticksPerRefresh == 0) {
            plot->RefreshAt(now);
            // The chart repaints what changed, as the shown window does
            // between two redraws.
            QApplication::processEvents();
        }
        if (tick == ticks / 2) {
            if (firstHalf)
                *firstHalf = ResidentBytes() - start;
            start = ResidentBytes();
        }
    }
    const double cpu = CpuSeconds() - cpu0;
    if (secondHalf)
        *secondHalf = ResidentBytes() - start;
    return cpu;
}

void BM_ReceiveBaseline(benchmark::State& state)
{
    for (auto _ : state) {
        Figures.baselineCpu = Run(nullptr);
        state.SetIterationTime(Figures.baselineCpu);
    }
}

void BM_ReceiveAndPlot(benchmark::State& state)
{
    for (auto _ : state) {
        TPlotWindow plot;
        plot.show();
        QApplication::processEvents();
        Figures.plotCpu = Run(&plot, &Figures.growthFirstHalf, &Figures.growthSecondHalf);
        Figures.ringBytes = plot.Data().MemoryBytes();
        Figures.samplesKept = plot.Data().Ring(TPlotSignal::Position).Size();
        state.SetIterationTime(Figures.plotCpu);
    }
}

void PrintSummary()
{
    const double added = Figures.plotCpu - Figures.baselineCpu;
    std::printf("\n== Plot, %d signals at %d reports/s for %d s of simulated time, %d redraws/s ==\n", Signals,
                ReportRate, SimulatedSeconds, TPlotWindow::RefreshRate);
    std::printf("receiving without plot: %.3f s CPU = %.3f %% of one core\n", Figures.baselineCpu,
                100 * Figures.baselineCpu / SimulatedSeconds);
    std::printf("receiving with plot:    %.3f s CPU = %.3f %% of one core (ratio %.1f to the baseline)\n",
                Figures.plotCpu, 100 * Figures.plotCpu / SimulatedSeconds,
                Figures.baselineCpu > 0 ? Figures.plotCpu / Figures.baselineCpu : 0.0);
    std::printf("plot adds %.2f ms CPU per second = %.3f %% of one core (goal <= 2 %%)\n",
                1e3 * added / SimulatedSeconds, 100 * added / SimulatedSeconds);
    std::printf("ring buffers: %zu bytes for a %d s window, %zu position samples kept\n", Figures.ringBytes,
                TPlotData::DefaultWindowSeconds, Figures.samplesKept);
    std::printf("process growth: %ld bytes in the first 5 minutes, %ld bytes in the second (goal: no growth once "
                "the window is full)\n",
                Figures.growthFirstHalf, Figures.growthSecondHalf);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("ReceiveReports_Baseline_10min", BM_ReceiveBaseline)
        ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ReceiveReports_Plot_10min", BM_ReceiveAndPlot)
        ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    return 0;
}
