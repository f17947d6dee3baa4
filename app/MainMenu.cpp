#include "MainMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace {

QAction* MakeAction(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut = {})
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    return action;
}

QMenu* MakeMenu(QMenuBar* bar, const QString& name, const QString& caption)
{
    QMenu* menu = bar->addMenu(caption);
    menu->setObjectName(name);
    return menu;
}

}

void TMainMenu::CreateMenu(QMenuBar* bar)
{
    bar->setObjectName(QStringLiteral("MainMenu1"));

    File1 = MakeMenu(bar, QStringLiteral("File1"), QStringLiteral("&Gripper"));
    Connect1 = MakeAction(File1, QStringLiteral("Connect1"), QStringLiteral("&Connect"), Qt::Key_F2);
    Disconnect1 = MakeAction(File1, QStringLiteral("Disconnect1"), QStringLiteral("Disconnect"), Qt::Key_F3);
    Disconnect1->setEnabled(false);
    Reconnect1 = MakeAction(File1, QStringLiteral("Reconnect1"), QStringLiteral("&Reconnect"), QKeySequence(Qt::CTRL | Qt::Key_R));
    AutoReconnect1 = MakeAction(File1, QStringLiteral("AutoReconnect1"), QStringLiteral("Reconnect &automatically"));
    AutoReconnect1->setCheckable(true);
    FindGripper1 = MakeAction(File1, QStringLiteral("FindGripper1"), QStringLiteral("&Find a Gripper..."));
    File1->addSeparator();
    Quit1 = MakeAction(File1, QStringLiteral("Quit1"), QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q));

    Commands1 = MakeMenu(bar, QStringLiteral("Commands1"), QStringLiteral("&Commands"));
    GetSystemInfo1 = MakeAction(Commands1, QStringLiteral("GetSystemInfo1"), QStringLiteral("Get System &Info"));
    GetSystemLimits1 = MakeAction(Commands1, QStringLiteral("GetSystemLimits1"), QStringLiteral("Get System &Limits"));
    Commands1->addSeparator();
    GetGraspingStatistics1 = MakeAction(Commands1, QStringLiteral("GetGraspingStatistics1"),
                                        QStringLiteral("Get Grasping &Statistics"));
    Commands1->addSeparator();
    Homing1 = MakeAction(Commands1, QStringLiteral("Homing1"), QStringLiteral("&Homing"),
                         QKeySequence(Qt::CTRL | Qt::Key_H));
    EmergencyStopAcknowledge1 = MakeAction(Commands1, QStringLiteral("EmergencyStopAcknowledge1"),
                                           QStringLiteral("&Acknowledge an Emergency Stop"),
                                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    Commands1->addSeparator();
    CustomCommands1 = MakeAction(Commands1, QStringLiteral("CustomCommands1"), QStringLiteral("&Command Editor..."),
                                 Qt::Key_F5);
    CustomCommands1->setCheckable(true);

    View1 = MakeMenu(bar, QStringLiteral("View1"), QStringLiteral("&View"));
    Commandlog1 = MakeAction(View1, QStringLiteral("Commandlog1"), QStringLiteral("&Command log"));
    Commandlog1->setCheckable(true);
    Plot1 = MakeAction(View1, QStringLiteral("Plot1"), QStringLiteral("&Plot"), Qt::Key_F6);
    TimesInResults1 = MakeAction(View1, QStringLiteral("TimesInResults1"), QStringLiteral("&Times in results"));
    TimesInResults1->setCheckable(true);
    DetailsInResults1 = MakeAction(View1, QStringLiteral("DetailsInResults1"), QStringLiteral("&Details in results"));
    DetailsInResults1->setCheckable(true);

    Help1 = MakeMenu(bar, QStringLiteral("Help1"), QStringLiteral("&Help"));
    KeyboardShortcuts1 = MakeAction(Help1, QStringLiteral("KeyboardShortcuts1"), QStringLiteral("&Keyboard shortcuts"),
                                    Qt::Key_F1);
    About1 = MakeAction(Help1, QStringLiteral("About1"), QStringLiteral("&About..."));
}
