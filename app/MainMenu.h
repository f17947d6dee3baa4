#pragma once
// The main window's menu: "Gripper" (connecting), "Commands" (information,
// homing, acknowledging a fast stop, the command editor), "View" (the tool
// windows and the results options) and "Help". The window connects the items
// to its handlers.
#include <QString>

class QAction;
class QMenu;
class QMenuBar;

class TMainMenu {
public:
    QMenu* File1;
    QAction* Connect1;
    QAction* Disconnect1;
    QAction* Reconnect1;
    QAction* AutoReconnect1;
    QAction* FindGripper1;
    QAction* Quit1;
    QMenu* Commands1;
    QAction* GetSystemInfo1;
    QAction* GetSystemLimits1;
    QAction* GetGraspingStatistics1;
    QAction* Homing1;
    QAction* EmergencyStopAcknowledge1;
    QAction* CustomCommands1;
    QMenu* View1;
    QAction* Commandlog1;
    QAction* Plot1;
    QAction* TimesInResults1;
    QAction* DetailsInResults1;
    QMenu* Help1;
    QAction* KeyboardShortcuts1;
    QAction* About1;

protected:
    // Fills `bar` with the menus and their items.
    void CreateMenu(QMenuBar* bar);
};
