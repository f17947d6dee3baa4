#pragma once
// Keeps a window's placement (position, size and whether it is maximised) in
// a section of an initialisation file in the program's settings folder.
// Restore puts a window back where it was at the last Save; a placement that
// lies on no screen any more, or a file without one, leaves the window as it
// is. A window saved minimised comes back in its normal state, so the program
// never starts as a button on the task bar only.
#include <QString>

class QWidget;

class TFormState {
public:
    // `fileName` lives in the settings folder; `section` is the entry key.
    TFormState(QString fileName, QString section);

    const QString& FileName() const { return FFileName; }

    // Applies the stored placement to `window`; false when none was stored
    // or it would put the window off every screen.
    bool Restore(QWidget* window) const;
    // Stores the placement of `window`; false when the file could not be
    // written, with the cause in `error` when given.
    [[nodiscard]] bool Save(const QWidget* window, QString* error = nullptr) const;

private:
    QString FFileName;
    QString FSection;
};

// Shrinks `window` to its screen's available area (not below its minimum
// size) and moves it onto it, when the screen's scale factor makes the
// window larger than the screen. At a scale factor of 1 the window keeps its
// size. False when nothing had to change.
bool FitToScreen(QWidget* window);
