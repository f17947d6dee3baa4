#pragma once
// krm: one gripper session from C++.
//
//   krm::Gripper g = krm::Gripper::open("tcp:127.0.0.1:1000");
//   g.home();
//   krm::MotionResult r = g.grasp(20.0, 50.0);
//
// The library runs the link to the gripper on a thread of its own for each
// Gripper; the caller needs no event loop. A Gripper may be used from any
// thread: its requests go to the gripper one after the other. Units: mm,
// mm/s, mm/s², N; durations in seconds where they are results.
//
// Every blocking call takes an optional timeout, any std::chrono duration
// (`g.home(2.5s)`); krm::forever waits without limit. Left out, a request
// waits for the link's answer time (3 s) and a motion for the motion timeout
// (60 s unless set_motion_timeout changed it).
//
// Errors are exceptions derived from krm::Error.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The library's version at build time; krm::version() tells the version
// a program runs with.
#define KRM_VERSION_MAJOR 1
#define KRM_VERSION_MINOR 0
#define KRM_VERSION_PATCH 0

// Marks what the library exports. Visible also where a program or library
// builds against it with hidden visibility (-fvisibility=hidden): the
// exceptions' type information must be one across the library and its
// users, or a catch of krm::Error misses what the library throws.
#define KRM_API __attribute__((visibility("default")))

namespace krm {

// The library's version, as "1.0.0".
KRM_API std::string version();

// Qt's keyword macro `forever` (for (;;)) would hide krm::forever: it is
// replaced by one that stands for itself, which also keeps Qt headers
// included later from defining it. Qt code writes Q_FOREVER instead.
#ifdef forever
#undef forever
#endif
#define forever forever

// A wait without limit. Any duration of that length or more counts as
// forever, so no huge duration overflows (milliseconds::max(),
// hours::max(), a double's infinity).
inline constexpr std::chrono::milliseconds forever = std::chrono::milliseconds::max();

// `duration` in whole milliseconds, rounded up: forever at or beyond
// forever, none for a negative one (the wait has run out already).
// std::invalid_argument for NaN.
template <class Rep, class Period>
constexpr std::chrono::milliseconds to_milliseconds(std::chrono::duration<Rep, Period> duration)
{
    // Compared as a double: no integer duration overflows on the way.
    const double ms = std::chrono::duration<double, std::milli>(duration).count();
    if (std::isnan(ms))
        throw std::invalid_argument("krm: a timeout is NaN");
    if (ms >= static_cast<double>(forever.count()))
        return forever;
    if (ms <= 0)
        return std::chrono::milliseconds(0);
    return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(std::ceil(ms)));
}

// The limit for the wait of a blocking call: any std::chrono duration
// (rounded up to milliseconds, see to_milliseconds), krm::forever, or
// empty (`{}`, std::nullopt) for the call's default. Every call takes its
// limit through this one type.
class Timeout {
public:
    constexpr Timeout() noexcept = default;
    constexpr Timeout(std::nullopt_t) noexcept {}
    template <class Rep, class Period>
    constexpr Timeout(std::chrono::duration<Rep, Period> duration) : limit_(to_milliseconds(duration))
    {
    }
    constexpr Timeout(std::optional<std::chrono::milliseconds> limit) noexcept : limit_(limit) {}

    constexpr bool has_value() const noexcept { return limit_.has_value(); }
    // The limit; std::bad_optional_access when empty.
    constexpr std::chrono::milliseconds value() const { return limit_.value(); }
    constexpr std::chrono::milliseconds value_or(std::chrono::milliseconds otherwise) const noexcept
    {
        return limit_.value_or(otherwise);
    }
    constexpr bool is_forever() const noexcept { return limit_ == forever; }

private:
    std::optional<std::chrono::milliseconds> limit_;
};
// Receive times are wall-clock times.
using Clock = std::chrono::system_clock;

