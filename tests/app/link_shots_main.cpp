// krm-link-shots: takes the documentation pictures of the status bar (while
// connected, and while reconnecting by itself after the simulator went away)
// and of the main window during a fast stop and with a dark Fusion palette,
// into the folder given as the only argument. Starts the gripper simulator
// with a part between the fingers and drives the real main window.
#include "AppResources.h"
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "FloatEdit.h"
#include "MainForm.h"
#include "SimulatorProcess.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleFactory>
#include <QToolButton>

#include <cstdio>
#include <memory>

namespace {

bool Fail(const char* what)
{
    std::fprintf(stderr, "krm-link-shots: %s\n", what);
    return false;
}

bool Save(QWidget* widget, const QString& path)
{
    if (!widget->grab().save(path))
        return Fail(qPrintable(QStringLiteral("cannot write ") + path));
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool WaitForResultLine(TMainWin& window, const QString& line)
{
    return WaitFor([&] { return window.AsyncLog->toPlainText().contains(line); }, 15000);
}

// Connects, homes and grasps the part, so that every display shows a value.
bool Grasp(TAppDriver& driver, TMainWin& window, quint16 port)
{
    if (!driver.Connect(window, port))
        return Fail("cannot connect to the simulator");
    window.Homing1->trigger();
    if (!WaitForResultLine(window, QStringLiteral("Command HOMING finished: No error.")))
        return Fail("homing did not finish");
    window.btnGrasp->click();
    if (!WaitForResultLine(window, QStringLiteral("Command GRASP_RAW finished: No error.")))
        return Fail("grasp did not finish");
    return WaitFor([&] { return window.lbGraspingState->text() == QStringLiteral("holding"); }, 3000);
}

bool StatusBarShots(TAppDriver& driver, TSimulatorProcess& simulator, const QString& folder)
{
    auto window = std::make_unique<TMainWin>();
    window->show();
    window->resize(681, 779);
    if (!window->AutoReconnect1->isChecked())
        window->AutoReconnect1->trigger();
    if (!Grasp(driver, *window, simulator.TcpPort()))
        return false;
    WaitFor([] { return false; }, 400);
    if (!Save(window->statusBar(), folder + QStringLiteral("/status-bar.png")))
        return false;

    const quint16 port = simulator.TcpPort();
    simulator.Stop();
    if (!WaitFor([&] { return window->lbConnection->text().contains(QStringLiteral("reconnecting in 2 s")); }))
        return Fail("the window did not start reconnecting");
    const bool saved = Save(window->statusBar(), folder + QStringLiteral("/status-bar-reconnecting.png"));
    window->Disconnect1->trigger();
    return saved && simulator.Start({QStringLiteral("--part-width"), QStringLiteral("30")}, port);
}

bool FastStopShot(TAppDriver& driver, TSimulatorProcess& simulator, const QString& folder)
{
    auto window = std::make_unique<TMainWin>();
    window->show();
    window->resize(681, 779);
    if (!Grasp(driver, *window, simulator.TcpPort()))
        return false;
    window->btnEmergencyStop->click();
    if (!WaitFor([&] { return window->lbFastStop->isVisible(); }, 3000))
        return Fail("the fast stop line did not appear");
    WaitFor([] { return false; }, 400);
    const bool saved = Save(window.get(), folder + QStringLiteral("/fast-stop.png"));
    window->EmergencyStopAcknowledge1->trigger();
    return saved;
}

bool DarkPaletteShot(TAppDriver& driver, TSimulatorProcess& simulator, const QString& folder)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(DarkFusionPalette());
    auto window = std::make_unique<TMainWin>();
    window->show();
    window->resize(681, 779);
    if (!Grasp(driver, *window, simulator.TcpPort()))
        return false;
    WaitFor([] { return false; }, 400);
    return Save(window.get(), folder + QStringLiteral("/dark-palette.png"));
}

}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    RegisterAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icon")));
    if (argc != 2) {
        std::fprintf(stderr, "usage: krm-link-shots OUTPUT-FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    TSimulatorProcess simulator;
    if (!simulator.Start({QStringLiteral("--part-width"), QStringLiteral("30")})) {
        Fail("the gripper simulator did not start");
        return 1;
    }
    TAppDriver driver;
    const auto commLog = std::make_unique<TCommLog>();
    const bool done = StatusBarShots(driver, simulator, folder) && FastStopShot(driver, simulator, folder)
        && DarkPaletteShot(driver, simulator, folder);
    for (const TRecordedMessage& m : driver.Messages)
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    return done ? 0 : 1;
}
