#pragma once
// The gripper object: the only way the operator interface talks to the
// gripper. It owns the dispatcher (transport choice, framing, packet queue)
// and the pending asynchronous result handlers, runs request/answer
// transactions, offers one typed operation per command the program issues,
// and keeps the last system state, grasping state, finger position, finger
// speed and grasping force that the gripper reported.
//
// Everything runs on the main thread. Execute keeps the event loop running
// while it waits for an answer, so timers, operator actions, the events of
// this class and further transactions may run inside another transaction.
//
// It shows nothing itself: every packet sent and received goes to the packet
// log sink, and transport reports go out through OnTransportReport (in the
// program, the command log window and an error box).
#include "AsyncResultEventList.h"
#include "CommandComponent.h"
#include "SystemRecords.h"
#include "stat.h"
#include "types.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Takes every packet sent (`received` false) and received, in order.
using TPacketLogSink = std::function<void(const TPacket& packet, bool received)>;

class THXT : public QObject {
    Q_OBJECT
public:
    // Longest wait of Execute for the answer, in milliseconds.
    static constexpr uint32_t AnswerTimeoutMs = 3000;
    // Most transactions that may wait at once, counting those started inside
    // the wait of another. A peer whose packets each start a transaction
    // would otherwise nest waits until the stack runs out.
    static constexpr int MaxTransactionDepth = 8;
    // STOP, FAST_STOP and FAST_STOP_ACK are never refused: they wait for
    // their answers up to this many levels beyond MaxTransactionDepth, and
    // deeper still they are sent without waiting.
    static constexpr int StopReserve = 8;
    // Status of a transaction refused because MaxTransactionDepth
    // transactions are already waiting: nothing was sent.
    static constexpr TStat TransactionRefused = E_INSUFFICIENT_RESOURCES;
    // The operator's text for a refused transaction.
    static constexpr const char* RefusedText = "Not sent: too many commands are waiting for their answers";

    explicit THXT(QObject* owner = nullptr);
    ~THXT() override;

    // The dispatcher (device list, interface dialog, packet queue).
    TCommand* Dispatcher() const { return FCommand; }

    // Connection.
    bool IsConnected() const;
    // Asks the dispatcher's interface chooser and opens the chosen device:
    // E_SUCCESS (OnConnect follows once the transport is usable),
    // E_CMD_ABORTED when cancelled, or the transport's error.
    TStat Connect();
    // Opens the device of the parameters' kind with them, asking no one;
    // the results as Connect().
    TStat Connect(const TConnectionParams& params);
    void Disconnect();
    // The parameters of the current connection, or of the last one made;
    // empty before the first. Connect(*ConnectionParams()) connects again.
    std::optional<TConnectionParams> ConnectionParams() const;

    // Transactions.
    // Sends `cmd` with `params` and waits up to AnswerTimeoutMs for a packet
    // with the same command byte, handling every packet taken meanwhile; a
    // lost link ends the wait once the packets it delivered are taken.
    // True with the answer's status and result bytes. False when not
    // connected, the send failed, nothing matching came or it was shorter
    // than its status word (`status` := E_CMD_FAILED), when
    // MaxTransactionDepth transactions already wait (`status` :=
    // TransactionRefused, nothing sent), or for a stop sent beyond the
    // reserve without waiting (`status` := E_CMD_PENDING; its answer is
    // handled as any packet when it comes).
    bool Execute(uint8_t cmd, const TByteArray& params, TByteArray& data, TStat& status);
    // Execute for a command with a later final answer: E_NOT_OPENED when not
    // connected, Execute's status when it fails, otherwise the immediate
    // status; on E_CMD_PENDING `handler` (if any) is kept for `cmd` and
    // called with every later packet of that command byte. A refused
    // transaction leaves every kept handler as it was.
    TStat ExecuteAsync(uint8_t cmd, const TByteArray& params, TAsyncResultEvent handler);
    // Transactions waiting for their answers right now.
    int TransactionDepth() const { return FTransactionDepth; }
    // True when the last transaction that ended (Execute or ExecuteAsync) was
    // refused for depth, so that a TransactionRefused status can be told
    // apart from the same code in a gripper's answer.
    bool LastTransactionRefused() const { return FLastRefused; }
    // Why the last transaction that ended brought no usable answer, in
    // words for the operator: NoAnswerText, a refused write, an answer of
    // the wrong length or unusable limits; empty when an answer came that
    // its status tells about (a gripper's E_CMD_FAILED is its own).
    const std::string& LastTransactionFault() const { return FLastFault; }
    static constexpr const char* NoAnswerText = "no answer from the gripper within 3 s";
    // Logs a received packet, calls its registered handler and applies state
    // reports (0x40, 0x41, 0x43, 0x44, 0x45).
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
    TStat AutoUpdateSpeed(bool enable, int32_t period, bool optionFlag);
    TStat AutoUpdateForce(bool enable, int32_t period, bool optionFlag);
    // Readings: the record is filled only on E_SUCCESS with a payload of the
    // exact size; a success answer of another size gives E_CMD_FAILED (and
    // LastTransactionFault names both sizes), a refusal the gripper's own
    // status. Limits with a value that is not finite or a minimum above its
    // maximum are unusable and give E_CMD_FAILED as well.
    TStat GetGraspingStats(TGraspingStats& stats, bool reset);
    TStat GetSystemInfo(TSystemInfo& info);
    TStat GetSystemLimits(TSystemLimits& limits);
    // The acceleration (mm/s²) and force limit (N) the gripper runs with;
    // the value is written only on E_SUCCESS with a 4-byte payload.
    TStat GetAcceleration(float& acceleration);
    TStat GetForceLimit(float& force);

