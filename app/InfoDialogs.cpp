#include "InfoDialogs.h"

#include "ListBoxDialog.h"
#include "ShortcutList.h"

#include <QMainWindow>

namespace {

void AddRows(TListBoxDlg& dialog, const TInfoRows& rows)
{
    for (const TInfoRow& row : rows)
        dialog.AddRow(row.first, row.second);
}

}

void ShowInfoDialog(QWidget* owner, const QString& caption, const TInfoRows& rows)
{
    TListBoxDlg dialog(owner);
    AddRows(dialog, rows);
    dialog.setWindowTitle(caption);
    dialog.ShowList();
}

void ShowShortcutsDialog(QMainWindow& window)
{
    TListBoxDlg dialog(&window);
    AddRows(dialog, ShortcutRows(window));
    dialog.SetColumnCaptions(QStringLiteral("Key"), QStringLiteral("Action"));
    dialog.setWindowTitle(QStringLiteral("Keyboard shortcuts"));
    // Tall enough for every row without scrolling.
    dialog.resize(dialog.width(), 360);
    dialog.ShowList();
}
