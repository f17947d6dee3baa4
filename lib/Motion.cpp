// krm::Motion: watches one motion of a session.
#include "Session.h"

#include <krm/krm.hpp>

namespace krm {

Motion::Motion(std::shared_ptr<detail::Session> session, std::shared_ptr<detail::MotionState> state)
    : session_(std::move(session)), state_(std::move(state))
{
}
Motion::Motion(Motion&&) noexcept = default;
Motion& Motion::operator=(Motion&&) noexcept = default;
Motion::~Motion() = default;

namespace {
detail::MotionState& Watched(const std::shared_ptr<detail::MotionState>& state)
{
    if (!state)
        throw Error("this Motion was moved from");
    return *state;
}
} // namespace

MotionKind Motion::kind() const { return Watched(state_).Kind; }
bool Motion::done() const { return session_->MotionDone(Watched(state_)); }
MotionResult Motion::wait(Timeout timeout) { return session_->WaitMotion(Watched(state_), timeout); }
std::optional<MotionResult> Motion::wait_for(std::chrono::milliseconds timeout)
{
    return session_->WaitMotionFor(Watched(state_), timeout);
}
void Motion::cancel(Timeout timeout) { session_->CancelMotion(Watched(state_), timeout); }

} // namespace krm
