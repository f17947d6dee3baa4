// Start-up with a large Analyzer.ini: the time from constructing the main
// window to its being shown, with the placement in a normal Analyzer.ini
// (the baseline) and behind 50 MB of other sections, measured in the same
// run, alternating. The closing of the window (which saves the placement) is
// timed as well. Goal: start-up with the large file at most twice the normal.
//
// The whole start is timed too: from starting a process (this program with
// "--show-main-window FOLDER", which starts Qt and shows the main window as
// the program does) to its saying that the window is shown.
#include "AppResources.h"
#include "IniFile.h"
#include "MainForm.h"
#include "MessageDialog.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
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

const char* const ShowMainWindowOption = "--show-main-window";

// The child's part of the whole start: the program's own start-up, then
// "shown" on the standard output, and the window closed again.
int ShowMainWindow(int argc, char** argv, const char* folder)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KRM Commander"));
    RegisterAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icon")));
    SetSettingsFolderOverride(QString::fromLocal8Bit(folder));
    SetMessageHandler([](TMessageKind, const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    auto* window = new TMainWin;
    window->show();
    const bool shown = QTest::qWaitForWindowExposed(window);
    std::printf(shown ? "shown\n" : "not shown\n");
    std::fflush(stdout);
    delete window;
    return shown ? 0 : 1;
}

// Milliseconds from starting the child to its word that the window is
// shown; nothing when it never said so.
std::optional<double> WholeStartMs(const QString& folder)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = std::chrono::steady_clock::now();
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ShowMainWindowOption), folder});
    QByteArray said;
    while (!said.contains('\n') && child.waitForReadyRead(30000))
        said += child.readAllStandardOutput();
    const double ms = MsSince(start);
    child.waitForFinished(30000);
    return said.startsWith("shown\n") ? std::optional(ms) : std::nullopt;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], ShowMainWindowOption) == 0)
        return ShowMainWindow(argc, argv, argv[2]);
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

    // Whole starts, alternating between the normal and the large file.
    const QByteArray placement = [] {
        QFile file(IniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    std::vector<double> wholeNormal;
    std::vector<double> wholeLarge;
    for (int round = 0; round < 3; ++round) {
        for (auto [figures, filler] : {std::pair{&wholeNormal, qint64(0)}, std::pair{&wholeLarge, LargeSize}}) {
            WriteIni(placement, filler);
            for (int run = 0; run < 3; ++run) {
                if (const std::optional<double> ms = WholeStartMs(folder.path()))
                    figures->push_back(*ms);
                else
                    std::printf("a whole start did not show the main window\n");
            }
        }
    }
    WriteIni(placement, 0);

    const double normal = Median(Normal.openMs);
    const double large = Median(Large.openMs);
    std::printf("\n== Start-up to the main window shown, median of %zu ==\n", Normal.openMs.size());
    std::printf("normal Analyzer.ini: %.1f ms; 50 MB Analyzer.ini: %.1f ms; ratio %.2f (goal <= 2)\n", normal, large,
        normal > 0 ? large / normal : 0.0);
    std::printf("closing (placement saved, unchanged): normal %.1f ms, 50 MB %.1f ms\n", Median(Normal.closeMs),
        Median(Large.closeMs));
    const double wholeNormalMs = Median(wholeNormal);
    const double wholeLargeMs = Median(wholeLarge);
    std::printf("whole start, process start to the main window shown, median of %zu: normal %.1f ms; 50 MB %.1f ms; "
                "ratio %.2f (goal <= 2)\n",
        wholeNormal.size(), wholeNormalMs, wholeLargeMs, wholeNormalMs > 0 ? wholeLargeMs / wholeNormalMs : 0.0);
    return 0;
}
