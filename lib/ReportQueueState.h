#pragma once
// What a krm::ReportQueue holds: the reports its subscription put in and the
// subscription itself. The handler holds only the inbox, so the queue's end
// ends the subscription.
#include "Session.h"

#include <krm/krm.hpp>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace krm {

struct ReportQueue::State {
    // Filled on the handlers' thread, emptied by next().
    struct Inbox {
        static constexpr std::size_t Capacity = 10000;
        mutable std::mutex mutex;
        std::condition_variable arrived;
        std::deque<Report> reports;
        std::uint64_t dropped = 0;

        void Put(const Report& report);
    };

    explicit State(const std::shared_ptr<detail::Session>& owner) : session(owner) {}

    std::weak_ptr<detail::Session> session;
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    Subscription subscription;
    std::atomic_bool closed{false};
};

} // namespace krm
