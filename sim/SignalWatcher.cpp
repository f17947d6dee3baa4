#include "SignalWatcher.h"

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

int TSignalWatcher::FWriteFd = -1;

TSignalWatcher::TSignalWatcher(QObject* parent) : QObject(parent) {}

TSignalWatcher::~TSignalWatcher()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    FNotifier.reset();
    if (FReadFd >= 0) {
        ::close(FReadFd);
        ::close(FWriteFd);
        FWriteFd = -1;
    }
}

bool TSignalWatcher::Install()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return false;
    FReadFd = fds[0];
    FWriteFd = fds[1];
    ::fcntl(FWriteFd, F_SETFL, O_NONBLOCK);
    FNotifier = std::make_unique<QSocketNotifier>(FReadFd, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TSignalWatcher::Drain);
    struct sigaction sa = {};
    sa.sa_handler = &TSignalWatcher::Handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    return true;
}

void TSignalWatcher::Handler(int signalNumber)
{
    const char b = static_cast<char>(signalNumber);
    if (FWriteFd >= 0)
        (void)!::write(FWriteFd, &b, 1);
}

void TSignalWatcher::Drain()
{
    char b = 0;
    if (::read(FReadFd, &b, 1) == 1)
        emit terminationRequested(static_cast<unsigned char>(b));
}