// The status code of the gripper's answers (one byte on the wire).
enum class Status : std::uint8_t {
    success = 0,
    not_available = 1,
    no_sensor = 2,
    not_initialized = 3,
    already_running = 4,
    feature_not_supported = 5,
    inconsistent_data = 6,
    timeout = 7,
    read_error = 8,
    write_error = 9,
    insufficient_resources = 10,
    checksum_error = 11,
    no_param_expected = 12,
    not_enough_params = 13,
    cmd_unknown = 14,
    cmd_format_error = 15,
    access_denied = 16,
    already_open = 17,
    cmd_failed = 18,
    cmd_aborted = 19,
    invalid_handle = 20,
    not_found = 21,
    not_opened = 22,
    io_error = 23,
    invalid_parameter = 24,
    index_out_of_bounds = 25,
    cmd_pending = 26,
    overrun = 27,
    range_error = 28,
    axis_blocked = 29,
    already_closed = 30,
    file_exists = 31,
};
// The protocol's name of a code ("E_ACCESS_DENIED") and its text ("Access
// denied"); codes without a name give "E_UNKNOWN_<code>".
KRM_API std::string status_name(Status status);
KRM_API std::string status_text(Status status);

// What the gripper reports about grasping.
enum class GraspingState : std::uint8_t {
    idle = 0,
    grasping = 1,
    no_part = 2,
    part_lost = 3,
    holding = 4,
    releasing = 5,
};
// "idle", "grasping", "no part", "part lost", "holding", "releasing";
// "unknown (<n>)" for other values.
KRM_API std::string grasping_state_text(GraspingState state);

// Bits of the system-state word.
namespace flags {
inline constexpr std::uint32_t referenced = 0x1;
inline constexpr std::uint32_t moving = 0x2;
inline constexpr std::uint32_t blocked_minus = 0x4;
inline constexpr std::uint32_t blocked_plus = 0x8;
inline constexpr std::uint32_t soft_limit_minus = 0x10;
inline constexpr std::uint32_t soft_limit_plus = 0x20;
inline constexpr std::uint32_t axis_stopped = 0x40;
inline constexpr std::uint32_t target_pos_reached = 0x80;
inline constexpr std::uint32_t overdrive_mode = 0x100;
inline constexpr std::uint32_t fast_stop = 0x1000;
inline constexpr std::uint32_t temperature_warning = 0x2000;
inline constexpr std::uint32_t temperature_fault = 0x4000;
inline constexpr std::uint32_t power_fault = 0x8000;
inline constexpr std::uint32_t current_fault = 0x10000;
inline constexpr std::uint32_t finger_fault = 0x20000;
inline constexpr std::uint32_t command_failure = 0x40000;
inline constexpr std::uint32_t script_running = 0x80000;
inline constexpr std::uint32_t script_failure = 0x100000;
} // namespace flags
// The texts of the set flags in bit order ("Referenced", "Fast stop", ...).
KRM_API std::vector<std::string> flag_texts(std::uint32_t state_flags);

// System information (GET_SYSINFO).
struct Info {
    int gripper_type = 0;
    int hardware_revision = 0;
    int firmware_revision = 0;
    std::uint32_t serial_number = 0;
};

// System limits (GET_SYSTEM_LIMITS). Positions and widths run from 0 to
// the stroke.
struct Limits {
    double stroke = 0;
    double min_speed = 0;
    double max_speed = 0;
    double min_acceleration = 0;
    double max_acceleration = 0;
    double min_force = 0;
    double max_force = 0;
    double extra = 0; // the answer's eighth value, passed on as read
};

// Grasping statistics (GET_GRASPING_STATS).
struct Stats {
    std::uint32_t grasps = 0;
    std::uint32_t not_found = 0;
    std::uint32_t lost = 0;
};

// The gripper's state: system-state flags, grasping state, finger position,
// speed and grasping force, each with the time it was received (the epoch,
// Clock::time_point{}, for a value not received yet).
struct State {
    std::uint32_t flags = 0;
    GraspingState grasping_state = GraspingState::idle;
    double position = 0;
    double speed = 0;
    double force = 0;
    Clock::time_point flags_time{};
    Clock::time_point grasping_state_time{};
    Clock::time_point position_time{};
    Clock::time_point speed_time{};
    Clock::time_point force_time{};

    bool has(std::uint32_t flag) const { return (flags & flag) != 0; }
};

