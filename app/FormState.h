#pragma once
// Keeps a window's placement (position, size and whether it is maximised) in
// a section of an initialisation file in the program's settings folder.
// Restore puts a window back where it was at the last Save, moved (and if
// need be shrunk) wholly onto an available screen when it no longer fits
// there; a file without a placement leaves the window as it is. A window saved minimised comes back in its normal state, so the program
// never starts as a button on the task bar only.
//
// Only a size the operator chose is stored: where the program shrank the
// window to fit a screen and the operator left it at that size, Save stores
// the size it had before.
#include <QSize>
#include <QString>

#include <optional>

class QWidget;

class TFormState {
public:
    // `fileName` lives in the settings folder; `section` is the entry key.
    TFormState(QString fileName, QString section);

    const QString& FileName() const { return FFileName; }

    // Applies the stored placement to `window`, kept on a screen (see
    // KeepOnScreen); false when none was stored.
    bool Restore(QWidget* window);
    // The stored placement, or where none was stored, the window fitted to a
    // scaled screen (see FitToScreen).
    void Place(QWidget* window);
    // KeepOnScreen, remembering a size it shrank.
    bool KeepOnScreen(QWidget* window);
    // Stores the placement of `window`; false when the file could not be
    // written, with the cause in `error` when given.
    [[nodiscard]] bool Save(const QWidget* window, QString* error = nullptr) const;

private:
    // The window's size before the program shrank it, and after.
    struct TShrink {
        QSize chosen;
        QSize fitted;
    };

    // Remembers a shrink from `before` to the window's size now.
    void Fitted(const QWidget* window, QSize before);

    QString FFileName;
    QString FSection;
    std::optional<TShrink> FShrink;
};

// Shrinks `window` to its screen's available area (not below its minimum
// size) and moves it onto it, when the screen's scale factor makes the
// window larger than the screen. At a scale factor of 1 the window keeps its
// size. False when nothing had to change.
bool FitToScreen(QWidget* window);

// Puts `window` (with its frame) wholly onto the available area of the screen
// that shows most of it, or of the primary screen when it lies on none: a
// window that fits keeps its size and moves only as far as needed; a larger
// one is shrunk to the screen, below its minimum size only when the screen is
// smaller than that. False when the window already lay wholly on a screen.
bool KeepOnScreen(QWidget* window);
