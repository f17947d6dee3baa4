#include "CliRunner.h"

#include "CliConnect.h"
#include "CliFields.h"
#include "CliProgram.h"
#include "CliScriptReader.h"
#include "CliSignals.h"
#include "CommandComponent.h"
#include "HXT_commands.h"
#include "UsageError.h"
#include "convert.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// Report periods of watch, as the main window asks for them: state words
// every 50 ms, the position every 100 ms, each sent only when it changed.
constexpr int32_t StatePeriodMs = 50;
constexpr int32_t ReadingPeriodMs = 100;
// How often watch looks whether standard output still has a reader.
constexpr int ReaderCheckMs = 100;

TCliResult Plain(const TCliCommand& command, TStat status)
{
    return {command.Name, status, {}, {}, -1};
}

float FloatAt(const TPacket& packet)
{
    return BytesToSingle(packet.data[2], packet.data[3], packet.data[4], packet.data[5]);
}

TByteArray FloatBytes(double value)
{
    // Only values checked against the limits get here: they fit a float.
    const auto bytes = SingleToBytes(static_cast<float>(value));
    return TByteArray(bytes.begin(), bytes.end());
}

TByteArray PositionSpeed(const TCliCommand& command, bool withFlags)
{
    TByteArray payload;
    if (withFlags)
        payload.push_back(0x00); // absolute
    for (const double value : command.Values) {
        const TByteArray bytes = FloatBytes(value);
        payload.insert(payload.end(), bytes.begin(), bytes.end());
    }
    return payload;
}

// The earlier of two deadlines.
QDeadlineTimer Earliest(QDeadlineTimer a, QDeadlineTimer b) { return a.deadlineNSecs() <= b.deadlineNSecs() ? a : b; }

QString Seconds(double seconds) { return QString::number(seconds, 'g', 6); }

} // namespace

TCliRunner::TCliRunner(THXT& gripper, TCliOutput& output, const TCliOptions& options, QObject* parent)
    : QObject(parent)
    , FGripper(gripper)
    , FOutput(output)
    , FOptions(options)
{
    FOutput.OnFailure = [this] { OutputFailed(FOutput.FailureText()); };
}

int TCliRunner::Run()
{
    const int exit = Session();
    if (FOutputLost) {
        FOutput.Error(FOutputFailure);
        return ExitCommandFailed;
    }
    if (Interrupted()) {
        FOutput.Error(QStringLiteral("interrupted by %1").arg(QLatin1String(CliSignalName(CliLastSignal()))));
        return ExitCommandFailed;
    }
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
    if (Ending() || !Connect())
        return ExitConnection;
    ReadLimits();
    if (Ending()) {
        Close();
        return ExitConnection;
    }
    try {
        CheckCliLimits(FOptions.Program, FLimits);
    } catch (const TLimitsUnknown& error) {
        FOutput.Error(error.Message());
        Close();
        return ExitConnection;
    } catch (const TUsageError& error) {
        FOutput.Error(error.Message());
        Close();
        return ExitUsage;
    }
    RunSteps(FOptions.Program);
    Close();
    if (FExit)
        return *FExit;
    return FFailed ? ExitCommandFailed : ExitSuccess;
}

