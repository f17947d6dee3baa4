// krm-screenshot: takes the documentation screenshots. Starts the gripper
// simulator, opens the real main window, connects to the simulator over TCP
// through the scripted connect dialogs, homes the fingers, moves them and
// grasps a part (with "Details in results" on), sends one command from the
// command editor, and saves
// pictures of the main window, the command log (also with its time and
// decoded columns), the command editor and the plot window (position, speed
// and force through the grasp) into the folder given as the only argument.
#include "AppResources.h"
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "CustomCmdForm.h"
#include "FloatEdit.h"
#include "IntegerEdit.h"
#include "MainForm.h"
#include "PlotWindow.h"
#include "SimulatorProcess.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <cstdio>
#include <memory>

namespace {

bool Fail(const char* what)
{
    std::fprintf(stderr, "krm-screenshot: %s\n", what);
    return false;
}

bool WaitForResultLine(TMainWin& window, const QString& line, int timeoutMs = 15000)
{
    return WaitFor([&] { return window.AsyncLog->toPlainText().contains(line); }, timeoutMs);
}

bool Save(QWidget* widget, const QString& path)
{
    if (!widget->grab().save(path))
        return Fail(qPrintable(QStringLiteral("cannot write ") + path));
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Prints what the session showed so far: the operator messages, the packets
// and the results log.
void PrintSession(const TAppDriver& driver, const TMainWin& window)
{
    for (const TRecordedMessage& m : driver.Messages)
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    for (int i = 0; CommLog && i < CommLog->LineCount(); ++i)
        std::fprintf(stderr, "%s\n", qPrintable(CommLog->LineText(i)));
    std::fprintf(stderr, "results: %s\n", qPrintable(window.AsyncLog->toPlainText()));
}

bool TakeScreenshots(const QString& folder)
{
    TSimulatorProcess simulator;
    if (!simulator.Start({QStringLiteral("--part-width"), QStringLiteral("24")}))
        return Fail("the gripper simulator did not start");

    TAppDriver driver;
    auto window = std::make_unique<TMainWin>();
    const auto commLog = std::make_unique<TCommLog>();
    window->show();
    window->resize(681, 779);

    const auto failed = [&](const char* what) {
        PrintSession(driver, *window);
        return Fail(what);
    };
    if (!driver.Connect(*window, simulator.TcpPort()))
        return failed("cannot connect to the simulator");

    window->DetailsInResults1->trigger();
    window->Plot1->trigger();
    TPlotWindow* plot = window->PlotWindow();
    plot->sbWindow->setValue(15);
    plot->resize(760, 440);

    window->Homing1->trigger();
    if (!WaitForResultLine(*window, QStringLiteral("Command HOMING finished: No error. Position")))
        return failed("homing did not finish");
    window->edGotoPos->SetValue(70);
    window->edGotoSpeed->SetValue(120);
    window->btnGoto->click();
    if (!WaitForResultLine(*window, QStringLiteral("Command GOTO finished: No error. Position")))
        return failed("goto did not finish");
    window->edGraspingPos->SetValue(20);
    window->btnGrasp->click();
    if (!WaitForResultLine(*window, QStringLiteral("Command GRASP_RAW finished: No error. Width")))
        return failed("grasp did not finish");
    WaitFor([&] { return window->lbGraspingState->text() == QStringLiteral("holding"); }, 3000);
    WaitFor([] { return false; }, 500);
    plot->Refresh();
    plot->ShowCursorAt(plot->Now() - 1.0);

    window->CustomCommands1->trigger();
    TCustomCmd* editor = window->CustomCmd();
    editor->edID->setText(QStringLiteral("0x50"));
    editor->btnSend->click();
    WaitFor([&] { return !editor->Log->toPlainText().isEmpty(); }, 3000);

    window->Commandlog1->trigger();
    commLog->cbShowIDDescr->setChecked(true);
    commLog->cbEvaluateErrorCodes->setChecked(true);
    commLog->resize(640, 480);
    WaitFor([] { return false; }, 400);

    QDir().mkpath(folder);
    if (!Save(window.get(), folder + QStringLiteral("/main-window.png"))
        || !Save(commLog.get(), folder + QStringLiteral("/command-log.png"))
        || !Save(editor, folder + QStringLiteral("/command-editor.png")) || !Save(plot, folder + QStringLiteral("/plot.png")))
        return false;

    // The same log with the time since connect and the decoded answers, its
    // reports hidden.
    commLog->cbTime->setChecked(true);
    commLog->cbDecoded->setChecked(true);
    commLog->cbHideReports->setChecked(true);
    commLog->resize(900, 520);
    WaitFor([] { return false; }, 400);
    return Save(commLog.get(), folder + QStringLiteral("/command-log-decoded.png"));
}

}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("KRM Commander"));
    RegisterAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icon")));
    if (argc != 2) {
        std::fprintf(stderr, "usage: krm-screenshot OUTPUT-FOLDER\n");
        return 2;
    }
    return TakeScreenshots(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
