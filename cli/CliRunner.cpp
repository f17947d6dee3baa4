#include "CliRunner.h"

#include "CliConnect.h"
#include "CliFields.h"
#include "CommandComponent.h"
#include "HXT_commands.h"
#include "UsageError.h"
#include "ValueLimits.h"
#include "convert.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>

namespace {

// Report periods of watch, as the main window asks for them: state words
// every 50 ms, the position every 100 ms, each sent only when it changed.
constexpr int32_t StatePeriodMs = 50;
constexpr int32_t ReadingPeriodMs = 100;

TCliResult Plain(const TCliCommand& command, TStat status)
{
    return {command.Name, status, {}};
}

float FloatAt(const TPacket& packet)
{
    return BytesToSingle(packet.data[2], packet.data[3], packet.data[4], packet.data[5]);
}

} // namespace

TCliRunner::TCliRunner(THXT& gripper, TCliOutput& output, const TCliOptions& options, QObject* parent)
    : QObject(parent)
    , FGripper(gripper)
    , FOutput(output)
    , FOptions(options)
{
}

int TCliRunner::Run()
{
    const int exit = Session();
    if (FLinkLost) {
        // The device reports the cause of a lost link once control is back
        // in the event loop, after its disconnect.
        QCoreApplication::processEvents();
        FOutput.Error(QStringLiteral("%1: %2: %3")
                          .arg(FOptions.Connection.Text(), FConnected ? QStringLiteral("connection lost") : QStringLiteral("cannot connect"),
                              FLinkText.isEmpty() ? QStringLiteral("the connection was closed") : FLinkText));
        return ExitConnection;
    }
    return exit;
}

int TCliRunner::Session()
{
    if (!Connect())
        return ExitConnection;
    TSystemLimits limits;
    const TStat status = FGripper.GetSystemLimits(limits);
    if (FLinkLost)
        return ExitConnection;
    try {
        if (status == E_SUCCESS)
            CheckCliLimits(FOptions.Program, limits);
        else
            FOutput.Error(QStringLiteral("the system limits could not be read (%1); values are not checked against them")
                              .arg(QString::fromStdString(StatusText(status))));
    } catch (const TUsageError& error) {
        FOutput.Error(error.Message());
        Close();
        return ExitUsage;
    }
    RunSteps(FOptions.Program);
    if (FLinkLost)
        return ExitConnection;
    Close();
    return FFailed || FInterrupted ? ExitCommandFailed : ExitSuccess;
}

bool TCliRunner::Connect()
{
    FGripper.OnConnect = [this](QObject*) {
        FConnected = true;
        Wake();
    };
    FGripper.OnDisconnect = [this](QObject*) {
        if (!FClosing) {
            FLinkLost = true;
            Wake();
        }
    };
    FGripper.OnTransportReport = [this](QObject*, TTransportReport kind, const QString& text) { TransportReport(kind, text); };
    const TStat status = FGripper.Connect(CliConnectionParams(FOptions.Connection));
    if (status != E_SUCCESS) {
        QString text = QStringLiteral("%1: cannot connect: %2").arg(FOptions.Connection.Text(), QString::fromStdString(StatusText(status)));
        if (const QString cause = FGripper.Dispatcher()->OpenFailure(); !cause.isEmpty())
            text += QStringLiteral(". ") + cause;
        FOutput.Error(text);
        return false;
    }
    WaitFor([this] { return FConnected; }, QDeadlineTimer(ConnectTimeoutMs));
    if (FConnected && !FLinkLost)
        return true;
    if (!FLinkLost)
        FOutput.Error(QStringLiteral("%1: cannot connect: %2")
                          .arg(FOptions.Connection.Text(),
                              FInterrupted ? QStringLiteral("interrupted") : QStringLiteral("no connection within %1 s").arg(ConnectTimeoutMs / 1000)));
    Close();
    return false;
}

void TCliRunner::Close()
{
    FClosing = true;
    FGripper.Disconnect();
}

TCliRunner::TFlow TCliRunner::RunSteps(const TCliProgram& steps)
{
    for (const TCliStep& step : steps) {
        if (!step.IsRepeat) {
            if (RunCommand(step.Command) == TFlow::End)
                return TFlow::End;
            continue;
        }
        for (int i = 0; i < step.Count; ++i)
            if (RunSteps(step.Body) == TFlow::End)
                return TFlow::End;
    }
    return TFlow::Next;
}

