#pragma once
// The program's modal message boxes (one OK button). All messages to the
// operator go through ShowMessage, so tests can replace the box with a
// recorder and the program never blocks on a box nobody can click.
#include <QString>

#include <functional>

class QWidget;

enum class TMessageKind { Error, Information, Warning };

using TMessageHandler = std::function<void(TMessageKind kind, const QString& text)>;

// Shows a modal message box of the given kind with `text`.
void ShowMessage(TMessageKind kind, const QString& text);
inline void ShowError(const QString& text) { ShowMessage(TMessageKind::Error, text); }
inline void ShowInformation(const QString& text) { ShowMessage(TMessageKind::Information, text); }

// Replaces how messages are shown; an empty handler restores the message box.
// Returns the handler that was in place.
TMessageHandler SetMessageHandler(TMessageHandler handler);
