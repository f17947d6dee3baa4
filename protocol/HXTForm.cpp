#include "HXTForm.h"

#include "HXT_commands.h"
#include "MotionRequests.h"
#include "convert.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

TByteArray FloatBytes(float value)
{
    const auto bytes = SingleToBytes(value);
    return TByteArray(bytes.begin(), bytes.end());
}

// The status of an answer: the low byte of its leading status word. The
// caller checks that the packet holds at least two bytes.
TStat AnswerStatus(const TPacket& p)
{
    return static_cast<TStat>(BytesToWord(p.data[0], p.data[1]) & 0xFF);
}

// The commands sent whatever the transaction depth.
bool IsStopCommand(uint8_t cmd)
{
    return cmd == CMD_STOP || cmd == CMD_FAST_STOP || cmd == CMD_FAST_STOP_ACK;
}

} // namespace

THXT::THXT(QObject* owner) : QObject(owner)
{
    FCommand = new TCommand(this);
    FCommand->SetOnConnect([this](QObject* sender) { TransportConnected(sender); });
    FCommand->SetOnDisconnect([this](QObject* sender) { TransportDisconnected(sender); });
    FCommand->OnPacket = [this](QObject* sender) { PacketArrived(sender); };
    FCommand->OnTransportReport = [this](QObject*, TTransportReport kind, const QString& text) {
        if (OnTransportReport)
            OnTransportReport(this, kind, text);
    };
}

THXT::~THXT()
{
    FResultHandlers.Clear();
    // The dispatcher goes with this object; its devices close without
    // reporting to a half-destroyed gripper object.
    FCommand->SetOnConnect(nullptr);
    FCommand->SetOnDisconnect(nullptr);
    FCommand->OnPacket = nullptr;
    FCommand->OnTransportReport = nullptr;
}

bool THXT::IsConnected() const { return FCommand->IsConnected(); }

TStat THXT::Connect() { return FCommand->Connect(); }

TStat THXT::Connect(const TConnectionParams& params) { return FCommand->Connect(params); }

std::optional<TConnectionParams> THXT::ConnectionParams() const { return FCommand->ConnectionParams(); }

void THXT::LogPacket(const TPacket& p, bool received) const
{
    if (PacketLog)
        PacketLog(p, received);
}

void THXT::Disconnect() { FCommand->Disconnect(); }

void THXT::TransportConnected(QObject*)
{
    FSystemState = 0;
    FGraspingState = 0;
    if (OnConnect)
        OnConnect(this);
}

void THXT::TransportDisconnected(QObject*)
{
    FSystemState = 0;
    FGraspingState = 0;
    if (OnDisconnect)
        OnDisconnect(this);
}

bool THXT::Refuses(uint8_t cmd) const
{
    return FTransactionDepth >= MaxTransactionDepth && !IsStopCommand(cmd);
}

bool THXT::Execute(uint8_t cmd, const TByteArray& params, TByteArray& data, TStat& status)
{
    FLastRefused = false;
    FLastFault.clear();
    status = E_CMD_FAILED;
    if (!IsConnected())
        return false;
    if (Refuses(cmd)) {
        FLastRefused = true;
        status = TransactionRefused;
        return false;
    }
    TPacket request;
    request.command = cmd;
    request.length = static_cast<int32_t>(params.size());
    request.data = params;

    // Packets arriving during the wait stay queued for the loop below instead
    // of being drained by PacketArrived.
    const TNotifyEvent savedOnPacket = FCommand->OnPacket;
    FCommand->OnPacket = nullptr;
    if (const TStat written = FCommand->SendPacket(request); written != E_SUCCESS) {
        FCommand->OnPacket = savedOnPacket;
        FLastFault = "not sent: the link did not take the request (" + StatusText(written) + ")";
        return false;
    }
    LogPacket(request, false);
    if (FTransactionDepth >= MaxTransactionDepth + StopReserve) {
        // A stop that may not nest another wait: its answer is handled as
        // any packet when it comes.
        FCommand->OnPacket = savedOnPacket;
        status = E_CMD_PENDING;
        return false;
    }

    TPacket answer;
    ++FTransactionDepth;
    const bool answered = WaitForAnswer(cmd, answer);
    --FTransactionDepth;
    // Transactions refused inside the wait were not this one.
    FLastRefused = false;
    FLastFault.clear();
    FCommand->OnPacket = savedOnPacket;
    // Packets that came in behind the answer would otherwise wait for the
    // next arrival; they are handled as soon as the caller is done.
    if (FCommand->PacketCount() > 0 && savedOnPacket)
        QueueDrain();

    if (!answered) {
        FLastFault = NoAnswerText;
        return false;
    }
    if (answer.ValidLength() < 2) {
        FLastFault = "the gripper's answer carries no status word";
        return false;
    }
    status = AnswerStatus(answer);
    data.assign(answer.data.begin() + 2, answer.data.begin() + answer.ValidLength());
    return true;
}

