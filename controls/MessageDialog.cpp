#include "MessageDialog.h"

#include <QApplication>
#include <QMessageBox>

namespace {

TMessageHandler& CurrentHandler()
{
    static TMessageHandler handler;
    return handler;
}

void ShowMessageBox(TMessageKind kind, const QString& text)
{
    QWidget* parent = QApplication::activeWindow();
    const QString title = QApplication::applicationDisplayName();
    switch (kind) {
    case TMessageKind::Error:
        QMessageBox::critical(parent, title, text);
        break;
    case TMessageKind::Warning:
        QMessageBox::warning(parent, title, text);
        break;
    case TMessageKind::Information:
        QMessageBox::information(parent, title, text);
        break;
    }
}

} // namespace

void ShowMessage(TMessageKind kind, const QString& text)
{
    if (const TMessageHandler& handler = CurrentHandler())
        handler(kind, text);
    else
        ShowMessageBox(kind, text);
}

TMessageHandler SetMessageHandler(TMessageHandler handler)
{
    TMessageHandler previous = std::move(CurrentHandler());
    CurrentHandler() = std::move(handler);
    return previous;
}
