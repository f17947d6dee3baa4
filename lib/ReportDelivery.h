#pragma once
// Hands a session's reports to its report handlers on a thread of their own,
// one report at a time, in the order they came. The link thread only queues
// them, so a handler never runs inside the link's packet handling: its calls
// to the Gripper are ordinary requests, and reports that arrive meanwhile
// wait for it to return instead of calling it again, nested.
#include <krm/krm.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace krm::detail {

class ReportDelivery {
public:
    // Reports kept for handlers that fall behind; older ones are dropped.
    static constexpr std::size_t Capacity = 10000;

    ReportDelivery() = default;
    // Stops (see Stop).
    ~ReportDelivery();
    ReportDelivery(const ReportDelivery&) = delete;
    ReportDelivery& operator=(const ReportDelivery&) = delete;

    // The delivery thread starts with the first handler.
    std::uint64_t Add(Gripper::ReportHandler handler);
    // Once this returns, the handler runs no more (a call under way has
    // ended), unless it is called from a handler.
    void Remove(std::uint64_t id);
    bool HasHandlers() const;
    // Queues `report` for the handlers.
    void Deliver(const Report& report);
    // No handler runs after this; queued reports are dropped. Waits for a
    // call under way unless called from a handler (the thread then ends
    // when that handler returns).
    void Stop();

private:
    // What the delivery thread uses: it lives as long as the thread, which
    // may outlast this object when a handler destroyed its own session.
    struct Shared {
        mutable std::mutex mutex; // guards the members below but `calls`
        std::condition_variable changed;
        std::deque<Report> reports;
        std::map<std::uint64_t, Gripper::ReportHandler> handlers;
        std::uint64_t nextId = 1;
        bool stopping = false;
        std::thread::id thread;
        // Held while handlers run.
        std::mutex calls;
    };
    static void Run(const std::shared_ptr<Shared>& shared);
    bool OnDeliveryThread() const;

    std::shared_ptr<Shared> FShared = std::make_shared<Shared>();
    std::thread FThread;
};

} // namespace krm::detail
