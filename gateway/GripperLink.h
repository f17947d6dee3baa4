#pragma once
// The gateway's one session with one gripper through libkrm, and its only
// user of the library: connects with the reports switched on at the
// configured period, reads the limits, watches the frames on the link, and
// connects again with a growing pause (0.5 s doubling up to 10 s) whenever
// the link is lost or cannot be made, for as long as it lives. Reports and
// frames wait in the library's queues until the main thread takes them
// (Take), so that they wake no thread of their own.
//
// Commands run on a lane of their own, one after the other; stop and
// fast-stop run on a second lane, so they go out at once even while a
// motion is being waited for. A motion's end is waited for without a thread
// waking for it meanwhile: the frame of its final answer, when taken, wakes
// the lane.
#include "CliCommand.h"
#include "CliOutput.h"
#include "HXTForm.h"

#include <krm/krm.hpp>

#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TTaskLane;

// A frame on the link, as the metrics count it.
struct TPacketSeen {
    bool Received = false;
    std::uint8_t Faults = 0; // krm::Packet's fault bits
    // A received answer to a request of the gateway's: the time since the
    // request went out.
    std::optional<double> AnswerSeconds;
};

// A motion that ran to its final answer.
struct TMotionEnd {
    QString Command; // krm-cli's name: "home", "goto", "grasp", "release"
    uint8_t Status = 0;
    double Seconds = 0;  // from sending the command to its final answer
    double Position = 0; // the finger position (width) then
};

class TGripperLink {
public:
    TGripperLink(std::string connection, int reportPeriodMs);
    // Stops a motion of its own that is still running, closes the session
    // and ends the threads.
    ~TGripperLink();
    TGripperLink(const TGripperLink&) = delete;
    TGripperLink& operator=(const TGripperLink&) = delete;

    // Set before Start; called on the link's own threads.
    std::function<void(const krm::State& state)> OnUp;     // the link is up, with the state then
    std::function<void(const std::string& cause)> OnDown;  // an up link was lost
    std::function<void(const std::string& cause)> OnRetry; // a connect failed
    std::function<void(const TMotionEnd& motion)> OnMotion;
    // Every frame from the link's coming up on, one after the other, on the
    // thread that calls Take.
    std::function<void(const TPacketSeen& packet)> OnPacket;

    void Start();
    // Hands the frames that came since the last call to OnPacket and adds
    // the reports to `reports`.
    void Take(std::vector<krm::Report>& reports);

    // Runs `command` (already parsed) and hands its result, as krm-cli
    // reports it, to `done`. Values are checked against the gripper's limits
    // first. With the link down the result is E_NOT_OPENED at once.
    void Submit(const TCliCommand& command, std::function<void(const TCliResult&)> done);

    // Commands waiting at most; more are refused.
    static constexpr size_t MaxWaiting = 64;
    static constexpr std::chrono::milliseconds FirstPause{500};
    static constexpr std::chrono::milliseconds LongestPause{10000};
    // The library's link handler tells a lost link at once; is_open() is
    // looked at this often as well, for a loss before the handler was set.
    static constexpr std::chrono::milliseconds LinkCheck{2000};

private:
    void Connect();
    bool Pause(std::chrono::milliseconds pause);
    krm::Options OpenOptions();
    void SwitchOptionalReports(krm::Gripper& gripper);
    // Queues the reports and frames of `gripper` from now on for Take.
    void ObservePackets(krm::Gripper& gripper);
    void Seen(const krm::Packet& packet);
    // Has the library's link handler tell a lost link (FLost).
    void WatchLink(krm::Gripper& gripper);
    // Returns once the link is lost or the gateway ends.
    void AwaitLoss(krm::Gripper& gripper);
    // Counts the final answers to motions, and wakes the motion waited for.
    void MotionAnswered(const krm::Packet& packet);
    // Starts the motion of `command` and waits for its end.
    krm::MotionResult Await(const TCliCommand& command, krm::Gripper& gripper);
    std::shared_ptr<krm::Gripper> Current() const;
    TCliResult Execute(const TCliCommand& command);
    TCliResult Motion(const TCliCommand& command, krm::Gripper& gripper);

    const std::string FConnection;
    const int FReportPeriodMs;
    std::atomic<bool> FEnding{false};
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    // Guarded by FMutex: the current link was lost; the links made so far.
    bool FLost = false;
    std::uint64_t FLinks = 0;
    // The frames of final answers to motions so far (guarded by FMutex); the
    // wait for a motion's end wakes on each, and on a lost link.
    std::uint64_t FMotionAnswers = 0;
    std::condition_variable FMotionWake;
    std::shared_ptr<krm::Gripper> FGripper;
    // The current session's queues, and when each command byte last went
    // out without its answer yet (guarded by FTakeMutex).
    std::mutex FTakeMutex;
    krm::ReportQueue FReports;
    krm::PacketQueue FPackets;
    std::array<std::optional<krm::Clock::time_point>, 256> FSent;
    std::optional<TSystemLimits> FLimits;
    QString FLimitsUnknown;
    std::unique_ptr<TTaskLane> FCommands;
    std::unique_ptr<TTaskLane> FStops;
    std::thread FThread;
};