TCliRunner::TFlow TCliRunner::RunCommand(const TCliCommand& command)
{
    // Commands that need no waiting (wait 0 in a long repeat) must not keep
    // an interrupt from being seen.
    QCoreApplication::processEvents();
    if (FInterrupted || FLinkLost)
        return TFlow::End;
    const TCliResult result = Execute(command);
    if (FLinkLost)
        return TFlow::End;
    FOutput.Result(result, command.Where);
    if (result.Status != E_SUCCESS)
        FFailed = true;
    if (FInterrupted)
        return TFlow::End;
    return result.Status == E_SUCCESS || FOptions.KeepGoing ? TFlow::Next : TFlow::End;
}

TCliResult TCliRunner::Execute(const TCliCommand& command)
{
    const auto value = [&command](size_t i) { return static_cast<float>(command.Values[i]); };
    switch (command.Verb) {
    case TCliVerb::Info: {
        TSystemInfo info;
        const TStat status = FGripper.GetSystemInfo(info);
        return {command.Name, status, status == E_SUCCESS ? SystemInfoFields(info) : std::vector<TCliField>{}};
    }
    case TCliVerb::Limits: {
        TSystemLimits limits;
        const TStat status = FGripper.GetSystemLimits(limits);
        return {command.Name, status, status == E_SUCCESS ? SystemLimitsFields(limits) : std::vector<TCliField>{}};
    }
    case TCliVerb::Stats: {
        TGraspingStats stats;
        const TStat status = FGripper.GetGraspingStats(stats, command.Reset);
        return {command.Name, status, status == E_SUCCESS ? GraspingStatsFields(stats) : std::vector<TCliField>{}};
    }
    case TCliVerb::State:
        return State(command);
    case TCliVerb::Home:
        return Motion(command, [&](TAsyncResultEvent handler) {
            return FGripper.Homing(command.HasValue() ? static_cast<uint8_t>(command.Values[0]) : 0, handler);
        });
    case TCliVerb::Goto:
        return Motion(command, [&](TAsyncResultEvent handler) { return FGripper.Goto(value(0), value(1), handler); });
    case TCliVerb::Grasp:
        return Motion(command, [&](TAsyncResultEvent handler) { return FGripper.Grasp(value(0), value(1), handler); });
    case TCliVerb::Release:
        return Motion(command, [&](TAsyncResultEvent handler) { return FGripper.Release(value(0), value(1), handler); });
    case TCliVerb::Stop:
        return Plain(command, FGripper.Stop());
    case TCliVerb::FastStop:
        return Plain(command, FGripper.FastStop());
    case TCliVerb::Ack:
        return Plain(command, FGripper.FastStopAck());
    case TCliVerb::Accel:
        if (command.HasValue())
            return Plain(command, FGripper.SetAcceleration(value(0)));
        return Reading(command, QStringLiteral("Acceleration"), "mm/s²", [this](float& v) { return FGripper.GetAcceleration(v); });
    case TCliVerb::ForceLimit:
        if (command.HasValue())
            return Plain(command, FGripper.SetForceLimit(value(0)));
        return Reading(command, QStringLiteral("ForceLimit"), "N", [this](float& v) { return FGripper.GetForceLimit(v); });
    case TCliVerb::Watch:
        return Watch(command);
    case TCliVerb::Raw:
        return Raw(command);
    case TCliVerb::Wait:
        WaitFor([] { return false; }, QDeadlineTimer(static_cast<qint64>(command.Values[0])));
        return Plain(command, FInterrupted ? E_CMD_ABORTED : E_SUCCESS);
    }
    return Plain(command, E_CMD_UNKNOWN);
}

TCliResult TCliRunner::Reading(const TCliCommand& command, const QString& name, const char* unit,
    const std::function<TStat(float&)>& read)
{
    float reading = 0;
    const TStat status = read(reading);
    TCliResult result = Plain(command, status);
    if (status == E_SUCCESS)
        result.Fields.push_back(ReadingField(name, reading, unit));
    return result;
}

