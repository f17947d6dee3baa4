#pragma once
// How the program runs a modal dialog. Every Execute of the transport dialogs
// goes through RunDialog, so tests can replace the modal loop with a script
// that inspects and operates the dialog and then closes it.
#include <QDialog>

#include <functional>

// Runs `dialog` modally and returns its result (QDialog::Accepted or
// QDialog::Rejected).
using TDialogRunner = std::function<int(QDialog& dialog)>;

// Runs `dialog` through the installed runner, or exec() when none is.
int RunDialog(QDialog& dialog);

// Replaces the runner; an empty runner restores exec(). Returns the runner
// that was in place.
TDialogRunner SetDialogRunner(TDialogRunner runner);
