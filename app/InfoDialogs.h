#pragma once
// The main window's information dialogs: a table of rows in a list box
// dialog, for the gripper's information, limits and statistics, and for the
// window's keyboard shortcuts.
#include "InfoRows.h"

class QMainWindow;
class QWidget;

void ShowInfoDialog(QWidget* owner, const QString& caption, const TInfoRows& rows);

// Help > Keyboard shortcuts: every key of `window` and what it does.
void ShowShortcutsDialog(QMainWindow& window);
