#pragma once
// The termination signals of krm-cli: SIGINT (Ctrl+C), SIGTERM and SIGHUP.
//
// InstallCliSignals() is the first thing main() does, before any script is
// read, so that no such signal ever takes its default action (ending the
// program without a STOP). The handler only counts the signal and writes its
// number into a pipe, keeping errno; everything else happens on the main
// thread: a blocking read of a script looks at the pipe with poll(), and the
// runner hears of a signal through TCliSignalNotifier.
//
// The handlers are installed without SA_RESTART, so a write to a stalled
// standard output returns EINTR and a Ctrl+C cannot be held up by it.
// SIGPIPE and SIGXFSZ are ignored: a write to a pipe whose reader has gone
// or past the file size limit fails with EPIPE or EFBIG, and krm-cli reports
// it (CliOutput.h, PacketCsvLog.h).
#include <QObject>

#include <memory>

class QSocketNotifier;

// Installs the handlers (once); false when the pipe could not be made (the
// handlers then count only).
bool InstallCliSignals();
// Termination signals received since InstallCliSignals(); safe to read at
// any time on the main thread.
int CliSignalCount();
// The number of the last termination signal received, 0 before the first.
int CliLastSignal();
// The pipe's read end (readable once a signal came), -1 without one.
int CliSignalFd();
// "SIGINT", "SIGTERM", "SIGHUP".
const char* CliSignalName(int signalNumber);

// Emits signalled() on the main thread for every signal received, also for
// those that came before it was made.
class TCliSignalNotifier : public QObject {
    Q_OBJECT
public:
    explicit TCliSignalNotifier(QObject* parent = nullptr);
    ~TCliSignalNotifier() override;

signals:
    void signalled(int signalNumber);

private:
    void Drain();

    std::unique_ptr<QSocketNotifier> FNotifier;
};

// Thrown when a termination signal ends the reading of a script before the
// run has begun: the run ends with exit status 1, nothing sent.
struct TCliInterrupted {
    int Signal = 0;
};