// One report the gripper sent by itself: `kind` names the value it brought,
// the other values are the latest received before it.
struct Report {
    enum class Kind : std::uint8_t { flags, grasping_state, position, speed, force };
    Kind kind = Kind::flags;
    Clock::time_point time{};
    std::uint32_t flags = 0;
    GraspingState grasping_state = GraspingState::idle;
    double position = 0;
    double speed = 0;
    double force = 0;
};

// One frame on the link, as the packet observers see it (Gripper::on_packet).
// A sent frame is seen once the link took it; a received one as it came,
// also when its checksum was wrong or its bytes formed no frame at all.
struct Packet {
    enum class Direction : std::uint8_t { sent, received };
    // Fault bits.
    static constexpr std::uint8_t checksum = 0x1;    // a whole frame with a wrong checksum
    static constexpr std::uint8_t stray_bytes = 0x2; // bytes that belonged to no frame (payload: the bytes)
    Direction direction = Direction::sent;
    std::uint8_t command = 0;
    std::vector<std::uint8_t> payload; // an answer's payload starts with its status word
    Clock::time_point time{};
    std::uint8_t faults = 0;

    bool ok() const { return faults == 0; }
};

// The answer to Gripper::request: the gripper's status and result bytes. For
// a command answered "pending" first, `pending` is true and the rest is the
// final answer's.
struct Answer {
    Status status = Status::success;
    bool pending = false;
    std::vector<std::uint8_t> data;
    std::chrono::duration<double> duration{}; // from sending to the (final) answer

    bool ok() const { return status == Status::success; }
};

// Notices of a session: connected, link lost, STOP sent because a motion
// was given up on, the first stray answer. Called on the thread where it
// happened (often the link thread): the handler must not call the Gripper.
enum class Notice : std::uint8_t { info, warning };
using NoticeHandler = std::function<void(Notice level, const std::string& text)>;

// A session that keeps its link (Options::reconnect set): after a
// lost link its calls throw ConnectionError at once while it connects again
// in the background, waiting `first_delay` before the first attempt and
// twice as long after each failed one, up to `longest_delay`. Once
// connected it reads the limits again and switches on the reports it had,
// then the link is up. A motion that the loss ended stays ended: nothing is
// sent again by itself.
struct Reconnect {
    std::chrono::milliseconds first_delay{200};
    std::chrono::milliseconds longest_delay{5000};
};

// How a session is opened.
struct Options {
    // The wait for the link and the first answers (default 10 s).
    Timeout timeout;
    // Installed as by Gripper::set_interrupt_check before the wait begins.
    std::function<bool()> interrupt_check;
    // The reports the gripper is asked to send by itself, each only when its
    // value changed, at most every `report_period` (at least 10 ms). Empty:
    // none. close() switches them off again.
    std::vector<Report::Kind> reports{Report::Kind::flags, Report::Kind::grasping_state, Report::Kind::position,
        Report::Kind::speed, Report::Kind::force};
    std::chrono::milliseconds report_period{50};
    // Without one, the warning about stray answers goes to standard error.
    NoticeHandler notice;
    // Read the system limits at open (values are checked against them; left
    // out, the first call that needs them reads them).
    bool read_limits = true;
    // Set: the session keeps its link as the policy says; empty: a lost
    // link ends the session.
    std::optional<Reconnect> reconnect;
};

// The state of a session's link, as Gripper::link_state and the link
// handler tell it.
enum class LinkState : std::uint8_t {
    up,     // connected
    down,   // lost; a session with a Reconnect policy is trying again
    closed, // closed by the program (or never opened)
};
// Called when the link goes down or comes up again, with the cause in
// words; on a thread of the library: the handler must not call the Gripper.
using LinkHandler = std::function<void(LinkState state, const std::string& text)>;

enum class MotionKind : std::uint8_t { home, move, grasp, release, raw };
// "home", "move", "grasp", "release", "raw".
KRM_API std::string motion_name(MotionKind kind);

// How a motion ended. The final status is the gripper's: success, or for
// example cmd_aborted (stopped or replaced), axis_blocked, cmd_failed (a
// grasp that found no part). `duration` runs from sending the command to
// its final answer; `position` is the finger position then (the width for
// grasp and release), read from the gripper after the final answer.
struct MotionResult {
    MotionKind kind = MotionKind::home;
    Status status = Status::success;
    std::chrono::duration<double> duration{};
    double position = 0;
    std::vector<std::uint8_t> data; // result bytes of the final answer

