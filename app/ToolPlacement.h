#pragma once
// The placement of a tool window of the main window (command log, command
// editor): put back where it was the first time it is shown, kept on a
// screen whenever it is shown, and stored when the main window closes.
#include "FormState.h"

#include <QPointer>
#include <QString>

class QWidget;

class TToolPlacement {
public:
    // Kept in section `section` of the settings file `fileName`.
    TToolPlacement(const QString& fileName, const QString& section);

    // Shows or hides `window`, at its stored placement the first time.
    void Show(QWidget* window, bool visible);
    // Stores the placement of the window shown, if any; quietly (a file
    // that cannot be written is reported once, for the main window).
    void Save() const;

private:
    TFormState FState;
    QPointer<QWidget> FPlaced;
};
