#pragma once
// Hands a session's events (reports, packets) to their handlers on a thread
// of their own, one event at a time, in the order they came. The link thread only queues
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
#include <utility>
#include <vector>

namespace krm::detail {

template <class Event> class Delivery {
public:
    using Handler = std::function<void(const Event&)>;

    // Events kept for handlers that fall behind; older ones are dropped.
    static constexpr std::size_t Capacity = 10000;

    Delivery() = default;
    // Stops (see Stop).
    ~Delivery();
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    // The delivery thread starts with the first handler.
    std::uint64_t Add(Handler handler);
    // Once this returns, the handler runs no more (a call under way has
    // ended), unless it is called from a handler.
    void Remove(std::uint64_t id);
    bool HasHandlers() const;
    // Queues `report` for the handlers.
    void Deliver(const Event& event);
    // No handler runs after this; queued events are dropped, or with
    // `drain` handed out first. Waits for a call under way unless called
    // from a handler (the thread then ends when that handler returns).
    void Stop(bool drain = false);

private:
    // What the delivery thread uses: it lives as long as the thread, which
    // may outlast this object when a handler destroyed its own session.
    struct Shared {
        mutable std::mutex mutex; // guards the members below but `calls`
        std::condition_variable changed;
        std::deque<Event> events;
        std::map<std::uint64_t, Handler> handlers;
        // The handlers as a round calls them, made anew when they change: a
        // round takes it without copying a handler.
        std::shared_ptr<const std::vector<Handler>> round;
        std::uint64_t nextId = 1;
        bool stopping = false;
        bool draining = false;
        std::thread::id thread;
        // Held while handlers run.
        std::mutex calls;
    };
    static void Run(const std::shared_ptr<Shared>& shared);
    // Under the lock, after the handlers changed. Returns the round before,
    // to be dropped once the lock is released (see Run).
    std::shared_ptr<const std::vector<Handler>> NewRound();
    bool OnDeliveryThread() const;

    std::shared_ptr<Shared> FShared = std::make_shared<Shared>();
    std::thread FThread;
};

template <class Event> Delivery<Event>::~Delivery()
{
    Stop();
    // A handler that destroyed its own session: its thread ends by itself.
    if (FThread.joinable())
        FThread.detach();
}

template <class Event> std::uint64_t Delivery<Event>::Add(Handler handler)
{
    std::shared_ptr<const std::vector<Handler>> previous;
    std::lock_guard lock(FShared->mutex);
    const std::uint64_t id = FShared->nextId++;
    if (!handler)
        return id;
    FShared->handlers.emplace(id, std::move(handler));
    previous = NewRound();
    if (!FThread.joinable() && !FShared->stopping) {
        FThread = std::thread([shared = FShared] { Run(shared); });
        FShared->thread = FThread.get_id();
    }
    return id;
}

template <class Event> void Delivery<Event>::Remove(std::uint64_t id)
{
    Handler removed;
    std::shared_ptr<const std::vector<Handler>> previous;
    {
        std::lock_guard lock(FShared->mutex);
        const auto found = FShared->handlers.find(id);
        if (found == FShared->handlers.end())
            return;
        removed = std::move(found->second);
        FShared->handlers.erase(found);
        previous = NewRound();
    }
    if (!OnDeliveryThread())
        std::lock_guard calls(FShared->calls);
}

template <class Event> bool Delivery<Event>::HasHandlers() const
{
    std::lock_guard lock(FShared->mutex);
    return !FShared->handlers.empty() && !FShared->stopping;
}

template <class Event> auto Delivery<Event>::NewRound() -> std::shared_ptr<const std::vector<Handler>>
{
    auto round = std::make_shared<std::vector<Handler>>();
    round->reserve(FShared->handlers.size());
    for (const auto& [id, handler] : FShared->handlers)
        round->push_back(handler);
    return std::exchange(FShared->round, std::move(round));
}

template <class Event> void Delivery<Event>::Deliver(const Event& event)
{
    {
        std::lock_guard lock(FShared->mutex);
        if (FShared->handlers.empty() || FShared->stopping)
            return;
        if (FShared->events.size() == Capacity)
            FShared->events.pop_front();
        FShared->events.push_back(event);
    }
    // After the lock is released: a thread woken while it is still held
    // would only wait for it, and be woken a second time.
    FShared->changed.notify_one();
}

template <class Event> void Delivery<Event>::Stop(bool drain)
{
    {
        std::lock_guard lock(FShared->mutex);
        FShared->stopping = true;
        // Handed out first only where a thread will do it now.
        FShared->draining = drain && FThread.joinable() && FShared->thread != std::this_thread::get_id();
        if (!FShared->draining)
            FShared->events.clear();
    }
    FShared->changed.notify_one();
    if (FThread.joinable() && !OnDeliveryThread())
        FThread.join();
}

template <class Event> bool Delivery<Event>::OnDeliveryThread() const
{
    std::lock_guard lock(FShared->mutex);
    return FShared->thread == std::this_thread::get_id();
}

template <class Event> void Delivery<Event>::Run(const std::shared_ptr<Shared>& shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->stopping || !shared->events.empty(); });
        if (shared->stopping && !(shared->draining && !shared->events.empty()))
            return;
        const Event event = std::move(shared->events.front());
        shared->events.pop_front();
        std::shared_ptr<const std::vector<Handler>> handlers = shared->round;
        // Taken before the list is released, so that Remove either finds the
        // handler gone from this round or waits for the round to end.
        std::unique_lock calls(shared->calls);
        lock.unlock();
        for (const auto& handler : *handlers) {
            try {
                handler(event);
            } catch (...) {
                // A handler's error must not end the delivery of events.
            }
        }
        calls.unlock();
        // The round goes before the list is locked again: it may hold the
        // last copy of a removed handler, and dropping that may take other
        // locks (a Python callable takes the GIL).
        handlers.reset();
        lock.lock();
    }
}

} // namespace krm::detail
