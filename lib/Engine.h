#pragma once
// The session engine: the one place where requests go to the gripper and its
// packets are told apart. It runs on the link thread over the dispatcher
// (devices, framing, packet queue) and never waits there: a request is sent
// and its answer handled when it comes, so the link thread is always free
// for the next packet and the next request.
//
// Lanes. Ordinary requests go out one after the other: the next once the
// last was answered, given up on, or found unanswered after AnswerTime.
// STOP, FAST_STOP and FAST_STOP_ACK go out at once, whatever waits, and are
// never refused; their answers (by command byte) leave the waiting request
// alone.
//
// Matching, for a packet with command byte C:
//  1. the oldest stop-lane request for C waiting for its answer;
//  2. the ordinary request sent for C, unless it is a motion replacing one
//     with the same byte that still owes its final answer and the packet is
//     such a final answer (that motion ended as the new one was sent);
//  3. a request given up on after it was sent, within its answer time;
//  4. the oldest running motion for C: a further "pending" is ignored, any
//     other status is its final answer, so a replaced motion takes exactly
//     its own final answer and never the new one's;
//  5. a report byte with status success: a report the gripper sent by itself;
//  6. anything else arrived while no request waited: counted as stray.
//
// The caller's own exchange. On a line a caller's thread may read and write
// itself (TCP), a request that finds the engine idle is written by the
// caller and its answer read by the caller too, as on a blocking socket:
// waking the link thread and being woken by it would cost more than the
// whole exchange. The link thread then does not read the line until the
// caller gives it back. Answers are matched by the same rules wherever they
// are read: the engine's state is guarded by one mutex, taken by whichever
// thread reads or writes.
#include "CommandComponent.h"
#include "Completion.h"
#include "LinkThread.h"

#include <QTimer>

#include <krm/krm.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <vector>

namespace krm::detail {

// How an exchange's answer ended.
enum class Reply {
    Answered,    // the gripper answered (Status, Data)
    NoAnswer,    // nothing came within AnswerTime
    WriteFailed, // the link did not take the request; nothing was sent
    LinkDown,    // not connected, or the link was lost
    Closed,      // the session closed before the answer came
};

struct Reception {
    Reply How = Reply::NoAnswer;
    TStat Status = E_SUCCESS;
    TByteArray Data;    // the result bytes after the status word
    bool Short = false; // the answer had no status word
    SteadyClock::time_point Time{};
    std::string Cause;  // WriteFailed, LinkDown: the transport's words
};

// One request and its answers.
struct Exchange {
    uint8_t Command = 0;
    TByteArray Payload;
    bool Motion = false;   // answered "pending", then finally
    bool StopLane = false; // STOP, FAST_STOP, FAST_STOP_ACK
    Completion<Reception> First;
    Completion<Reception> Final; // motions with a pending first answer
    std::atomic_bool Sent{false};
    std::atomic_bool Abandoned{false};
    SteadyClock::time_point SentAt{};
    // Link thread only.
    SteadyClock::time_point AnswerBy{};
};

// One frame seen on the link, for the packet observers.
struct Seen {
    bool Received = false;
    uint8_t Command = 0;
    TByteArray Payload;
    uint8_t Faults = 0; // krm::Packet's fault bits
    Clock::time_point Time{};
};

class Engine {
public:
    // How long a request waits for its answer once sent.
    static constexpr std::chrono::milliseconds AnswerTime{3000};

    explicit Engine(TLinkThread& link);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Link thread: makes the dispatcher, opens the device.
    TStat Connect(const TConnectionParams& params);
    // Link thread: ends every waiting request with `how`.
    void EndAll(Reply how, const std::string& cause);
    // Link thread: ends every waiting request with `how`, closes the link.
    void Disconnect(Reply how, const std::string& cause);
    // Link thread: closes the link and frees the dispatcher.
    void Release();
    bool Connected() const { return FConnected.load(); }

    // Any thread: queues a request (the stop lane goes first). With
    // `serveUntil`, a request that finds the engine idle on a line the caller
    // may use itself is sent by the caller, who then reads until its first
    // answer came or `serveUntil` passed; the link thread takes over from there.
    std::shared_ptr<Exchange> Submit(uint8_t command, TByteArray payload, bool motion,
        std::optional<SteadyClock::time_point> serveUntil = std::nullopt);
    // Any thread: the caller no longer waits. Not sent yet: never sent. Sent:
    // the link goes on with the next request; a motion stays known, so its
    // later answers are taken as its own.
    void Abandon(const std::shared_ptr<Exchange>& exchange);

    // Link thread: motions started and not ended.
    bool MotionUnderWay() const;
    // Answers that came while no request waited for them.
    std::uint64_t StrayCount() const { return FStray.load(); }

    // Link thread events.
    std::function<void()> OnConnected;
    std::function<void(const std::string& cause)> OnLinkLost;
    // A report the gripper sent by itself: its command byte and value bytes.
    std::function<void(uint8_t command, const TByteArray& value, Clock::time_point time)> OnReport;
    // Every frame on the link, sent and received, with faulty ones; only
    // looked for while set (SetObserving).
    std::function<void(const Seen& seen)> OnSeen;
    // The first stray answer, once per session.
    std::function<void(uint8_t command)> OnFirstStray;
    // Any thread: whether OnSeen is fed (faulty frames are looked for only then).
    void SetObserving(bool observing);

private:
    // Sends `exchange` and reads its answer on the caller's thread, when the
    // link allows it and nothing else waits; false when it went nowhere.
    bool ServeDirect(const std::shared_ptr<Exchange>& exchange, SteadyClock::time_point until);
    bool Idle() const;
    // Link thread: the assembler's fault events as FObserving says.
    void WatchFaults();
    void Start(const std::shared_ptr<Exchange>& exchange);
    void Pump();
    bool Write(const std::shared_ptr<Exchange>& exchange);
    void PacketsArrived();
    void Route(const TPacket& packet);
    bool TakeFirst(std::deque<std::shared_ptr<Exchange>>& list, uint8_t command, const Reception& answer);
    void Expire();
    void Tick();
    void Observe(bool received, uint8_t command, const TByteArray& payload, uint8_t faults);

    TLinkThread& FLink;
    // Held by a caller's own exchange, and by the link thread while it makes,
    // closes or frees the link: the link stays as it is during the exchange.
    std::mutex FGate;
    // Guards the requests' state below, and the writes to the link.
    mutable std::recursive_mutex FState;
    std::thread::id FLinkThread;
    TCommand* FCommand = nullptr;
    QTimer* FClock = nullptr;
    bool FClockOn = false; // guarded by FState
    std::atomic_bool FConnected{false};
    std::atomic_bool FObserving{false};
    std::atomic<std::uint64_t> FStray{0};

    // Guarded by FState.
    std::deque<std::shared_ptr<Exchange>> FQueue;   // waiting for the link
    std::shared_ptr<Exchange> FCurrent;             // sent, waiting for its first answer
    std::deque<std::shared_ptr<Exchange>> FStops;   // stop lane, sent
    std::deque<std::shared_ptr<Exchange>> FGhosts;  // given up on after sending
    std::deque<std::shared_ptr<Exchange>> FRunning; // motions waiting for their final answer
};

} // namespace krm::detail