    // Requests the program's window does not send (krm-cli does).
    // One request without payload each; the answer passes through the state
    // updates as a report does, so SystemState, GraspingState or Position
    // hold the answered value. E_CMD_FAILED without a usable answer.
    TStat GetSystemState();
    TStat GetGraspingState();
    TStat GetPosition();

    // Last reported state; all start at 0. A new connection or a disconnect
    // resets SystemState and GraspingState, Position keeps its value.
    uint32_t SystemState() const { return FSystemState; }
    uint8_t GraspingState() const { return FGraspingState; }
    float Position() const { return FPosition; }
    // Last reported finger speed (mm/s) and grasping force (N); they keep
    // their values over a new connection like Position.
    float Speed() const { return FSpeed; }
    float Force() const { return FForce; }

    // Events (sender: this object); unassigned events are skipped.
    TNotifyEvent OnConnect;       // the transport reported that it is connected
    TNotifyEvent OnDisconnect;    // the transport reported that it is closed
    TNotifyEvent OnGraspingState; // after a grasping-state report
    TNotifyEvent OnSystemState;   // after a system-state report
    TNotifyEvent OnPosition;      // after a position report
    TNotifyEvent OnSpeed;         // after a speed report
    TNotifyEvent OnForce;         // after a force report
    // A transport report (sender: this object): the link was lost (the
    // device has closed; OnDisconnect came before), or a transport error.
    TReportEvent OnTransportReport;
    // Where sent and received packets are logged; unassigned logs nothing.
    TPacketLogSink PacketLog;

private:
    // True when a transaction of `cmd` started now would be refused.
    bool Refuses(uint8_t cmd) const;
    bool WaitForAnswer(uint8_t cmd, TPacket& answer);
    // Handles the queued packets from the event loop, once per pass.
    void QueueDrain();
    void DrainQueuedPackets();
    TStat ExecuteBlocking(uint8_t cmd, const TByteArray& params);
    TStat ExecuteGet(uint8_t cmd, const TByteArray& params, size_t expectedLength, TByteArray& data);
    TStat SetAutoUpdate(uint8_t cmd, bool enable, bool optionFlag, int32_t period);
    void UpdateSystemState(const TByteArray& data);
    void UpdateGraspingState(const TByteArray& data);
    // A float report of exactly 4 bytes sets `value` and raises `event`;
    // any other length changes nothing.
    void UpdateFloat(const TByteArray& data, float& value, const TNotifyEvent& event);
    TStat GetFloat(uint8_t cmd, float& value);
    void TransportConnected(QObject* sender);
    void TransportDisconnected(QObject* sender);
    void LogPacket(const TPacket& p, bool received) const;

    TAsyncResultEventList FResultHandlers;
    TCommand* FCommand = nullptr;
    uint32_t FSystemState = 0;
    uint8_t FGraspingState = 0;
    float FPosition = 0;
    float FSpeed = 0;
    float FForce = 0;
    int FTransactionDepth = 0;
    bool FLastRefused = false;
    std::string FLastFault;
    bool FDrainQueued = false;
};
