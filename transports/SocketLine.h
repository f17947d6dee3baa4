#pragma once
// A connected TCP socket read and written without Qt's socket classes, so
// that a caller's thread can do a whole exchange on it itself: write the
// request and wait for the answer in the kernel, as a blocking socket does,
// with no hand-over to and from the thread that owns the line.
//
// The owning thread watches the socket through an epoll set, which it polls
// with a socket notifier. A caller that takes the reading (TakeReading)
// removes the socket from that set (epoll_ctl may be called from any
// thread), so the owning thread is not even woken by what the caller reads;
// GiveBackReading puts it back, and bytes that came meanwhile wake the
// owning thread as usual. The owning thread reads only inside OnReadable,
// which runs while no caller holds the reading.
//
// Writes may come from any thread. What the socket does not take at once is
// kept, in order, and sent by the owning thread as the socket takes more.
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class QSocketNotifier;

class TSocketLine : public QObject {
    Q_OBJECT
public:
    explicit TSocketLine(QObject* parent);
    // Closes the socket (see Close).
    ~TSocketLine() override;

    // Owning thread: takes over `fd`, a connected non-blocking socket, and
    // starts watching it. False (and `fd` closed) when it cannot be watched.
    bool Open(int fd);
    // Owning thread: stops watching and closes the socket, once a caller
    // that holds the reading has given it back.
    void Close();
    bool IsOpen() const { return FFd.load() >= 0; }

    // Owning thread: bytes, the end of the stream or an error wait; fired
    // again for as long as they do. Runs while no caller holds the reading.
    std::function<void()> OnReadable;

    // Received bytes waiting in the kernel.
    int32_t BytesAvailable() const;
    // Up to `count` waiting bytes: the number read, 0 when none waits, -1 at
    // the end of the stream or on an error (ErrorText tells which).
    int32_t Read(uint8_t* buffer, int32_t count);
    // True when the peer has closed the stream or the socket failed; the
    // cause is then in ErrorText.
    bool Ended();
    // The last Read found the end of the stream or an error.
    bool ReadEnded() const { return FReadEnded; }
    QString ErrorText() const { return FError; }

    // Any thread: sends `count` bytes after those still unsent. False when
    // the line is closed or the socket reports an error.
    bool Write(const uint8_t* buffer, int32_t count);
    // Any thread: drops the bytes that were taken and not sent yet.
    void DiscardUnsent();

    // Any thread: the reading goes to the caller, unless the owning thread
    // or another caller reads now or the line is closed (false).
    bool TakeReading();
    // With the reading taken: waits until something can be read (or the
    // stream ended) or `until` passes; true when something can be read.
    bool WaitReadable(std::chrono::steady_clock::time_point until);
    void GiveBackReading();

private:
    void Activated();
    // With FMutex held: the epoll interest for the socket, as the reading
    // owner and the unsent bytes need it.
    void UpdateInterest();
    bool SendUnsent();

    std::atomic_int FFd{-1};
    int FEpoll = -1;
    QSocketNotifier* FNotifier = nullptr;
    QString FError;          // the reader's
    bool FReadEnded = false; // the reader's
    bool FInOnReadable = false; // owning thread
    std::mutex FReading; // held by whoever reads: a caller, or OnReadable
    mutable std::mutex FMutex; // guards the members below
    std::vector<uint8_t> FUnsent;
    bool FCallerReads = false;
    bool FWatched = false;   // the socket is in the epoll set
    uint32_t FInterest = 0;  // its events there
};