bool THXT::WaitForAnswer(uint8_t cmd, TPacket& answer)
{
    QElapsedTimer clock;
    clock.start();
    // Wakes the blocked event loop when the answer time is up.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(static_cast<int>(AnswerTimeoutMs + 1));
    bool matched = false;
    do {
        // One pass: process what the event loop has (blocking until something
        // happens when no packet is queued), then take at most one packet.
        if (FCommand->PacketCount() > 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        } else {
            if (!deadline.isActive())
                deadline.start(static_cast<int>(std::max<qint64>(1, AnswerTimeoutMs + 1 - clock.elapsed())));
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        TPacket p;
        if (FCommand->GetPacket(p)) {
            matched = (p.command & 0xFF) == cmd;
            HandlePacket(p);
            if (matched)
                answer = std::move(p);
        }
        // A lost link brings no answer; what it delivered before is taken.
    } while (!matched && clock.elapsed() <= AnswerTimeoutMs && (IsConnected() || FCommand->PacketCount() > 0));
    return matched;
}

void THXT::QueueDrain()
{
    if (FDrainQueued)
        return;
    FDrainQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FDrainQueued = false;
            DrainQueuedPackets();
        },
        Qt::QueuedConnection);
}

void THXT::DrainQueuedPackets()
{
    if (FCommand->OnPacket && FCommand->PacketCount() > 0) {
        const TNotifyEvent handler = FCommand->OnPacket;
        handler(FCommand);
    }
}

TStat THXT::ExecuteAsync(uint8_t cmd, const TByteArray& params, TAsyncResultEvent handler)
{
    FLastRefused = false;
    FLastFault.clear();
    if (!IsConnected())
        return E_NOT_OPENED;
    if (Refuses(cmd)) {
        FLastRefused = true;
        return TransactionRefused;
    }
    FResultHandlers.Remove(cmd);
    TByteArray data;
    TStat status = E_SUCCESS;
    if (!Execute(cmd, params, data, status))
        return status;
    if (status == E_CMD_PENDING && handler)
        FResultHandlers.Add(cmd, std::move(handler));
    return status;
}

void THXT::HandlePacket(const TPacket& p)
{
    LogPacket(p, true);
    const int32_t length = p.ValidLength();
    if (length < 2)
        return;
    const uint8_t id = static_cast<uint8_t>(p.command & 0xFF);
    const TStat status = AnswerStatus(p);
    const TByteArray result(p.data.begin() + 2, p.data.begin() + length);
    if (const TAsyncResultEvent handler = FResultHandlers.Find(id))
        handler(this, id, status, result);
    if (status != E_SUCCESS)
        return;
    switch (id) {
    case CMD_GET_SYSTEM_STATE:
        UpdateSystemState(result);
        break;
    case CMD_GET_GRASPING_STATE:
        UpdateGraspingState(result);
        break;
    case CMD_GET_POS:
        UpdateFloat(result, FPosition, OnPosition);
        break;
    case CMD_GET_SPEED:
        UpdateFloat(result, FSpeed, OnSpeed);
        break;
    case CMD_GET_FORCE:
        UpdateFloat(result, FForce, OnForce);
        break;
    default:
        break;
    }
}

void THXT::PacketArrived(QObject*)
{
    // Only the packets waiting now. A handler that runs a transaction lets
    // more arrive meanwhile; under a steady stream of reports, handling those
    // here as well would never return to the event loop. They are handled
    // from the event loop, in order, right after.
    int32_t waiting = FCommand->PacketCount();
    TPacket p;
    while (waiting-- > 0 && FCommand->GetPacket(p))
        HandlePacket(p);
    if (FCommand->PacketCount() > 0)
        QueueDrain();
}

void THXT::UpdateSystemState(const TByteArray& data)
{
    // Any other length carries no state: nothing changes.
    if (data.size() != 4)
        return;
    FSystemState = static_cast<uint32_t>(IntAt(data.data()));
    if (OnSystemState)
        OnSystemState(this);
}

void THXT::UpdateGraspingState(const TByteArray& data)
{
    if (data.size() != 1)
        return;
    FGraspingState = data[0];
    if (OnGraspingState)
        OnGraspingState(this);
}

void THXT::UpdateFloat(const TByteArray& data, float& value, const TNotifyEvent& event)
{
    if (data.size() != 4)
        return;
    value = SingleAt(data.data());
    if (event)
        event(this);
}

TStat THXT::ExecuteBlocking(uint8_t cmd, const TByteArray& params)
{
    TByteArray data;
    TStat status = E_SUCCESS;
    Execute(cmd, params, data, status);
    return status;
}

TStat THXT::ExecuteGet(uint8_t cmd, const TByteArray& params, size_t expectedLength, TByteArray& data)
{
    TStat status = E_SUCCESS;
    if (!Execute(cmd, params, data, status))
        return status;
    if (status == E_SUCCESS && data.size() != expectedLength) {
        FLastFault = AnswerLengthFault(data.size(), expectedLength);
        return E_CMD_FAILED;
    }
    return status;
}

