#pragma once
// The keyboard shortcuts of a window, gathered from what it holds: the
// shortcuts of its menu items, the buttons of it and of its tool windows that
// a key presses (their own shortcut or the underlined letter of their
// caption, where no other button or menu of the same window shares it) and
// the fixed keys of the value fields.
// Help > Keyboard shortcuts lists them, and the buttons name their key in
// their tooltips, so both stay true when a key is added or changed.
#include "InfoRows.h"

class QAbstractButton;
class QMainWindow;

// One row per shortcut: the key, and what it does.
TInfoRows ShortcutRows(const QMainWindow& window);

// Appends " (key)" to the tooltip of every button of `window` that a key of
// its own presses.
void ShowShortcutsInTips(QMainWindow& window);
