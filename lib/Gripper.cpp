// Placeholder bodies: the interface builds and links while the session is
// being written. Every call throws.
#include <krm/krm.hpp>

namespace krm {

namespace detail {
class Session {};
struct MotionState {};
} // namespace detail

namespace {
[[noreturn]] void NotYet() { throw Error("not implemented yet"); }
} // namespace

Motion::Motion(std::shared_ptr<detail::Session> session, std::shared_ptr<detail::MotionState> state)
    : session_(std::move(session)), state_(std::move(state)) {}
Motion::Motion(Motion&&) noexcept = default;
Motion& Motion::operator=(Motion&&) noexcept = default;
Motion::~Motion() = default;
MotionKind Motion::kind() const { NotYet(); }
bool Motion::done() const { NotYet(); }
MotionResult Motion::wait(Timeout) { NotYet(); }
std::optional<MotionResult> Motion::wait_for(std::chrono::milliseconds) { NotYet(); }
void Motion::cancel(Timeout) { NotYet(); }

Gripper Gripper::open(const std::string&, Timeout) { NotYet(); }
Gripper::Gripper(std::shared_ptr<detail::Session> session) : session_(std::move(session)) {}
Gripper::Gripper(Gripper&&) noexcept = default;
Gripper& Gripper::operator=(Gripper&&) noexcept = default;
Gripper::~Gripper() = default;
void Gripper::close() { NotYet(); }
bool Gripper::is_open() const { NotYet(); }
std::string Gripper::connection() const { NotYet(); }
Info Gripper::info(Timeout) { NotYet(); }
Limits Gripper::limits(Timeout) { NotYet(); }
State Gripper::state(Timeout) { NotYet(); }
Stats Gripper::stats(bool, Timeout) { NotYet(); }
MotionResult Gripper::home(Timeout) { NotYet(); }
MotionResult Gripper::move(double, double, Timeout) { NotYet(); }
MotionResult Gripper::grasp(double, double, Timeout) { NotYet(); }
MotionResult Gripper::release(double, double, Timeout) { NotYet(); }
Motion Gripper::start_home(Timeout) { NotYet(); }
Motion Gripper::start_move(double, double, Timeout) { NotYet(); }
Motion Gripper::start_grasp(double, double, Timeout) { NotYet(); }
Motion Gripper::start_release(double, double, Timeout) { NotYet(); }
void Gripper::stop(Timeout) { NotYet(); }
void Gripper::fast_stop(Timeout) { NotYet(); }
void Gripper::acknowledge(Timeout) { NotYet(); }
void Gripper::set_acceleration(double, Timeout) { NotYet(); }
double Gripper::acceleration(Timeout) { NotYet(); }
void Gripper::set_force_limit(double, Timeout) { NotYet(); }
double Gripper::force_limit(Timeout) { NotYet(); }
std::vector<std::uint8_t> Gripper::raw(std::uint8_t, const std::vector<std::uint8_t>&, Timeout) { NotYet(); }
std::uint64_t Gripper::on_report(ReportHandler) { NotYet(); }
void Gripper::remove_report_handler(std::uint64_t) { NotYet(); }
State Gripper::last_state() const { NotYet(); }
void Gripper::set_interrupt_check(std::function<bool()>) { NotYet(); }
void Gripper::set_motion_timeout(std::chrono::milliseconds) { NotYet(); }
std::chrono::milliseconds Gripper::motion_timeout() const { NotYet(); }
detail::Session& Gripper::session() const { NotYet(); }

} // namespace krm