TStat THXT::Homing(uint8_t homingParam, TAsyncResultEvent handler)
{
    return ExecuteAsync(CMD_HOMING, HomingPayload(homingParam), std::move(handler));
}

TStat THXT::Goto(float position, float speed, TAsyncResultEvent handler)
{
    return ExecuteAsync(CMD_GOTO, GotoPayload(position, speed), std::move(handler));
}

TStat THXT::Grasp(float position, float speed, TAsyncResultEvent handler)
{
    return ExecuteAsync(CMD_GRASP_RAW, GraspPayload(position, speed), std::move(handler));
}

TStat THXT::Release(float position, float speed, TAsyncResultEvent handler)
{
    return ExecuteAsync(CMD_RELEASE_RAW, ReleasePayload(position, speed), std::move(handler));
}

TStat THXT::Stop() { return ExecuteBlocking(CMD_STOP, {}); }

TStat THXT::FastStop() { return ExecuteBlocking(CMD_FAST_STOP, {}); }

TStat THXT::FastStopAck() { return ExecuteBlocking(CMD_FAST_STOP_ACK, {0x61, 0x63, 0x6B}); }

TStat THXT::SetAcceleration(float acceleration) { return ExecuteBlocking(CMD_SET_ACCELERATION, FloatBytes(acceleration)); }

TStat THXT::SetForceLimit(float force) { return ExecuteBlocking(CMD_SET_FORCE_LIMIT, FloatBytes(force)); }

TStat THXT::SetAutoUpdate(uint8_t cmd, bool enable, bool optionFlag, int32_t period)
{
    TByteArray params{0x00, 0x00, 0x00};
    if (enable) {
        params[0] = optionFlag ? 0x03 : 0x01;
        params[1] = static_cast<uint8_t>(period & 0xFF);
        params[2] = static_cast<uint8_t>((period >> 8) & 0xFF);
    }
    return ExecuteBlocking(cmd, params);
}

TStat THXT::AutoUpdateSystemState(bool enable, int32_t period, bool optionFlag)
{
    return SetAutoUpdate(CMD_GET_SYSTEM_STATE, enable, optionFlag, period);
}

TStat THXT::AutoUpdateGraspingState(bool enable, int32_t period, bool optionFlag)
{
    return SetAutoUpdate(CMD_GET_GRASPING_STATE, enable, optionFlag, period);
}

TStat THXT::AutoUpdatePosition(bool enable, int32_t period, bool optionFlag)
{
    return SetAutoUpdate(CMD_GET_POS, enable, optionFlag, period);
}

TStat THXT::AutoUpdateSpeed(bool enable, int32_t period, bool optionFlag)
{
    return SetAutoUpdate(CMD_GET_SPEED, enable, optionFlag, period);
}

TStat THXT::AutoUpdateForce(bool enable, int32_t period, bool optionFlag)
{
    return SetAutoUpdate(CMD_GET_FORCE, enable, optionFlag, period);
}

TStat THXT::GetGraspingStats(TGraspingStats& stats, bool reset)
{
    TByteArray data;
    const TStat status = ExecuteGet(CMD_GET_GRASPING_STATS, {static_cast<uint8_t>(reset ? 1 : 0)}, 8, data);
    if (status != E_SUCCESS)
        return status;
    DecodeGraspingStats(data, stats);
    return E_SUCCESS;
}

TStat THXT::GetSystemInfo(TSystemInfo& info)
{
    TByteArray data;
    const TStat status = ExecuteGet(CMD_GET_SYSINFO, {}, 8, data);
    if (status != E_SUCCESS)
        return status;
    DecodeSystemInfo(data, info);
    return E_SUCCESS;
}

TStat THXT::GetSystemLimits(TSystemLimits& limits)
{
    TByteArray data;
    const TStat status = ExecuteGet(CMD_GET_SYSTEM_LIMITS, {}, 32, data);
    if (status != E_SUCCESS)
        return status;
    TSystemLimits read;
    DecodeSystemLimits(data, read);
    if (const std::string fault = LimitsFault(read); !fault.empty()) {
        FLastFault = "the gripper's limits are unusable: " + fault;
        return E_CMD_FAILED;
    }
    limits = read;
    return E_SUCCESS;
}

TStat THXT::GetSystemState() { return ExecuteBlocking(CMD_GET_SYSTEM_STATE, {}); }

TStat THXT::GetGraspingState() { return ExecuteBlocking(CMD_GET_GRASPING_STATE, {}); }

TStat THXT::GetPosition() { return ExecuteBlocking(CMD_GET_POS, {}); }

TStat THXT::GetFloat(uint8_t cmd, float& value)
{
    TByteArray data;
    const TStat status = ExecuteGet(cmd, {}, 4, data);
    if (status == E_SUCCESS)
        value = SingleAt(data.data());
    return status;
}

TStat THXT::GetAcceleration(float& acceleration) { return GetFloat(CMD_GET_ACCELERATION, acceleration); }

TStat THXT::GetForceLimit(float& force) { return GetFloat(CMD_GET_FORCE_LIMIT, force); }
