// krm::Subscription and krm::ReportQueue: a Gripper's report handlers, ended
// by their owners' end.
#include "ReportQueueState.h"

#include <krm/krm.hpp>

namespace krm {

Subscription::Subscription() noexcept = default;
Subscription::Subscription(std::weak_ptr<detail::Session> session, std::uint64_t id)
    : session_(std::move(session)), id_(id)
{
}
Subscription::Subscription(Subscription&& other) noexcept
    : session_(std::move(other.session_)), id_(std::exchange(other.id_, 0))
{
}

Subscription& Subscription::operator=(Subscription&& other) noexcept
{
    if (this != &other) {
        reset();
        session_ = std::move(other.session_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

Subscription::~Subscription() { reset(); }

void Subscription::reset()
{
    const auto session = session_.lock();
    session_.reset();
    if (session && id_ != 0)
        session->RemoveReportHandler(id_);
    id_ = 0;
}

void Subscription::release() noexcept
{
    session_.reset();
    id_ = 0;
}

bool Subscription::active() const { return id_ != 0 && !session_.expired(); }

void ReportQueue::State::Inbox::Put(const Report& report)
{
    {
        std::lock_guard lock(mutex);
        if (reports.size() == Capacity) {
            reports.pop_front();
            ++dropped;
        }
        reports.push_back(report);
    }
    arrived.notify_one();
}

ReportQueue::ReportQueue() noexcept = default;
ReportQueue::ReportQueue(std::shared_ptr<State> state) : state_(std::move(state)) {}
ReportQueue::ReportQueue(ReportQueue&&) noexcept = default;
ReportQueue& ReportQueue::operator=(ReportQueue&&) noexcept = default;
ReportQueue::~ReportQueue() = default;

std::optional<Report> ReportQueue::next(Timeout timeout)
{
    if (!state_)
        throw ConnectionError("reports: this ReportQueue takes no reports: it was made empty or moved from", "not open");
    const auto deadline = detail::After(timeout.value_or(forever));
    auto& inbox = *state_->inbox;
    for (;;) {
        // Looked at between slices: the session may end or the interrupt
        // check ask the wait to end.
        const auto session = state_->session.lock();
        {
            std::unique_lock lock(inbox.mutex);
            const auto until = std::min(deadline, detail::SteadyClock::now() + detail::WaitSlice);
            if (inbox.arrived.wait_until(lock, until, [&] { return !inbox.reports.empty(); })) {
                Report report = inbox.reports.front();
                inbox.reports.pop_front();
                return report;
            }
        }
        if (state_->closed)
            return std::nullopt;
        if (!session || !session->IsOpen())
            throw ConnectionError("reports: the gripper is closed or its link is down", "closed");
        if (detail::SteadyClock::now() >= deadline)
            return std::nullopt;
        if (const auto interrupted = session->InterruptCheck(); interrupted && interrupted())
            throw InterruptedError("reports: interrupted");
    }
}

std::uint64_t ReportQueue::dropped() const
{
    if (!state_)
        return 0;
    std::lock_guard lock(state_->inbox->mutex);
    return state_->inbox->dropped;
}

std::size_t ReportQueue::size() const
{
    if (!state_)
        return 0;
    std::lock_guard lock(state_->inbox->mutex);
    return state_->inbox->reports.size();
}

void ReportQueue::close()
{
    if (!state_)
        return;
    state_->closed = true;
    state_->subscription.reset();
}

} // namespace krm