    bool ok() const { return status == Status::success; }
};

// The base of every error of this library.
class KRM_API Error : public std::runtime_error {
public:
    explicit Error(const std::string& message);
    ~Error() override;
};

// The gripper answered a request with another status than success.
// what(): "<command>: <text> (<name>)", then "; <advice>" if there is some.
class KRM_API StatusError : public Error {
public:
    StatusError(std::string command, Status code, std::string advice);
    ~StatusError() override;
    const std::string& command() const { return command_; }
    Status code() const { return code_; }
    std::string name() const { return status_name(code_); }
    std::string text() const { return status_text(code_); }
    // What to do next where the cause is known ("acknowledge the fast stop
    // first"); empty otherwise.
    const std::string& advice() const { return advice_; }

private:
    std::string command_;
    Status code_;
    std::string advice_;
};

// The connection could not be made, was lost, or the Gripper is closed; also
// a malformed connection string. cause() is the transport's description.
class KRM_API ConnectionError : public Error {
public:
    ConnectionError(const std::string& message, std::string cause);
    ~ConnectionError() override;
    const std::string& cause() const { return cause_; }

private:
    std::string cause_;
};

// A malformed connection string; what() names the wrong part. It is a
// ConnectionError too, but trying again cannot help: a retry loop should
// let it through.
class KRM_API ConnectionStringError : public ConnectionError {
public:
    ConnectionStringError(const std::string& message, std::string cause);
    ~ConnectionStringError() override;
};

// What became of the STOP sent to a motion that was given up on.
struct StopOutcome {
    enum class Kind : std::uint8_t {
        answered,    // the gripper answered success
        refused,     // the gripper answered `status`
        unanswered,  // no answer within its time
        not_awaited, // a further interrupt ended the wait for it
        not_sent,    // the link did not take it, or is down
    };
    Kind kind = Kind::answered;
    Status status = Status::success;
};

// An answer or a motion's end did not come within the timeout. A motion that
// timed out, or whose first answer never came, has been sent STOP; the
// message says whether STOP was answered, refused (with which status) or
// got no answer either (MotionTimeoutError tells it too).
class KRM_API TimeoutError : public Error {
public:
    explicit TimeoutError(const std::string& message);
    ~TimeoutError() override;
};

// The TimeoutError of a motion that was given up on and sent STOP.
class KRM_API MotionTimeoutError : public TimeoutError {
public:
    // `started`: the motion's first answer had come.
    MotionTimeoutError(const std::string& message, bool started, StopOutcome stop);
    ~MotionTimeoutError() override;
    bool started() const { return started_; }
    const StopOutcome& stop() const { return stop_; }

private:
    bool started_;
    StopOutcome stop_;
};

// A value outside the gripper's limits, or the limits could not be read;
// nothing was sent.
class KRM_API LimitError : public Error {
public:
    explicit LimitError(const std::string& message);
    ~LimitError() override;
};

// The interrupt check (Gripper::set_interrupt_check) asked a wait to end; a
// motion this session started that was still running has been sent STOP.
class KRM_API InterruptedError : public Error {
public:
    explicit InterruptedError(const std::string& message);
    ~InterruptedError() override;
};

// The InterruptedError of a call whose motion was sent STOP.
class KRM_API MotionInterruptedError : public InterruptedError {
public:
    MotionInterruptedError(const std::string& message, StopOutcome stop);
    ~MotionInterruptedError() override;
    const StopOutcome& stop() const { return stop_; }

private:
    StopOutcome stop_;
};

namespace detail {
class Session;
struct MotionState;
} // namespace detail

// A motion started by Gripper::start_*. It runs on whether or not this object
// lives; the object only watches it.
class KRM_API Motion {
public:
    Motion(Motion&&) noexcept;
    Motion& operator=(Motion&&) noexcept;
    Motion(const Motion&) = delete;
    Motion& operator=(const Motion&) = delete;
    ~Motion();

