#pragma once
// What a krm::ReportQueue or krm::PacketQueue holds: its inbox, filled by
// the session, and the way to end its subscription, which its end ends.
#include "Inbox.h"
#include "Session.h"

#include <krm/krm.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace krm::detail {

template <class T> class QueueState {
public:
    // `what` names the queue's call in errors ("reports", "packets").
    QueueState(const std::shared_ptr<Session>& owner, Inboxes<T>& inboxes, std::string what)
        : FSession(owner), FWhat(std::move(what))
    {
        const std::uint64_t id = inboxes.Add(FInbox);
        FUnsubscribe = [session = FSession, &inboxes, id] {
            // The inboxes live as long as their session.
            if (const auto held = session.lock())
                inboxes.Remove(id);
        };
    }
    ~QueueState() { Close(); }
    QueueState(const QueueState&) = delete;
    QueueState& operator=(const QueueState&) = delete;

    std::optional<T> Next(Timeout timeout)
    {
        const auto deadline = After(timeout.value_or(forever));
        for (;;) {
            // Looked at between slices: the session may end or the interrupt
            // check ask the wait to end.
            const auto session = FSession.lock();
            {
                std::unique_lock lock(FInbox->mutex);
                // A program that looks without waiting (next(0ms)) makes no
                // system call: a wait, even for a time already past, does.
                const auto now = SteadyClock::now();
                const auto until = std::min(deadline, now + WaitSlice);
                const auto arrived = [&] { return !FInbox->items.empty(); };
                if (arrived() || (until > now && FInbox->arrived.wait_until(lock, until, arrived))) {
                    T item = std::move(FInbox->items.front());
                    FInbox->items.pop_front();
                    return item;
                }
            }
            if (FClosed)
                return std::nullopt;
            if (!session || !session->IsOpen())
                throw ConnectionError(FWhat + ": the gripper is closed or its link is down", "closed");
            if (SteadyClock::now() >= deadline)
                return std::nullopt;
            if (const auto interrupted = session->InterruptCheck(); interrupted && interrupted())
                throw InterruptedError(FWhat + ": interrupted");
        }
    }
    std::uint64_t Dropped() const
    {
        std::lock_guard lock(FInbox->mutex);
        return FInbox->dropped;
    }
    std::size_t Size() const
    {
        std::lock_guard lock(FInbox->mutex);
        return FInbox->items.size();
    }
    void Close()
    {
        if (FClosed.exchange(true))
            return;
        FUnsubscribe();
    }

private:
    std::weak_ptr<Session> FSession;
    std::string FWhat;
    std::shared_ptr<Inbox<T>> FInbox = std::make_shared<Inbox<T>>();
    std::function<void()> FUnsubscribe;
    std::atomic_bool FClosed{false};
};

} // namespace krm::detail

namespace krm {

struct ReportQueue::State : detail::QueueState<Report> {
    using QueueState::QueueState;
};

struct PacketQueue::State : detail::QueueState<Packet> {
    using QueueState::QueueState;
};

} // namespace krm
