#include "SocketLine.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The text of a lost stream, as the program words it for every transport.
QString StreamEndText(int error)
{
    if (error == 0 || error == ECONNRESET || error == EPIPE)
        return QStringLiteral("The remote host closed the connection");
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TSocketLine::TSocketLine(QObject* parent) : QObject(parent) {}

TSocketLine::~TSocketLine() { Close(); }

bool TSocketLine::Open(int fd)
{
    Close();
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    if (epoll < 0) {
        ::close(fd);
        return false;
    }
    std::lock_guard lock(FMutex);
    FFd = fd;
    FEpoll = epoll;
    FError.clear();
    FReadEnded = false;
    FCallerReads = false;
    FWatched = false;
    FInterest = 0;
    FNotifier = new QSocketNotifier(static_cast<qintptr>(FEpoll), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSocketLine::Activated);
    UpdateInterest();
    return true;
}

void TSocketLine::Close()
{
    // A lost link closes the line from inside OnReadable, which holds the
    // reading already.
    std::unique_lock reading(FReading, std::defer_lock);
    if (!FInOnReadable)
        reading.lock();
    std::lock_guard lock(FMutex);
    if (FFd < 0)
        return;
    delete FNotifier;
    FNotifier = nullptr;
    // What is still unsent gets its last chance, as a closing socket would
    // send it before its end.
    if (!FUnsent.empty())
        ::send(FFd, FUnsent.data(), FUnsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    FUnsent.clear();
    ::close(FEpoll);
    ::close(FFd);
    FEpoll = -1;
    FFd = -1;
    FWatched = false;
}

int32_t TSocketLine::BytesAvailable() const
{
    int waiting = 0;
    if (FFd < 0 || ::ioctl(FFd, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

int32_t TSocketLine::Read(uint8_t* buffer, int32_t count)
{
    if (FFd < 0 || count <= 0)
        return count <= 0 ? 0 : -1;
    const ssize_t got = ::recv(FFd, buffer, static_cast<size_t>(count), MSG_DONTWAIT);
    if (got > 0)
        return static_cast<int32_t>(got);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    FError = StreamEndText(got == 0 ? 0 : errno);
    FReadEnded = true;
    return -1;
}

bool TSocketLine::Ended()
{
    uint8_t byte = 0;
    if (FFd < 0)
        return true;
    const ssize_t got = ::recv(FFd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)))
        return false;
    FError = StreamEndText(got == 0 ? 0 : errno);
    return true;
}

bool TSocketLine::Write(const uint8_t* buffer, int32_t count)
{
    std::lock_guard lock(FMutex);
    if (FFd < 0)
        return false;
    if (count <= 0)
        return true;
    size_t sent = 0;
    if (FUnsent.empty()) {
        const ssize_t taken = ::send(FFd, buffer, static_cast<size_t>(count), MSG_NOSIGNAL | MSG_DONTWAIT);
        // The reading side tells the cause of a broken stream.
        if (taken < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        sent = taken > 0 ? static_cast<size_t>(taken) : 0;
        if (sent == static_cast<size_t>(count))
            return true;
    }
    FUnsent.insert(FUnsent.end(), buffer + sent, buffer + count);
    UpdateInterest();
    return true;
}

void TSocketLine::DiscardUnsent()
{
    std::lock_guard lock(FMutex);
    FUnsent.clear();
    UpdateInterest();
}

bool TSocketLine::TakeReading()
{
    if (!FReading.try_lock())
        return false;
    std::lock_guard lock(FMutex);
    if (FFd < 0) {
        FReading.unlock();
        return false;
    }
    FCallerReads = true;
    UpdateInterest();
    return true;
}

bool TSocketLine::WaitReadable(std::chrono::steady_clock::time_point until)
{
    const auto left = std::max(until - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec timeout{static_cast<time_t>(seconds.count()),
        static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count())};
    pollfd watched{FFd, POLLIN, 0};
    return ::ppoll(&watched, 1, &timeout, nullptr) > 0;
}

void TSocketLine::GiveBackReading()
{
    {
        std::lock_guard lock(FMutex);
        FCallerReads = false;
        UpdateInterest();
    }
    FReading.unlock();
}

void TSocketLine::Activated()
{
    {
        std::lock_guard lock(FMutex);
        if (!FUnsent.empty() && SendUnsent())
            UpdateInterest();
    }
    std::unique_lock reading(FReading, std::try_to_lock);
    if (!reading || FFd < 0 || !OnReadable)
        return;
    FInOnReadable = true;
    OnReadable();
    FInOnReadable = false;
}

bool TSocketLine::SendUnsent()
{
    const ssize_t taken = ::send(FFd, FUnsent.data(), FUnsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (taken < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return false;
        // The reading side tells the end of the stream; nothing more goes out.
        FUnsent.clear();
        return true;
    }
    FUnsent.erase(FUnsent.begin(), FUnsent.begin() + taken);
    return FUnsent.empty();
}

void TSocketLine::UpdateInterest()
{
    if (FEpoll < 0)
        return;
    const uint32_t wanted = (FCallerReads ? 0u : uint32_t{EPOLLIN | EPOLLRDHUP}) | (FUnsent.empty() ? 0u : uint32_t{EPOLLOUT});
    epoll_event event{};
    event.events = wanted;
    event.data.fd = FFd;
    if (wanted == 0) {
        // Removed altogether: a hang-up would still be reported otherwise.
        if (FWatched)
            epoll_ctl(FEpoll, EPOLL_CTL_DEL, FFd, &event);
        FWatched = false;
    } else if (!FWatched) {
        FWatched = epoll_ctl(FEpoll, EPOLL_CTL_ADD, FFd, &event) == 0;
    } else if (wanted != FInterest) {
        epoll_ctl(FEpoll, EPOLL_CTL_MOD, FFd, &event);
    }
    FInterest = wanted;
}
