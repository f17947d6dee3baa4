#include "ToolPlacement.h"

#include <QWidget>

TToolPlacement::TToolPlacement(const QString& fileName, const QString& section) : FState(fileName, section)
{
}

void TToolPlacement::Show(QWidget* window, bool visible)
{
    if (visible && FPlaced != window) {
        FPlaced = window;
        FState.Restore(window);
    }
    if (visible)
        FState.KeepOnScreen(window);
    window->setVisible(visible);
}

void TToolPlacement::Save() const
{
    if (FPlaced)
        (void)FState.Save(FPlaced);
}