TCliResult TCliRunner::State(const TCliCommand& command)
{
    // Each answer passes through the gripper object's state updates, as a
    // report does; the fields are read back from there.
    for (const auto& request : {&THXT::GetSystemState, &THXT::GetGraspingState, &THXT::GetPosition}) {
        const TStat status = (FGripper.*request)();
        if (status != E_SUCCESS)
            return Plain(command, status);
    }
    TCliResult result = Plain(command, E_SUCCESS);
    result.Fields = SystemStateFields(FGripper.SystemState());
    for (TCliField& field : GraspingStateFields(FGripper.GraspingState()))
        result.Fields.push_back(std::move(field));
    result.Fields.push_back(ReadingField(QStringLiteral("Position"), FGripper.Position(), "mm"));
    return result;
}

TCliResult TCliRunner::Motion(const TCliCommand& command, const std::function<TStat(TAsyncResultEvent)>& start)
{
    // The gripper object keeps a handler until the next request with its
    // command byte, so a handler of an earlier motion may still be called:
    // each motion looks only at its own state.
    auto final = std::make_shared<std::optional<TStat>>();
    const TStat status = start([this, final](QObject*, int, TStat result, const TByteArray&) {
        if (!final->has_value()) {
            *final = result;
            Wake();
        }
    });
    if (status != E_CMD_PENDING)
        return Plain(command, status);
    return Plain(command, AwaitFinal([final] { return final->has_value(); }, [final] { return final->value(); }));
}

TStat TCliRunner::AwaitFinal(const std::function<bool()>& arrived, const std::function<TStat()>& status)
{
    const bool done = WaitFor(arrived, QDeadlineTimer(static_cast<qint64>(FOptions.TimeoutSeconds * 1000)));
    if (done)
        return status();
    if (FLinkLost)
        return E_CMD_FAILED;
    if (!FInterrupted)
        FOutput.Error(QStringLiteral("no final result within %1 s; sending STOP").arg(FOptions.TimeoutSeconds));
    // Whoever gives up on a running motion stops it first. An interrupt that
    // comes while waiting for the stopped motion's result ends that wait.
    const TStat stopped = FGripper.Stop();
    const bool wasInterrupted = FInterrupted;
    FInterrupted = false;
    if (stopped == E_SUCCESS)
        WaitFor(arrived, QDeadlineTimer(StopResultTimeoutMs));
    FInterrupted = FInterrupted || wasInterrupted;
    if (!wasInterrupted)
        return E_TIMEOUT;
    return arrived() ? status() : E_CMD_ABORTED;
}

TCliResult TCliRunner::Watch(const TCliCommand& command)
{
    struct TSwitch {
        TStat (THXT::*Request)(bool, int32_t, bool);
        int32_t Period;
        bool Required; // speed and force reports are given by some grippers only
    };
    static constexpr TSwitch Switches[] = {
        {&THXT::AutoUpdateSystemState, StatePeriodMs, true},
        {&THXT::AutoUpdateGraspingState, StatePeriodMs, true},
        {&THXT::AutoUpdatePosition, ReadingPeriodMs, true},
        {&THXT::AutoUpdateSpeed, ReadingPeriodMs, false},
        {&THXT::AutoUpdateForce, ReadingPeriodMs, false},
    };
    FWatching = true;
    TStat status = E_SUCCESS;
    std::vector<const TSwitch*> enabled;
    for (const TSwitch& item : Switches) {
        const TStat answer = (FGripper.*item.Request)(true, item.Period, true);
        if (answer == E_SUCCESS)
            enabled.push_back(&item);
        else if (item.Required)
            status = answer;
        if (status != E_SUCCESS || FLinkLost || FInterrupted)
            break;
    }
    if (status == E_SUCCESS && !FLinkLost) {
        const QDeadlineTimer deadline = command.HasValue()
            ? QDeadlineTimer(static_cast<qint64>(command.Values[0] * 1000))
            : QDeadlineTimer(QDeadlineTimer::Forever);
        WaitFor([] { return false; }, deadline);
        // Ctrl+C ends a watch as its time would; the run goes on.
        FInterrupted = false;
    }
    FWatching = false;
    for (const TSwitch* item : enabled) {
        if (FLinkLost)
            break;
        const TStat answer = (FGripper.*item->Request)(false, 0, false);
        if (status == E_SUCCESS)
            status = answer;
    }
    return Plain(command, status);
}

