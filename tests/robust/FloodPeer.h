#pragma once
// A gripper stand-in on a loopback TCP port that runs in its own thread and,
// while flooding, sends on every 1 ms tick two position reports and one
// system-state report. Position reports carry 1, 2, 3, ... in order; the
// state reports carry the same counter. Requests are answered at once:
// GET_SYSINFO with the serial number 1, 2, 3, ... (one per request),
// GET_SYSTEM_LIMITS with the limits of a 110 mm gripper (or those set with
// SetLimits), every other command with a bare success status. It can also
// answer behind a burst of reports, like a peer that dumps a backlog at once,
// send such a burst on its own, and send system-state reports without the
// "Referenced" flag as fast as the connection takes them.
#include <QThread>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

class TFloodWorker;

class TFloodPeer {
public:
    TFloodPeer();
    ~TFloodPeer();
    TFloodPeer(const TFloodPeer&) = delete;
    TFloodPeer& operator=(const TFloodPeer&) = delete;

    // Listens on 127.0.0.1; false when that failed.
    bool Start();
    quint16 Port() const { return FPort; }
    void SetFlooding(bool on);
    // Every later GET_SYSINFO answer is written in one go between `before`
    // and `after` position reports (continuing the same count).
    void SetBurstAroundAnswer(int before, int after);
    // Writes `count` position reports (continuing the same count) in one go.
    void SendReportBurst(int count);
    // System-state reports with the values 2, 4, 6, ... (bit 0, "Referenced",
    // always clear), written whenever the connection has room for more. With
    // a `lead` above 0, no more than that many are on their way beyond those
    // counted with StateReportHandled, so that the backlog the client has to
    // work off at the end does not depend on how much the kernel buffers.
    void SetStateFlood(bool on, int lead = 0);
    // Counts one state report of the flood as handled by the client.
    void StateReportHandled() { ++FStateReportsHandled; }
    // The eight floats of later GET_SYSTEM_LIMITS answers.
    void SetLimits(const std::array<float, 8>& limits);
    // Frames written to the client so far (reports and answers).
    int FramesSent() const { return FFramesSent.load(); }
    int Ticks() const { return FTicks.load(); }
    int StateFloodReports() const { return FStateFloodReports.load(); }
    // Value of the last state report of the state flood.
    uint32_t LastFloodState() const { return FLastFloodState.load(); }

private:
    QThread FThread;
    TFloodWorker* FWorker = nullptr;
    quint16 FPort = 0;
    std::atomic<int> FFramesSent{0};
    std::atomic<int> FTicks{0};
    std::atomic<int> FStateFloodReports{0};
    std::atomic<uint32_t> FLastFloodState{0};
    std::atomic<int> FStateReportsHandled{0};
};
