#include "CliSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t SignalCount = 0;
volatile sig_atomic_t LastSignal = 0;
int PipeFds[2] = {-1, -1};

constexpr int Watched[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void CliSignalHandler(int signalNumber)
{
    const int savedErrno = errno;
    SignalCount = SignalCount + 1;
    LastSignal = signalNumber;
    if (PipeFds[1] >= 0) {
        const char b = static_cast<char>(signalNumber);
        (void)!::write(PipeFds[1], &b, 1);
    }
    errno = savedErrno;
}

} // namespace

bool InstallCliSignals()
{
    static bool installed = false;
    if (installed)
        return PipeFds[0] >= 0;
    installed = true;
    bool piped = ::pipe2(PipeFds, O_CLOEXEC | O_NONBLOCK) == 0;
    if (!piped)
        PipeFds[0] = PipeFds[1] = -1;

    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    ::sigaction(SIGXFSZ, &ignore, nullptr);

    struct sigaction sa = {};
    sa.sa_handler = &CliSignalHandler;
    sigemptyset(&sa.sa_mask);
    for (const int s : Watched)
        sigaddset(&sa.sa_mask, s);
    sa.sa_flags = 0; // no SA_RESTART: a blocked write or read returns EINTR
    for (const int s : Watched)
        ::sigaction(s, &sa, nullptr);
    // A termination signal blocked by the parent would never arrive.
    sigset_t set;
    sigemptyset(&set);
    for (const int s : Watched)
        sigaddset(&set, s);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    return piped;
}

int CliSignalCount() { return SignalCount; }

int CliLastSignal() { return LastSignal; }

int CliSignalFd() { return PipeFds[0]; }

const char* CliSignalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

TCliSignalNotifier::TCliSignalNotifier(QObject* parent)
    : QObject(parent)
{
    if (PipeFds[0] < 0)
        return;
    FNotifier = std::make_unique<QSocketNotifier>(PipeFds[0], QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TCliSignalNotifier::Drain);
}

TCliSignalNotifier::~TCliSignalNotifier() = default;

void TCliSignalNotifier::Drain()
{
    char buffer[16];
    ssize_t n = 0;
    while ((n = ::read(PipeFds[0], buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            emit signalled(static_cast<unsigned char>(buffer[i]));
}