TCliResult TCliRunner::Raw(const TCliCommand& command)
{
    TByteArray data;
    TStat status = E_SUCCESS;
    if (!FGripper.Execute(command.RawCommand, command.RawPayload, data, status))
        status = E_CMD_FAILED;
    TCliResult result = Plain(command, status);
    result.Fields = {{QStringLiteral("Command"), QString::asprintf("0x%02X", command.RawCommand), QString::asprintf("0x%02X", command.RawCommand)},
        {QStringLiteral("Name"), QString::fromStdString(CommandName(command.RawCommand)), QString::fromStdString(CommandName(command.RawCommand))}};
    if (status == E_CMD_PENDING) {
        // The final answer is the next packet with the same command byte.
        FRawFinal.reset();
        FRawAwaited = command.RawCommand;
        result.Fields.push_back({QStringLiteral("Pending"), true, QStringLiteral("yes")});
        result.Status = AwaitFinal([this] { return FRawFinal.has_value(); },
            [this] { return static_cast<TStat>(FRawFinal->data[0]); });
        data.clear();
        if (FRawFinal)
            data.assign(FRawFinal->data.begin() + 2, FRawFinal->data.begin() + FRawFinal->ValidLength());
    }
    FRawAwaited.reset();
    const QString payload = HexText(data);
    result.Fields.push_back({QStringLiteral("Payload"), payload, payload});
    return result;
}

void TCliRunner::PacketSeen(bool received, const TPacket& packet)
{
    if (!received || packet.ValidLength() < 2)
        return;
    const uint8_t command = static_cast<uint8_t>(packet.command & 0xFF);
    if (FRawAwaited == command && !FRawFinal) {
        FRawFinal = packet;
        Wake();
    }
    if (FWatching && packet.data[0] == E_SUCCESS)
        PrintReport(packet);
}

void TCliRunner::PrintReport(const TPacket& packet)
{
    const uint8_t command = static_cast<uint8_t>(packet.command & 0xFF);
    const int32_t length = packet.ValidLength() - 2;
    std::vector<TCliField> fields;
    if (command == CMD_GET_SYSTEM_STATE && length == 4)
        fields = SystemStateFields(static_cast<uint32_t>(BytesToInt(packet.data[2], packet.data[3], packet.data[4], packet.data[5])));
    else if (command == CMD_GET_GRASPING_STATE && length == 1)
        fields = GraspingStateFields(packet.data[2]);
    else if (command == CMD_GET_POS && length == 4)
        fields = {ReadingField(QStringLiteral("Position"), FloatAt(packet), "mm")};
    else if (command == CMD_GET_SPEED && length == 4)
        fields = {ReadingField(QStringLiteral("Speed"), FloatAt(packet), "mm/s")};
    else if (command == CMD_GET_FORCE && length == 4)
        fields = {ReadingField(QStringLiteral("Force"), FloatAt(packet), "N")};
    else
        return;
    FOutput.Report(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), QString::fromStdString(CommandName(command)), fields);
}

void TCliRunner::Interrupt()
{
    FInterrupted = true;
    Wake();
}

void TCliRunner::TransportReport(TTransportReport kind, const QString& text)
{
    // Before the link stands every error means it cannot be made; later
    // only a lost link ends the run, other errors are shown.
    if (kind == TTransportReport::LinkLost || !FConnected) {
        FLinkLost = true;
        if (FLinkText.isEmpty())
            FLinkText = text;
        Wake();
        return;
    }
    FOutput.Error(FOptions.Connection.Text() + QStringLiteral(": ") + text);
}

bool TCliRunner::WaitFor(const std::function<bool()>& done, QDeadlineTimer deadline)
{
    while (!done()) {
        if (FInterrupted || FLinkLost || deadline.hasExpired())
            return false;
        QEventLoop loop;
        FLoop = &loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (!deadline.isForever())
            timer.start(std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0)));
        loop.exec();
        FLoop = nullptr;
    }
    return true;
}

void TCliRunner::Wake()
{
    if (FLoop)
        FLoop->quit();
}
