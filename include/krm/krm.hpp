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
// Every blocking call takes an optional timeout. Left out, a request waits
// for the link's answer time (3 s) and a motion for the motion timeout
// (60 s unless set_motion_timeout changed it).
//
// Errors are exceptions derived from krm::Error.
#include <chrono>
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

// An optional limit for the wait of a blocking call; empty: the default.
using Timeout = std::optional<std::chrono::milliseconds>;
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

// An answer or a motion's end did not come within the timeout. A motion that
// timed out has been sent STOP.
class KRM_API TimeoutError : public Error {
public:
    explicit TimeoutError(const std::string& message);
    ~TimeoutError() override;
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
    // Sends STOP if the motion is still running; the motion then ends with
    // Status::cmd_aborted (wait() tells).
    void cancel(Timeout timeout = {});

private:
    friend class Gripper;
    Motion(std::shared_ptr<detail::Session> session, std::shared_ptr<detail::MotionState> state);
    std::shared_ptr<detail::Session> session_;
    std::shared_ptr<detail::MotionState> state_;
};

// One session with one gripper.
class KRM_API Gripper {
public:
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

    Gripper(Gripper&&) noexcept;
    Gripper& operator=(Gripper&&) noexcept;
    Gripper(const Gripper&) = delete;
    Gripper& operator=(const Gripper&) = delete;
    // Closes the session as close() does.
    ~Gripper();

    // Sends STOP if a motion this session started is still running, then
    // closes the link and ends the link thread and the handlers' thread.
    // Requests still waiting for their answers end at once with
    // ConnectionError. Later calls throw ConnectionError. Harmless when
    // already closed. A report handler may close (or destroy) its Gripper;
    // from elsewhere, close waits for a handler under way to return.
    void close();
    // True while the link is up.
    bool is_open() const;
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
    MotionResult move(double position, double speed, Timeout timeout = {});
    MotionResult grasp(double width, double speed, Timeout timeout = {});
    MotionResult release(double width, double speed, Timeout timeout = {});
    // Starts a motion and returns at once (after the gripper accepted it);
    // `timeout` bounds the wait for that acceptance.
    Motion start_home(Timeout timeout = {});
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

    // Sends any command byte with any payload and returns the result bytes
    // of its answer (after the status word). A command answered with
    // cmd_pending is waited for like a motion, and its final answer's bytes
    // are returned. StatusError for another status than success.
    std::vector<std::uint8_t> raw(std::uint8_t command, const std::vector<std::uint8_t>& payload,
        Timeout timeout = {});

    // Calls `handler` for every report the gripper sends by itself. Handlers
    // run on a thread of their own, one report at a time in the order the
    // reports came: reports that arrive while one runs wait for it to
    // return (more than 10,000 waiting: the oldest are dropped). A handler
    // may call this Gripper as any thread may. Returns an id for
    // remove_report_handler.
    using ReportHandler = std::function<void(const Report& report)>;
    std::uint64_t on_report(ReportHandler handler);
    // Once this returns, the handler runs no more: a call under way has
    // ended (so do not call it holding a lock that handler
    // waits for). Called from a handler, it only keeps further calls away.
    void remove_report_handler(std::uint64_t id);

    // The latest values the gripper reported (or answered), with their
    // receive times; no request is sent.
    State last_state() const;

    // Called at least every 50 ms on a thread that waits in a blocking call of
    // this Gripper or one of its Motions. When it returns true the wait ends:
    // a motion this session started that is still running is sent STOP, and
    // the call throws InterruptedError. Empty removes it.
    void set_interrupt_check(std::function<bool()> check);

    // The default wait for the end of a motion (60 s at the start).
    void set_motion_timeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds motion_timeout() const;

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
