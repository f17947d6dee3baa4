// krm::Subscription, krm::ReportQueue and krm::PacketQueue: a Gripper's
// report handlers and queues, ended by their owners' end.
#include "QueueState.h"

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

ReportQueue::ReportQueue() noexcept = default;
ReportQueue::ReportQueue(std::shared_ptr<State> state) : state_(std::move(state)) {}
ReportQueue::ReportQueue(ReportQueue&&) noexcept = default;
ReportQueue& ReportQueue::operator=(ReportQueue&&) noexcept = default;
ReportQueue::~ReportQueue() = default;

std::optional<Report> ReportQueue::next(Timeout timeout)
{
    if (!state_)
        throw ConnectionError("reports: this ReportQueue takes no reports: it was made empty or moved from", "not open");
    return state_->Next(timeout);
}

std::uint64_t ReportQueue::dropped() const { return state_ ? state_->Dropped() : 0; }
std::size_t ReportQueue::size() const { return state_ ? state_->Size() : 0; }

void ReportQueue::close()
{
    if (state_)
        state_->Close();
}

PacketQueue::PacketQueue() noexcept = default;
PacketQueue::PacketQueue(std::shared_ptr<State> state) : state_(std::move(state)) {}
PacketQueue::PacketQueue(PacketQueue&&) noexcept = default;
PacketQueue& PacketQueue::operator=(PacketQueue&&) noexcept = default;
PacketQueue::~PacketQueue() = default;

std::optional<Packet> PacketQueue::next(Timeout timeout)
{
    if (!state_)
        throw ConnectionError("packets: this PacketQueue takes no frames: it was made empty or moved from", "not open");
    return state_->Next(timeout);
}

std::uint64_t PacketQueue::dropped() const { return state_ ? state_->Dropped() : 0; }
std::size_t PacketQueue::size() const { return state_ ? state_->Size() : 0; }

void PacketQueue::close()
{
    if (state_)
        state_->Close();
}

} // namespace krm
