#pragma once
// The gripper object: the only way the operator interface talks to the
// gripper. It owns the dispatcher (transport choice, framing, packet queue)
// and the pending asynchronous result handlers, runs request/answer
// transactions, offers one typed operation per command the program issues,
// and keeps the last system state, grasping state and finger position that
// the gripper reported.
//
// Everything runs on the main thread. Execute keeps the event loop running
// while it waits for an answer, so timers, operator actions, the events of
// this class and further transactions may run inside another transaction.
#include "AsyncResultEventList.h"
#include "CommandComponent.h"
#include "stat.h"
#include "types.h"

#include <QObject>

#include <cstdint>
#include <functional>

// Answer of GET_SYSINFO (0x50).
struct TSystemInfo {
    uint8_t GripperType = 0;
    int32_t HardwareRevision = 0;
    int32_t FirmwareRevision = 0;
    int32_t SerialNumber = 0;
};

// Answer of GET_SYSTEM_LIMITS (0x53): mm, mm/s, mm/s², N.
struct TSystemLimits {
    float Stroke = 0;
    float MinSpeed = 0;
    float MaxSpeed = 0;
    float MinAcceleration = 0;
    float MaxAcceleration = 0;
    float MinForce = 0;
    float MaxForce = 0;
    float Extra = 0; // stored, not used
};

// Answer of GET_GRASPING_STATS (0x42).
struct TGraspingStats {
    int32_t NumGrasps = 0;
    int32_t NumNotFound = 0;
    int32_t NumLost = 0;
};

class THXT : public QObject {
    Q_OBJECT
public:
    // Longest wait of Execute for the answer, in milliseconds.
    static constexpr uint32_t AnswerTimeoutMs = 3000;
    // Most transactions that may wait at once, counting those started inside
    // the wait of another. A peer whose packets each start a transaction
    // would otherwise nest waits until the stack runs out.
    static constexpr int MaxTransactionDepth = 8;
    // Status of a transaction refused because MaxTransactionDepth
    // transactions are already waiting: nothing was sent.
    static constexpr TStat TransactionRefused = E_INSUFFICIENT_RESOURCES;

    explicit THXT(QObject* owner = nullptr);
    ~THXT() override;

    // The dispatcher (device list, interface dialog, packet queue).
    TCommand* Dispatcher() const { return FCommand; }

    // Connection.
    bool IsConnected() const;
    // Runs the interface selection dialog and opens the chosen device:
    // E_SUCCESS (OnConnect follows once the transport is usable),
    // E_CMD_ABORTED when cancelled, or the transport's error.
    TStat Connect();
    void Disconnect();

    // Transactions.
    // Sends `cmd` with `params` and waits up to AnswerTimeoutMs for a packet
    // with the same command byte, handling every packet taken meanwhile.
    // True with the answer's status and result bytes. False when not
    // connected, the send failed, nothing matching came or it was shorter
    // than its status word (`status` := E_CMD_FAILED), or when
    // MaxTransactionDepth transactions already wait (`status` :=
    // TransactionRefused, nothing sent).
    bool Execute(uint8_t cmd, const TByteArray& params, TByteArray& data, TStat& status);
    // Execute for a command with a later final answer: E_NOT_OPENED when not
    // connected, Execute's status when it fails, otherwise the immediate
    // status; on E_CMD_PENDING `handler` (if any) is kept for `cmd` and
    // called with every later packet of that command byte.
    TStat ExecuteAsync(uint8_t cmd, const TByteArray& params, TAsyncResultEvent handler);
    // Transactions waiting for their answers right now.
    int TransactionDepth() const { return FTransactionDepth; }
    // True when the last transaction that ended (Execute or ExecuteAsync) was
    // refused for depth, so that a TransactionRefused status can be told
    // apart from the same code in a gripper's answer.
    bool LastTransactionRefused() const { return FLastRefused; }
    // Logs a received packet, calls its registered handler and applies state
    // reports (0x40, 0x41, 0x43).
    void HandlePacket(const TPacket& p);
    // Handles every queued packet; the dispatcher's packet event.
    void PacketArrived(QObject* sender);

    // Motion (asynchronous: E_CMD_PENDING means started, final status later).
    TStat Homing(uint8_t homingParam, TAsyncResultEvent handler);
    TStat Goto(float position, float speed, TAsyncResultEvent handler);
    TStat Grasp(float position, float speed, TAsyncResultEvent handler);
    TStat Release(float position, float speed, TAsyncResultEvent handler);
    // Blocking commands: E_CMD_FAILED when there was no usable answer,
    // TransactionRefused when too many transactions wait, otherwise the
    // gripper's status.
    TStat Stop();
    TStat FastStop();
    TStat FastStopAck();
    TStat SetAcceleration(float acceleration);
    TStat SetForceLimit(float force);
    // Asks the gripper to report on its own every `period` (only bits 0-15
    // are sent); `optionFlag` is passed on as the gripper defines it.
    TStat AutoUpdateSystemState(bool enable, int32_t period, bool optionFlag);
    TStat AutoUpdateGraspingState(bool enable, int32_t period, bool optionFlag);
    TStat AutoUpdatePosition(bool enable, int32_t period, bool optionFlag);
    // Readings: the record is filled only on E_SUCCESS with a payload of the
    // exact size; a wrong size gives E_CMD_FAILED whatever the status. Limits
    // with a value that is not finite or a minimum above its maximum are
    // unusable and give E_CMD_FAILED as well.
    TStat GetGraspingStats(TGraspingStats& stats, bool reset);
    TStat GetSystemInfo(TSystemInfo& info);
    TStat GetSystemLimits(TSystemLimits& limits);

    // Last reported state; all start at 0. A new connection or a disconnect
    // resets SystemState and GraspingState, Position keeps its value.
    uint32_t SystemState() const { return FSystemState; }
    uint8_t GraspingState() const { return FGraspingState; }
    float Position() const { return FPosition; }

    // Events (sender: this object); unassigned events are skipped.
    TNotifyEvent OnConnect;       // the transport reported that it is connected
    TNotifyEvent OnDisconnect;    // the transport reported that it is closed
    TNotifyEvent OnGraspingState; // after a grasping-state report
    TNotifyEvent OnSystemState;   // after a system-state report
    TNotifyEvent OnPosition;      // after a position report

private:
    bool WaitForAnswer(uint8_t cmd, TPacket& answer);
    // Handles the queued packets from the event loop, once per pass.
    void QueueDrain();
    void DrainQueuedPackets();
    TStat ExecuteBlocking(uint8_t cmd, const TByteArray& params);
    TStat ExecuteGet(uint8_t cmd, const TByteArray& params, size_t expectedLength, TByteArray& data);
    TStat SetAutoUpdate(uint8_t cmd, bool enable, bool optionFlag, int32_t period);
    void UpdateSystemState(const TByteArray& data);
    void UpdateGraspingState(const TByteArray& data);
    void UpdatePosition(const TByteArray& data);
    void TransportConnected(QObject* sender);
    void TransportDisconnected(QObject* sender);

    TAsyncResultEventList FResultHandlers;
    TCommand* FCommand = nullptr;
    uint32_t FSystemState = 0;
    uint8_t FGraspingState = 0;
    float FPosition = 0;
    int FTransactionDepth = 0;
    bool FLastRefused = false;
    bool FDrainQueued = false;
};