bool TCliRunner::Connect()
{
    FGripper.OnConnect = [this](QObject*) {
        FConnected = true;
        if (OnConnected)
            OnConnected();
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
    if (FConnected && !Ending())
        return true;
    if (!Ending())
        FOutput.Error(QStringLiteral("%1: cannot connect: no connection within %2 s").arg(FOptions.Connection.Text()).arg(ConnectTimeoutMs / 1000));
    Close();
    return false;
}

void TCliRunner::Close()
{
    FClosing = true;
    FGripper.Disconnect();
}

void TCliRunner::ReadLimits()
{
    const TAnswer answer = Request(CMD_GET_SYSTEM_LIMITS, {}, AnswerDeadline());
    TSystemLimits limits;
    if (!answer.Arrived)
        FLimits.Unknown = QStringLiteral("the system limits could not be read (no answer)");
    else if (answer.Status != E_SUCCESS)
        FLimits.Unknown = QStringLiteral("the system limits could not be read (%1: %2)")
                              .arg(QString::fromStdString(StatusName(answer.Status)), QString::fromStdString(StatusText(answer.Status)));
    else if (!DecodeSystemLimits(answer.Payload, limits))
        FLimits.Unknown = QStringLiteral("the gripper's answer with the system limits is unusable (%1 bytes instead of 32)")
                              .arg(answer.Payload.size());
    else if (!LimitsUsable(limits))
        FLimits.Unknown = QStringLiteral("the gripper's system limits are unusable (a value that is not a number, or a minimum above its maximum)");
    else
        FLimits.Limits = limits;
}

TCliRunner::TFlow TCliRunner::RunSteps(const TCliProgram& steps)
{
    // The counts still to run of the blocks entered, innermost last.
    std::vector<int> left;
    size_t pc = 0;
    while (pc < steps.size()) {
        const TCliStep& step = steps[pc];
        switch (step.Kind) {
        case TCliStepKind::Command:
            if (RunCommand(step.Command) == TFlow::End)
                return TFlow::End;
            ++pc;
            break;
        case TCliStepKind::Repeat:
            if (step.Count == 0) {
                pc = step.Partner + 1;
            } else {
                left.push_back(step.Count);
                ++pc;
            }
            break;
        case TCliStepKind::End:
            // An empty block repeated often must not keep an interrupt
            // from being seen.
            if (Ending())
                return TFlow::End;
            if (--left.back() > 0) {
                pc = step.Partner + 1;
            } else {
                left.pop_back();
                ++pc;
            }
            break;
        case TCliStepKind::Stdin:
            if (RunStdin(step.Command.Where) == TFlow::End)
                return TFlow::End;
            ++pc;
            break;
        }
    }
    return TFlow::Next;
}

TCliRunner::TFlow TCliRunner::RunStdin(const QString& where)
{
    TCliScriptReader reader(0, false);
    // Watches standard input only while a line is awaited, and is made only
    // when one has to be (never for a file or a closed descriptor).
    std::unique_ptr<QSocketNotifier> notifier;
    bool readable = false;
    // A line is run as soon as it is read; a repeated block once its end
    // has been read. Only the block being read is kept.
    std::optional<TCliProgramBuilder> block;
    QByteArray bytes;
    try {
        for (;;) {
            const TCliScriptReader::TRead read = reader.Next(bytes);
            const QString here = QStringLiteral("stdin:%1").arg(reader.LineNumber());
            switch (read) {
            case TCliScriptReader::TRead::End:
                if (block)
                    block->Finish();
                return TFlow::Next;
            case TCliScriptReader::TRead::NeedMore:
                if (!notifier) {
                    notifier = std::make_unique<QSocketNotifier>(reader.Fd(), QSocketNotifier::Read);
                    connect(notifier.get(), &QSocketNotifier::activated, this, [&] {
                        readable = true;
                        notifier->setEnabled(false);
                        Wake();
                    });
                }
                readable = false;
                notifier->setEnabled(true);
                WaitFor([&readable] { return readable; }, QDeadlineTimer(QDeadlineTimer::Forever));
                notifier->setEnabled(false);
                if (Ending())
                    return TFlow::End;
                continue;
            case TCliScriptReader::TRead::TooLong:
                throw TUsageError(QStringLiteral("%1: line longer than %2 bytes").arg(here).arg(TCliScriptReader::MaxLineBytes));
            case TCliScriptReader::TRead::Failed:
                throw TUsageError(QStringLiteral("%1: run: cannot read standard input: %2").arg(where, reader.ErrorText()));
            case TCliScriptReader::TRead::Line:
                break;
            }
            QStringList words = SplitCliWords(QString::fromUtf8(bytes));
            if (words.isEmpty())
                continue;
            if (!block)
                block.emplace(TCliProgramBuilder::TSource::Script);
            block->CountScriptLine(bytes.size() + 1, here);
            block->Add({std::move(words), here});
            if (block->Depth() > 0)
                continue;
            const TCliProgram steps = block->Finish();
            block.reset();
            CheckCliLimits(steps, FLimits);
            if (RunSteps(steps) == TFlow::End)
                return TFlow::End;
        }
    } catch (const TLimitsUnknown& error) {
        FOutput.Error(error.Message());
        FExit = ExitConnection;
    } catch (const TUsageError& error) {
        FOutput.Error(error.Message());
        FExit = ExitUsage;
    }
    return TFlow::End;
}

TCliRunner::TFlow TCliRunner::RunCommand(const TCliCommand& command)
{
    // Commands that need no waiting (wait 0 in a long repeat) must not keep
    // a lost link from being seen.
    QCoreApplication::processEvents();
    if (Ending())
        return TFlow::End;
    const QString start = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    QElapsedTimer clock;
    clock.start();
    TCliResult result = Execute(command);
    if (FLinkLost || FOutputLost)
        return TFlow::End;
    result.Start = start;
    result.DurationMs = static_cast<double>(clock.nsecsElapsed() / 1000) / 1000.0;
    FOutput.Result(result, command.Where);
    if (result.Status != E_SUCCESS)
        FFailed = true;
    if (Ending())
        return TFlow::End;
    return result.Status == E_SUCCESS || FOptions.KeepGoing ? TFlow::Next : TFlow::End;
}

TCliResult TCliRunner::Execute(const TCliCommand& command)
{
    switch (command.Verb) {
    case TCliVerb::Info:
        return Get(command, CMD_GET_SYSINFO, {}, 8, [](const TByteArray& payload) {
            TSystemInfo info;
            DecodeSystemInfo(payload, info);
            return SystemInfoFields(info);
        });
    case TCliVerb::Limits:
        return Get(command, CMD_GET_SYSTEM_LIMITS, {}, 32, [](const TByteArray& payload) {
            TSystemLimits limits;
            DecodeSystemLimits(payload, limits);
            return SystemLimitsFields(limits);
        });
    case TCliVerb::Stats:
        return Get(command, CMD_GET_GRASPING_STATS, {static_cast<uint8_t>(command.Reset ? 1 : 0)}, 8, [](const TByteArray& payload) {
            TGraspingStats stats;
            DecodeGraspingStats(payload, stats);
            return GraspingStatsFields(stats);
        });
    case TCliVerb::State:
        return State(command);
    case TCliVerb::Home:
        return Motion(command, CMD_HOMING, {static_cast<uint8_t>(command.HasValue() ? command.Values[0] : 0)});
    case TCliVerb::Goto:
        return Motion(command, CMD_GOTO, PositionSpeed(command, true));
    case TCliVerb::Grasp:
        return Motion(command, CMD_GRASP_RAW, PositionSpeed(command, false));
    case TCliVerb::Release:
        return Motion(command, CMD_RELEASE_RAW, PositionSpeed(command, false));
    case TCliVerb::Stop:
        return Set(command, CMD_STOP, {});
    case TCliVerb::FastStop:
        return Set(command, CMD_FAST_STOP, {});
    case TCliVerb::Ack:
        return Set(command, CMD_FAST_STOP_ACK, {0x61, 0x63, 0x6B});
    case TCliVerb::Accel:
        if (command.HasValue())
            return Set(command, CMD_SET_ACCELERATION, FloatBytes(command.Values[0]));
        return Get(command, CMD_GET_ACCELERATION, {}, 4, [](const TByteArray& payload) {
            return std::vector<TCliField>{ReadingField(QStringLiteral("Acceleration"), SingleAt(payload.data()), "mm/s²")};
        });
    case TCliVerb::ForceLimit:
        if (command.HasValue())
            return Set(command, CMD_SET_FORCE_LIMIT, FloatBytes(command.Values[0]));
        return Get(command, CMD_GET_FORCE_LIMIT, {}, 4, [](const TByteArray& payload) {
            return std::vector<TCliField>{ReadingField(QStringLiteral("ForceLimit"), SingleAt(payload.data()), "N")};
        });
    case TCliVerb::Watch:
        return Watch(command);
    case TCliVerb::Raw:
        return Raw(command);
    case TCliVerb::Wait:
        return Wait(command);
    }
    return Plain(command, E_CMD_UNKNOWN);
}

TCliResult TCliRunner::Get(const TCliCommand& command, uint8_t cmd, const TByteArray& payload, size_t length,
    const std::function<std::vector<TCliField>(const TByteArray&)>& fields)
{
    const TAnswer answer = Request(cmd, payload, AnswerDeadline());
    // An answer without the record it must carry is a failure, whatever
    // its status says.
    if (answer.Status == E_SUCCESS && answer.Payload.size() != length)
        return Plain(command, E_CMD_FAILED);
    TCliResult result = Plain(command, answer.Status);
    if (answer.Status == E_SUCCESS)
        result.Fields = fields(answer.Payload);
    return result;
}

TCliResult TCliRunner::Set(const TCliCommand& command, uint8_t cmd, const TByteArray& payload)
{
    return Plain(command, Request(cmd, payload, AnswerDeadline()).Status);
}

TCliResult TCliRunner::State(const TCliCommand& command)
{
    TCliResult result = Plain(command, E_SUCCESS);
    const TAnswer state = Request(CMD_GET_SYSTEM_STATE, {}, AnswerDeadline());
    if (state.Status != E_SUCCESS || state.Payload.size() != 4)
        return Plain(command, state.Status == E_SUCCESS ? E_CMD_FAILED : state.Status);
    const TAnswer grasping = Request(CMD_GET_GRASPING_STATE, {}, AnswerDeadline());
    if (grasping.Status != E_SUCCESS || grasping.Payload.size() != 1)
        return Plain(command, grasping.Status == E_SUCCESS ? E_CMD_FAILED : grasping.Status);
    const TAnswer position = Request(CMD_GET_POS, {}, AnswerDeadline());
    if (position.Status != E_SUCCESS || position.Payload.size() != 4)
        return Plain(command, position.Status == E_SUCCESS ? E_CMD_FAILED : position.Status);
    result.Fields = SystemStateFields(static_cast<uint32_t>(IntAt(state.Payload.data())));
    for (TCliField& field : GraspingStateFields(grasping.Payload[0]))
        result.Fields.push_back(std::move(field));
    result.Fields.push_back(ReadingField(QStringLiteral("Position"), SingleAt(position.Payload.data()), "mm"));
    return result;
}

TCliResult TCliRunner::Motion(const TCliCommand& command, uint8_t cmd, const TByteArray& payload)
{
    const QDeadlineTimer deadline(static_cast<qint64>(FOptions.TimeoutSeconds * 1000), Qt::PreciseTimer);
    const TAnswer first = Request(cmd, payload, Earliest(deadline, AnswerDeadline()));
    TCliResult result = Plain(command, first.Status);
    if (!first.Arrived) {
        // The request may have reached the gripper and started the motion.
        result.Status = GiveUp(command, cmd, false, deadline,
            QStringLiteral("no answer within %1 s").arg(Seconds(std::min<double>(AnswerTimeoutMs / 1000.0, FOptions.TimeoutSeconds))));
        return result;
    }
    if (first.Status == E_CMD_PENDING) {
        if (const auto final = AwaitFinal(cmd, deadline)) {
            result.Status = *final;
        } else {
            result.Status = GiveUp(command, cmd, true, deadline,
                QStringLiteral("no final result within %1 s").arg(Seconds(FOptions.TimeoutSeconds)));
            return result;
        }
    }
    const bool width = command.Verb == TCliVerb::Grasp || command.Verb == TCliVerb::Release;
    AddFinalPosition(result, width ? QStringLiteral("Width") : QStringLiteral("Position"));
    return result;
}

std::optional<TStat> TCliRunner::AwaitFinal(uint8_t cmd, QDeadlineTimer deadline)
{
    FAwaited.insert(cmd);
    std::optional<TPacket> final;
    WaitFor([&] { return (final = Take(cmd)).has_value(); }, deadline);
    FAwaited.erase(cmd);
    if (!final)
        return std::nullopt;
    return final->ValidLength() < 2 ? E_CMD_FAILED : static_cast<TStat>(BytesToWord(final->data[0], final->data[1]) & 0xFF);
}

TStat TCliRunner::GiveUp(const TCliCommand& command, uint8_t cmd, bool pending, QDeadlineTimer deadline, const QString& why)
{
    if (FLinkLost)
        return E_CMD_FAILED;
    const bool interrupted = Interrupted() || FOutputLost;
    if (!interrupted)
        FOutput.Error(QStringLiteral("%1: %2: %3; sending STOP").arg(command.Where, command.Name, why));
    // STOP's answer and the stopped motion's final result are awaited for
    // what remains of --timeout and StopGraceMs more, but no longer than an
    // answer; a further termination signal ends the wait at once.
    const qint64 remaining = std::max<qint64>(0, deadline.remainingTime());
    const QDeadlineTimer stopDeadline(std::min<qint64>(AnswerTimeoutMs, remaining + StopGraceMs), Qt::PreciseTimer);
    FSignalsAtStop = CliSignalCount();
    if (pending)
        FAwaited.insert(cmd);
    const TAnswer stopped = Request(CMD_STOP, {}, stopDeadline, TWait::Stop);
    std::optional<TPacket> final;
    if (pending && stopped.Arrived)
        WaitFor([&] { return (final = Take(cmd)).has_value(); }, stopDeadline, TWait::Stop);
    FAwaited.erase(cmd);
    if (!interrupted)
        return E_TIMEOUT;
    if (final && final->ValidLength() >= 2)
        return static_cast<TStat>(BytesToWord(final->data[0], final->data[1]) & 0xFF);
    return E_CMD_ABORTED;
}

void TCliRunner::AddFinalPosition(TCliResult& result, const QString& name)
{
    if (!FOptions.Json || Ending())
        return;
    const TAnswer position = Request(CMD_GET_POS, {}, AnswerDeadline());
    if (position.Status != E_SUCCESS || position.Payload.size() != 4)
        return;
    TCliField field = ReadingField(name, SingleAt(position.Payload.data()), "mm");
    field.JsonOnly = true;
    result.Fields.push_back(std::move(field));
}

TCliResult TCliRunner::Watch(const TCliCommand& command)
{
    struct TSwitch {
        uint8_t Command;
        int32_t Period;
        bool Required; // speed and force reports are given by some grippers only
    };
    static constexpr TSwitch Switches[] = {
        {CMD_GET_SYSTEM_STATE, StatePeriodMs, true},
        {CMD_GET_GRASPING_STATE, StatePeriodMs, true},
        {CMD_GET_POS, ReadingPeriodMs, true},
        {CMD_GET_SPEED, ReadingPeriodMs, false},
        {CMD_GET_FORCE, ReadingPeriodMs, false},
    };
    FWatching = true;
    TStat status = E_SUCCESS;
    std::vector<const TSwitch*> enabled;
    for (const TSwitch& item : Switches) {
        // Enabled, only when changed, every Period ms.
        const TByteArray on{0x03, static_cast<uint8_t>(item.Period & 0xFF), static_cast<uint8_t>((item.Period >> 8) & 0xFF)};
        const TAnswer answer = Request(item.Command, on, AnswerDeadline());
        if (answer.Status == E_SUCCESS)
            enabled.push_back(&item);
        else if (item.Required || Ending())
            status = answer.Status;
        if (status != E_SUCCESS)
            break;
    }
    if (status == E_SUCCESS) {
        // Seconds are at most a day (CliSyntax.h): the count fits.
        const QDeadlineTimer deadline = command.HasValue()
            ? QDeadlineTimer(static_cast<qint64>(command.Values[0] * 1000), Qt::PreciseTimer)
            : QDeadlineTimer(QDeadlineTimer::Forever);
        // A reader that has gone away is seen even while no report comes.
        QTimer readerCheck;
        connect(&readerCheck, &QTimer::timeout, this, [this] { FOutput.CheckReader(); });
        readerCheck.start(ReaderCheckMs);
        WaitFor([] { return false; }, deadline);
        if (Interrupted())
            status = E_CMD_ABORTED;
    }
    FWatching = false;
    // Reports are switched off again, also when the run ends; then within
    // StopGraceMs, and a further signal ends it at once.
    const bool ending = Ending();
    FSignalsAtStop = CliSignalCount();
    const QDeadlineTimer ended(StopGraceMs, Qt::PreciseTimer);
    for (const TSwitch* item : enabled) {
        if (FLinkLost)
            break;
        const TAnswer answer = ending ? Request(item->Command, {0, 0, 0}, ended, TWait::Stop)
                                      : Request(item->Command, {0, 0, 0}, AnswerDeadline());
        if (status == E_SUCCESS)
            status = answer.Status;
        if (ending && CliSignalCount() != FSignalsAtStop)
            break;
    }
    return Plain(command, status);
}

TCliResult TCliRunner::Raw(const TCliCommand& command)
{
    const uint8_t cmd = command.RawCommand;
    const QDeadlineTimer deadline(static_cast<qint64>(FOptions.TimeoutSeconds * 1000), Qt::PreciseTimer);
    const TAnswer first = Request(cmd, command.RawPayload, Earliest(deadline, AnswerDeadline()));
    TCliResult result = Plain(command, first.Status);
    result.Fields = {{QStringLiteral("Command"), QString::asprintf("0x%02X", cmd), QString::asprintf("0x%02X", cmd)},
        {QStringLiteral("Name"), QString::fromStdString(CommandName(cmd)), QString::fromStdString(CommandName(cmd))}};
    TByteArray data = first.Payload;
    if (!first.Arrived && IsMotionCommand(cmd)) {
        result.Status = GiveUp(command, cmd, false, deadline,
            QStringLiteral("no answer within %1 s").arg(Seconds(std::min<double>(AnswerTimeoutMs / 1000.0, FOptions.TimeoutSeconds))));
    } else if (first.Status == E_CMD_PENDING) {
        // The final answer is the next packet with the same command byte.
        result.Fields.push_back({QStringLiteral("Pending"), true, QStringLiteral("yes")});
        data.clear();
        FAwaited.insert(cmd);
        std::optional<TPacket> final;
        WaitFor([&] { return (final = Take(cmd)).has_value(); }, deadline);
        FAwaited.erase(cmd);
        if (final && final->ValidLength() >= 2) {
            result.Status = static_cast<TStat>(BytesToWord(final->data[0], final->data[1]) & 0xFF);
            data.assign(final->data.begin() + 2, final->data.begin() + final->ValidLength());
        } else if (final) {
            result.Status = E_CMD_FAILED;
        } else {
            result.Status = GiveUp(command, cmd, true, deadline, QStringLiteral("no final result within %1 s").arg(Seconds(FOptions.TimeoutSeconds)));
        }
    }
    const QString payload = HexText(data);
    result.Fields.push_back({QStringLiteral("Payload"), payload, payload});
    return result;
}

TCliResult TCliRunner::Wait(const TCliCommand& command)
{
    // Milliseconds are at most a day (CliSyntax.h).
    WaitFor([] { return false; }, QDeadlineTimer(static_cast<qint64>(command.Values[0]), Qt::PreciseTimer));
    return Plain(command, Interrupted() ? E_CMD_ABORTED : E_SUCCESS);
}

TCliRunner::TAnswer TCliRunner::Request(uint8_t cmd, const TByteArray& payload, QDeadlineTimer deadline, TWait mode)
{
    TAnswer answer;
    if (FLinkLost || (mode == TWait::Run && Ending())) {
        answer.Status = Interrupted() ? E_CMD_ABORTED : E_CMD_FAILED;
        return answer;
    }
    TPacket request;
    request.command = cmd;
    request.length = static_cast<int32_t>(payload.size());
    request.data = payload;
    // Packets of this command byte from before the request are not its answer.
    std::erase_if(FReceived, [cmd](const TPacket& p) { return (p.command & 0xFF) == cmd; });
    if (FGripper.Dispatcher()->SendPacket(request) != E_SUCCESS)
        return answer;
    FAwaited.insert(cmd);
    if (FGripper.PacketLog)
        FGripper.PacketLog(request, false);
    std::optional<TPacket> packet;
    WaitFor([&] { return (packet = Take(cmd)).has_value(); }, deadline, mode);
    FAwaited.erase(cmd);
    if (!packet) {
        answer.Status = Interrupted() ? E_CMD_ABORTED : E_CMD_FAILED;
        return answer;
    }
    answer.Arrived = true;
    if (packet->ValidLength() < 2)
        return answer;
    answer.Status = static_cast<TStat>(BytesToWord(packet->data[0], packet->data[1]) & 0xFF);
    answer.Payload.assign(packet->data.begin() + 2, packet->data.begin() + packet->ValidLength());
    return answer;
}

std::optional<TPacket> TCliRunner::Take(uint8_t cmd)
{
    const auto it = std::find_if(FReceived.begin(), FReceived.end(), [cmd](const TPacket& p) { return (p.command & 0xFF) == cmd; });
    if (it == FReceived.end())
        return std::nullopt;
    TPacket packet = std::move(*it);
    FReceived.erase(it);
    return packet;
}

QDeadlineTimer TCliRunner::AnswerDeadline() const
{
    return QDeadlineTimer(std::min<qint64>(AnswerTimeoutMs, static_cast<qint64>(FOptions.TimeoutSeconds * 1000)), Qt::PreciseTimer);
}

void TCliRunner::PacketSeen(bool received, const TPacket& packet)
{
    if (!received)
        return;
    const uint8_t command = static_cast<uint8_t>(packet.command & 0xFF);
    if (FAwaited.count(command)) {
        FReceived.push_back(packet);
        Wake();
    }
    if (FWatching && packet.ValidLength() >= 2 && packet.data[0] == E_SUCCESS)
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

void TCliRunner::Interrupt() { Wake(); }

void TCliRunner::OutputFailed(const QString& text)
{
    if (FOutputLost)
        return;
    FOutputLost = true;
    FOutputFailure = text;
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

bool TCliRunner::Interrupted() const { return CliSignalCount() > 0; }

bool TCliRunner::Ending() const { return Interrupted() || FOutputLost || FLinkLost; }

bool TCliRunner::WaitFor(const std::function<bool()>& done, QDeadlineTimer deadline, TWait mode)
{
    while (!done()) {
        if (FLinkLost || deadline.hasExpired())
            return false;
        if (mode == TWait::Run ? Ending() : CliSignalCount() != FSignalsAtStop)
            return false;
        QEventLoop loop;
        FLoop = &loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
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
