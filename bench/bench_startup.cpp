// Start-up with a large Analyzer.ini: the time from constructing the main
// window to its being shown, with the placement in a normal Analyzer.ini
// (the baseline) and behind 50 MB of other sections, measured in the same
// run, alternating. The closing of the window (which saves the placement) is
// timed as well. Goal: start-up with the large file at most twice the normal.
#include "IniFile.h"
#include "MainForm.h"
#include "MessageDialog.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 LargeSize = 50 * 1024 * 1024;

struct TFigures {
    std::vector<double> openMs;
    std::vector<double> closeMs;
};
TFigures Normal;
TFigures Large;

QString IniPath() { return SettingsFilePath(QStringLiteral("Analyzer.ini")); }

double MsSince(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

// Opens and closes the main window once; false when it was not shown.
bool OpenAndClose(TFigures& figures)
{
    const auto start = std::chrono::steady_clock::now();
    auto* window = new TMainWin;
    window->show();
    const bool shown = QTest::qWaitForWindowExposed(window);
    figures.openMs.push_back(MsSince(start));
    const auto closing = std::chrono::steady_clock::now();
    delete window;
    figures.closeMs.push_back(MsSince(closing));
    return shown;
}

// The placement a first start leaves, behind `filler` bytes of other
// sections, as Analyzer.ini.
void WriteIni(const QByteArray& placement, qint64 filler)
{
    QFile file(IniPath());
    file.open(QIODevice::WriteOnly);
    QByteArray block;
    for (int i = 0; i < 1000; ++i)
        block += "Messung" + QByteArray::number(i) + "=C:\\Daten\\Gr\xF6\xDF" "e " + QByteArray::number(i) + ".csv\r\n";
    for (qint64 section = 0; file.size() < filler; ++section)
        file.write("[Verlauf" + QByteArray::number(section) + "]\r\n" + block);
    file.write(placement);
}

void BM_StartUp(benchmark::State& state, TFigures* figures, qint64 filler)
{
    const QByteArray placement = [] {
        QFile file(IniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    WriteIni(placement, filler);
    for (auto _ : state) {
        if (!OpenAndClose(*figures))
            state.SkipWithError("the main window was not shown");
        state.SetIterationTime(figures->openMs.back() / 1e3);
    }
    WriteIni(placement, 0);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir folder;
    SetSettingsFolderOverride(folder.path());
    SetMessageHandler([](TMessageKind, const QString& text) { std::printf("message: %s\n", qPrintable(text)); });
    // A first start writes the placement; it also pays the one-time costs.
    TFigures warmUp;
    OpenAndClose(warmUp);

    benchmark::Initialize(&argc, argv);
    for (int round = 0; round < 3; ++round) {
        benchmark::RegisterBenchmark("StartUp_NormalIni", BM_StartUp, &Normal, 0)
            ->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("StartUp_50MBIni", BM_StartUp, &Large, LargeSize)
            ->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double normal = Median(Normal.openMs);
    const double large = Median(Large.openMs);
    std::printf("\n== Start-up to the main window shown, median of %zu ==\n", Normal.openMs.size());
    std::printf("normal Analyzer.ini: %.1f ms; 50 MB Analyzer.ini: %.1f ms; ratio %.2f (goal <= 2)\n", normal, large,
        normal > 0 ? large / normal : 0.0);
    std::printf("closing (placement saved, unchanged): normal %.1f ms, 50 MB %.1f ms\n", Median(Normal.closeMs),
        Median(Large.closeMs));
    return 0;
}
