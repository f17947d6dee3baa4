#pragma once
// Drives the real main window from tests and from the screenshot tool: a
// private settings folder, recorded message boxes, scripted connect dialogs
// (interface dialog: "Ethernet", "Serial (RS232)" or "CAN-Bus" with the port
// it offers, for CAN the first virtualcan net; host dialog: 127.0.0.1 and the
// simulator's port; line speed and CAN dialogs: as offered) and waiting for
// the window to reach a state.
#include "DialogRunner.h"
#include "MessageDialog.h"

#include <QDialog>
#include <QPalette>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <vector>

class TMainWin;

struct TRecordedMessage {
    TMessageKind kind;
    QString text;
};

class TAppDriver {
public:
    // What the scripted dialogs do with an interface dialog.
    enum class TInterfaceChoice { Ethernet, Serial, Can, Cancel };
    // Called for every other dialog (the information dialogs); returns the
    // dialog's result.
    using TOtherDialog = std::function<int(QDialog& dialog)>;

    TAppDriver();
    ~TAppDriver();
    TAppDriver(const TAppDriver&) = delete;
    TAppDriver& operator=(const TAppDriver&) = delete;

    QString SettingsFolder() const { return FFolder.path(); }

    std::vector<TRecordedMessage> Messages;
    TInterfaceChoice InterfaceChoice = TInterfaceChoice::Ethernet;
    quint16 HostPort = 0;
    TOtherDialog OtherDialog;
    int DialogRuns = 0;
    // The port the interface dialog offered for the chosen device.
    QString OfferedPort;

    // Runs the connect menu entry against `port` and waits until the window
    // shows the connected state (Disconnect enabled) or a message came.
    bool Connect(TMainWin& window, quint16 port);

private:
    int RunScripted(QDialog& dialog);

    QTemporaryDir FFolder;
    TMessageHandler FPreviousHandler;
    TDialogRunner FPreviousRunner;
};

// A dark palette for the Fusion style: light text on dark grey windows.
QPalette DarkFusionPalette();

// Processes events until `done` holds or `timeoutMs` passed; the result of
// the last check.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// Before the application object exists: Qt's offscreen platform with one
// screen of `width` × `height` pixels named `name`, described in a file in
// `folder` (which must outlive the application). False when the file cannot
// be written.
bool UseOffscreenScreen(const QString& folder, const char* name, int width, int height);
