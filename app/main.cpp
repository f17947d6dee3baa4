// KRM Commander: operator and diagnostic tool for an electric parallel
// gripper. Creates the main window and the (hidden) command log window and
// runs the event loop until the main window is closed.
#include "AppResources.h"
#include "CommLogForm.h"
#include "CommLogOptions.h"
#include "MainForm.h"

#include <QApplication>
#include <QIcon>

#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The name titles the message boxes. No display name is set: the
    // platform would append it to the caption of every other window.
    QApplication::setApplicationName(QStringLiteral("KRM Commander"));
    RegisterAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icon")));

    auto mainWin = std::make_unique<TMainWin>();
    const auto commLog = std::make_unique<TCommLog>();
    // Closing the main window ends the program, also while the log is open.
    commLog->setAttribute(Qt::WA_QuitOnClose, false);
    RememberCommLogOptions(*commLog, QStringLiteral("Analyzer.ini"), QStringLiteral("CommLog"));

    mainWin->show();
    const int result = QApplication::exec();
    // The main window (and with it the gripper object that logs into the
    // command log) goes first.
    mainWin.reset();
    return result;
}