    MotionKind kind() const;
    // True once the final answer came (or the link was lost).
    bool done() const;
    // Waits for the end of the motion. When the timeout (default: the
    // Gripper's motion timeout) runs out, STOP is sent and TimeoutError
    // thrown. ConnectionError when the link is lost first.
    MotionResult wait(Timeout timeout = {});
    // Waits at most `timeout`; empty when the motion has not ended by then
    // (nothing is sent).
    std::optional<MotionResult> wait_for(std::chrono::milliseconds timeout);
    template <class Rep, class Period>
    std::optional<MotionResult> wait_for(std::chrono::duration<Rep, Period> timeout)
    {
        return wait_for(to_milliseconds(timeout));
    }
    // Sends STOP if the motion is still running; the motion then ends with
    // Status::cmd_aborted (wait() tells).
    void cancel(Timeout timeout = {});

#ifdef KRM_BUILDING_COMPAT
    // The signatures of 1.0.0, kept for the programs built against it
    // (lib/Compat.cpp).
    MotionResult wait(std::optional<std::chrono::milliseconds> timeout);
    void cancel(std::optional<std::chrono::milliseconds> timeout);
#endif

private:
    friend class Gripper;
    Motion(std::shared_ptr<detail::Session> session, std::shared_ptr<detail::MotionState> state);
    std::shared_ptr<detail::Session> session_;
    std::shared_ptr<detail::MotionState> state_;
};

// Where homing drives the fingers; the gripper's configured direction
// unless chosen.
enum class HomeDirection : std::uint8_t { configured = 0, positive = 1, negative = 2 };

// A report handler added by Gripper::on_report. Destroying the subscription
// (or reset()) ends it: once that returns, the handler runs no more (a call
// under way has ended; called from the handler itself, it only keeps
// further calls away). It may outlive its Gripper.
class KRM_API Subscription {
public:
    // Subscribed to nothing.
    Subscription() noexcept;
    Subscription(Subscription&&) noexcept;
    Subscription& operator=(Subscription&&) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription();

    // Ends the subscription now; harmless when it has ended.
    void reset();
    // Lets the handler run until its Gripper closes; this object then
    // subscribes to nothing.
    void release() noexcept;
    // True until reset, released, moved from or its Gripper is gone.
    bool active() const;

private:
    friend class Gripper;
    Subscription(std::weak_ptr<detail::Session> session, std::uint64_t id);
    std::weak_ptr<detail::Session> session_;
    std::uint64_t id_ = 0;
};

// The reports of one Gripper from its creation on, taken one by one
// (Gripper::reports): `while (auto r = q.next(1s)) ...`. Up to 10,000
// reports wait to be taken; beyond that the oldest are dropped and counted.
// Destroying the queue ends its subscription. It may outlive its Gripper.
// A report is queued as it is read off the link, with no thread between: a
// program that takes them on a timer of its own (next(0ms)) is woken by
// nothing else.
class KRM_API ReportQueue {
public:
    // Takes no reports; next() throws ConnectionError.
    ReportQueue() noexcept;
    ReportQueue(ReportQueue&&) noexcept;
    ReportQueue& operator=(ReportQueue&&) noexcept;
    ReportQueue(const ReportQueue&) = delete;
    ReportQueue& operator=(const ReportQueue&) = delete;
    ~ReportQueue();

    // The oldest report not taken yet, waiting up to `timeout` for one
    // (default: without limit); empty when none came in time.
    // ConnectionError once the Gripper is closed or its link is down and no
    // report waits; InterruptedError as for every wait (set_interrupt_check).
    std::optional<Report> next(Timeout timeout = {});
    // Reports dropped because more than 10,000 waited.
    std::uint64_t dropped() const;
    // Reports waiting to be taken.
    std::size_t size() const;
    // Ends the subscription; the reports waiting can still be taken.
    void close();

private:
    friend class Gripper;
    struct State;
    explicit ReportQueue(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// The frames on one Gripper's link from its creation on, as the packet
// observers see them (Gripper::packets), taken one by one like reports: a
// frame is queued as it passes, with no thread between. Up to 10,000 wait
// to be taken; beyond that the oldest are dropped and counted. Destroying
// the queue ends its subscription. It may outlive its Gripper.
class KRM_API PacketQueue {
public:
    // Takes no frames; next() throws ConnectionError.
    PacketQueue() noexcept;
    PacketQueue(PacketQueue&&) noexcept;
    PacketQueue& operator=(PacketQueue&&) noexcept;
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;
    ~PacketQueue();

    // As ReportQueue::next.
    std::optional<Packet> next(Timeout timeout = {});
    // Frames dropped because more than 10,000 waited.
    std::uint64_t dropped() const;
    // Frames waiting to be taken.
    std::size_t size() const;
    // Ends the subscription; the frames waiting can still be taken.
    void close();

private:
    friend class Gripper;
    struct State;
    explicit PacketQueue(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// One session with one gripper.
class KRM_API Gripper {
public:
    // An empty Gripper, for a member that is opened later
    // (`gripper_ = krm::Gripper::open(...)`). Its calls throw
    // ConnectionError until then; close() and is_open() are harmless.
    Gripper() noexcept;

    // Connects: "tcp:HOST:PORT" ("tcp:[::1]:1000" for IPv6),
    // "serial:PATH[@BAUD]" (default 115200), "can:PLUGIN:INTERFACE[@KBITS][#ID]"
    // (default 250 kbit/s, identifier 100). Makes the link, asks the gripper
    // to report its state by itself and reads its limits, all within
    // `timeout` (default 10 s). ConnectionStringError when the string is
    // malformed (the message names the wrong part); ConnectionError when the
    // link cannot be made or the gripper does not answer in time.
    // `interrupt_check` is installed as by set_interrupt_check before the
    // wait for the link begins.
    static Gripper open(const std::string& connection, Timeout timeout = {},
        std::function<bool()> interrupt_check = {});

    // As above, with the reports, the reconnect policy and the rest chosen
    // by `options`.
    static Gripper open(const std::string& connection, const Options& options);

    Gripper(Gripper&&) noexcept;
    Gripper& operator=(Gripper&&) noexcept;
    Gripper(const Gripper&) = delete;
    Gripper& operator=(const Gripper&) = delete;
    // Closes the session as close() does. Safe while other threads are
    // inside calls of this Gripper: those end with ConnectionError.
    ~Gripper();

    // Sends STOP if a motion this session started is still running (and
    // awaits its answer for up to 1 s), switches off the reports this
    // session switched on, then closes the link and ends the link thread
    // and the handlers' thread. Requests still waiting for their answers end
    // at once with ConnectionError. Later calls throw ConnectionError. Harmless when
    // already closed. A report handler may close (or destroy) its Gripper;
    // from elsewhere, close waits for a handler under way to return.
    void close();
    // True while the link is up.
    bool is_open() const;
    // Up, down (lost, perhaps reconnecting) or closed.
    LinkState link_state() const;
    // Replaces the handler told of the link going down and coming up.
    void on_link(LinkHandler handler);
    // The connection string this Gripper was opened with.
    std::string connection() const;

    Info info(Timeout timeout = {});
    Limits limits(Timeout timeout = {});
    // Asks the gripper for its system state, grasping state and position;
    // speed and force are the latest reported.
    State state(Timeout timeout = {});
    Stats stats(bool reset = false, Timeout timeout = {});

    // Motions: start, then wait for the end (see Motion::wait). A motion the
    // gripper refuses to start throws StatusError; one that ran returns its
    // final status in the result, whatever it is.
    MotionResult home(Timeout timeout = {});
    MotionResult home(HomeDirection direction, Timeout timeout = {});
    MotionResult move(double position, double speed, Timeout timeout = {});
    MotionResult grasp(double width, double speed, Timeout timeout = {});
    MotionResult release(double width, double speed, Timeout timeout = {});
    // Starts a motion and returns at once (after the gripper accepted it);
    // `timeout` bounds the wait for that acceptance.
    Motion start_home(Timeout timeout = {});
    Motion start_home(HomeDirection direction, Timeout timeout = {});
    Motion start_move(double position, double speed, Timeout timeout = {});
    Motion start_grasp(double width, double speed, Timeout timeout = {});
    Motion start_release(double width, double speed, Timeout timeout = {});

    void stop(Timeout timeout = {});
    void fast_stop(Timeout timeout = {});
    // Acknowledges a fast stop.
    void acknowledge(Timeout timeout = {});

    void set_acceleration(double acceleration, Timeout timeout = {});
    double acceleration(Timeout timeout = {});
    void set_force_limit(double force, Timeout timeout = {});
    double force_limit(Timeout timeout = {});

    // Sends any command byte with any payload and returns the gripper's
    // answer whatever its status; a "pending" answer is followed by the
    // final one (a motion's command byte: the motion rules apply, see
    // TimeoutError and InterruptedError). TimeoutError when no answer came;
    // Error for an answer without a status word.
    Answer request(std::uint8_t command, const std::vector<std::uint8_t>& payload, Timeout timeout = {});
    // Sends any command byte with any payload and returns the result bytes
    // of its answer (after the status word). A command answered with
    // cmd_pending is waited for, and its final answer's bytes are returned.
    // StatusError for another status than success.
    std::vector<std::uint8_t> raw(std::uint8_t command, const std::vector<std::uint8_t>& payload,
        Timeout timeout = {});

    // Calls `handler` for every report the gripper sends by itself, until
    // the returned Subscription ends (so keep it). Handlers
    // run on a thread of their own, one report at a time in the order the
    // reports came: reports that arrive while one runs wait for it to
    // return (more than 10,000 waiting: the oldest are dropped). A handler
    // may call this Gripper as any thread may. Do not end a subscription
    // holding a lock that its handler waits for.
    using ReportHandler = std::function<void(const Report& report)>;
    [[nodiscard]] Subscription on_report(const ReportHandler& handler);
    // The reports from now on, to take one by one where the program wants
    // them (see ReportQueue).
    ReportQueue reports();

    // The latest values the gripper reported by itself, with their receive
    // times; no request is sent.
    State last_state() const;

    // Switches on the reports `kinds` (each only when its value changed, at
    // most every `period`, from 10 ms) and switches off those this session
    // switched on that are not among them. StatusError when the gripper
    // refuses one.
    void set_reports(const std::vector<Report::Kind>& kinds, std::chrono::milliseconds period,
        Timeout timeout = {});

    // Calls `handler` for every frame sent and received from now on, on the
    // handlers' thread (as report handlers), in the order they passed.
    using PacketHandler = std::function<void(const Packet& packet)>;
    std::uint64_t on_packet(PacketHandler handler);
    void remove_packet_handler(std::uint64_t id);
    // The frames from now on, to take one by one where the program wants
    // them (see PacketQueue).
    PacketQueue packets();
    // Writes every frame from now on to `path` as a CSV packet log (the
    // layout of the command log window and krm-cli --log); an empty path
    // stops. Error when the file cannot be written.
    void write_packet_log(const std::string& path);

    // Answers that came while no request waited for them. The first one is
    // warned about (see on_warning): most likely a second gripper answers on
    // the same line or CAN identifier.
    std::uint64_t stray_answers() const;
    // Replaces the notice handler (see Options::notice).
    void on_notice(NoticeHandler handler);

    // Called at least every 50 ms on a thread that waits in a blocking call of
    // this Gripper or one of its Motions. When it returns true the wait ends:
    // a motion this session started that is still running is sent STOP, and
    // the call throws InterruptedError. Empty removes it.
    void set_interrupt_check(std::function<bool()> check);

    // The default wait for the end of a motion (60 s at the start).
    void set_motion_timeout(std::chrono::milliseconds timeout);
    template <class Rep, class Period> void set_motion_timeout(std::chrono::duration<Rep, Period> timeout)
    {
        set_motion_timeout(to_milliseconds(timeout));
    }
    std::chrono::milliseconds motion_timeout() const;

#ifdef KRM_BUILDING_COMPAT
    // The signatures of 1.0.0, kept for the programs built against it
    // (lib/Compat.cpp).
    using Limit_1_0 = std::optional<std::chrono::milliseconds>;
    static Gripper open(const std::string& connection, Limit_1_0 timeout, std::function<bool()> interrupt_check);
    Info info(Limit_1_0 timeout);
    Limits limits(Limit_1_0 timeout);
    State state(Limit_1_0 timeout);
    Stats stats(bool reset, Limit_1_0 timeout);
    MotionResult home(Limit_1_0 timeout);
    MotionResult move(double position, double speed, Limit_1_0 timeout);
    MotionResult grasp(double width, double speed, Limit_1_0 timeout);
    MotionResult release(double width, double speed, Limit_1_0 timeout);
    Motion start_home(Limit_1_0 timeout);
    Motion start_move(double position, double speed, Limit_1_0 timeout);
    Motion start_grasp(double width, double speed, Limit_1_0 timeout);
    Motion start_release(double width, double speed, Limit_1_0 timeout);
    void stop(Limit_1_0 timeout);
    void fast_stop(Limit_1_0 timeout);
    void acknowledge(Limit_1_0 timeout);
    void set_acceleration(double acceleration, Limit_1_0 timeout);
    double acceleration(Limit_1_0 timeout);
    void set_force_limit(double force, Limit_1_0 timeout);
    double force_limit(Limit_1_0 timeout);
    Answer request(std::uint8_t command, const std::vector<std::uint8_t>& payload, Limit_1_0 timeout);
    std::vector<std::uint8_t> raw(std::uint8_t command, const std::vector<std::uint8_t>& payload, Limit_1_0 timeout);
    void set_reports(const std::vector<Report::Kind>& kinds, std::chrono::milliseconds period, Limit_1_0 timeout);
    std::uint64_t on_report(ReportHandler handler);
    void remove_report_handler(std::uint64_t id);
#endif

private:
    explicit Gripper(std::shared_ptr<detail::Session> session);
    detail::Session& session() const;
    std::shared_ptr<detail::Session> session_;
};

// What scan() tries. Every field at its default: the serial ports the system
// lists at every line speed, and the CAN interfaces of the available
// plug-ins at 250 kbit/s with the identifiers 0 to 255.
struct ScanOptions {
    // The system's serial ports and CAN interfaces; false: only `connections`.
    bool system_ports = true;
    // Connection strings tried as well: "serial:PATH" (without @BAUD: at
    // each of `line_speeds`), "tcp:HOST:PORT", "can:PLUGIN:INTERFACE[@KBITS]"
    // (without #ID: with each identifier from first_can_id to last_can_id).
    std::vector<std::string> connections;
    // The line speeds tried, in this order; empty: all, 115200 first.
    std::vector<int> line_speeds;
    // At most 4096 identifiers, up to 0x1FFFFFFE.
    std::uint32_t first_can_id = 0;
    std::uint32_t last_can_id = 255;
    // The bit rate of the system's CAN interfaces.
    int can_kbits = 250;
    // How long each attempt waits for the answer (a serial one adds the
    // time the bytes take on the line).
    std::chrono::milliseconds answer_time{250};
};

// A gripper that answered: `connection` opens it (Gripper::open).
struct FoundGripper {
    std::string connection;
    Info info;
};

// A port or connection that could not be tried (in use by another program,
// no permission, unreachable), or whose peer refused the request.
struct ScanProblem {
    enum class Kind : std::uint8_t { in_use, no_permission, unreachable, refused };
    std::string connection;
    Kind kind = Kind::unreachable;
    std::string message; // what happened and what to do
};

struct ScanResult {
    std::vector<FoundGripper> found; // in the order the ports were tried
    std::vector<ScanProblem> problems;
};

// Finds grippers whose port, line speed or CAN identifier is unknown. Sends
// nothing but the system-information request, once per line speed on a
// port and once per identifier on a CAN interface (other devices may sit on
// the ports it tries; that request changes nothing on a gripper). Ports are
// tried in parallel: the default line speed on every port takes about a
// quarter of a second, all eight line speeds about 2.5 s (scan_time). A port that
// another program holds is reported and left alone.
// ConnectionStringError for a malformed connection string (before anything
// is sent); std::invalid_argument for a line speed or bit rate not offered.
KRM_API ScanResult scan(const ScanOptions& options = {});
// The longest that one port takes in a scan with `options`, at all its line
// speeds (opening it aside).
KRM_API std::chrono::milliseconds scan_time(const ScanOptions& options = {});

} // namespace krm
