#include "CliRunner.h"

#include "CliConnect.h"
#include "CliFields.h"
#include "CliProgram.h"
#include "CliScriptReader.h"
#include "CliSignals.h"
#include "HXT_commands.h"
#include "MotionRequests.h"
#include "SystemRecords.h"
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
// How often watch looks whether standard output still has a reader and
// the link still stands.
constexpr int ReaderCheckMs = 100;
// Longest wait for the answers that switch watch's reports off when the
// run ends.
constexpr std::chrono::milliseconds SwitchOffGrace{1000};

TCliResult Plain(const TCliCommand& command, TStat status)
{
    TCliResult result;
    result.Command = command.Name;
    result.Status = status;
    return result;
}

// Only values checked against the limits get here: they fit a float.
float Float(const TCliCommand& command, size_t index) { return static_cast<float>(command.Values[index]); }

TByteArray FloatBytes(float value)
{
    const auto bytes = SingleToBytes(value);
    return TByteArray(bytes.begin(), bytes.end());
}

QString Seconds(double seconds) { return QString::number(seconds, 'g', 6); }

uint8_t ReportCommand(krm::Report::Kind kind)
{
    switch (kind) {
    case krm::Report::Kind::flags:
        return CMD_GET_SYSTEM_STATE;
    case krm::Report::Kind::grasping_state:
        return CMD_GET_GRASPING_STATE;
    case krm::Report::Kind::position:
        return CMD_GET_POS;
    case krm::Report::Kind::speed:
        return CMD_GET_SPEED;
    case krm::Report::Kind::force:
        break;
    }
    return CMD_GET_FORCE;
}

// How the STOP after a given-up motion went, for the operator.
QString StopWords(const krm::StopOutcome& stop)
{
    switch (stop.kind) {
    case krm::StopOutcome::Kind::answered:
        return QStringLiteral("STOP answered");
    case krm::StopOutcome::Kind::refused:
        return QStringLiteral("STOP refused: %1: %2")
            .arg(QString::fromStdString(krm::status_name(stop.status)), QString::fromStdString(krm::status_text(stop.status)));
    case krm::StopOutcome::Kind::unanswered:
        return QStringLiteral("no answer to STOP either");
    case krm::StopOutcome::Kind::not_awaited:
        return QStringLiteral("STOP's answer not awaited");
    case krm::StopOutcome::Kind::not_sent:
        break;
    }
    return QStringLiteral("STOP could not be sent");
}

} // namespace

TCliRunner::TCliRunner(TCliOutput& output, const TCliOptions& options, QObject* parent)
    : QObject(parent)
    , FOutput(output)
    , FOptions(options)
{
    FOutput.OnFailure = [this] { OutputFailed(FOutput.FailureText()); };
}

TCliRunner::~TCliRunner() = default;

int TCliRunner::Run()
{
    const int exit = Session();
    if (FOutputLost) {
        std::lock_guard lock(FOutputMutex);
        FOutput.Error(FOutputFailure);
        return ExitCommandFailed;
    }
    if (Interrupted()) {
        FOutput.Error(QStringLiteral("interrupted by %1").arg(QLatin1String(CliSignalName(CliLastSignal()))));
        return ExitCommandFailed;
    }
    if (FLinkLost) {
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
    // Limits are read only when a command of the program needs them.
    if (!EnsureLimits(FOptions.Program)) {
        Close();
        return FExit.value_or(ExitConnection);
    }
    try {
        if (FLimits)
            CheckCliLimits(FOptions.Program, *FLimits);
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
    krm::Options options;
    options.timeout = std::chrono::milliseconds(ConnectTimeoutMs);
    options.reports.clear();
    options.read_limits = false;
    options.interrupt_check = [this] { return NewInterrupt(); };
    try {
        FGripper.emplace(krm::Gripper::open(CliConnectionString(FOptions.Connection).toStdString(), options));
    } catch (const krm::InterruptedError&) {
        return false;
    } catch (const krm::ConnectionError& error) {
        const QString cause = QString::fromStdString(error.cause());
        FOutput.Error(QStringLiteral("%1: cannot connect: %2")
                          .arg(FOptions.Connection.Text(),
                              cause == QLatin1String("timeout") ? QStringLiteral("no connection within %1 s").arg(ConnectTimeoutMs / 1000) : cause));
        return false;
    }
    FConnected = true;
    if (OnConnected)
        OnConnected();
    if (OnPacket)
        FGripper->on_packet(OnPacket);
    FGripper->on_report([this](const krm::Report& report) {
        QMetaObject::invokeMethod(this, [this, report] { PrintReport(report); }, Qt::QueuedConnection);
    }).release();
    return true;
}

void TCliRunner::Close()
{
    if (FGripper)
        FGripper->close();
}

bool TCliRunner::EnsureLimits(const TCliProgram& steps)
{
    if (FLimits || std::none_of(steps.begin(), steps.end(), [](const TCliStep& step) {
            return step.Kind == TCliStepKind::Command && CarriesLimitedValue(step.Command);
        }))
        return true;
    TCliCommand reading;
    reading.Name = QStringLiteral("limits");
    const TAnswer answer = Request(reading, CMD_GET_SYSTEM_LIMITS, {}, AnswerTimeout());
    if (Ending())
        return false;
    TCliLimits known;
    TSystemLimits limits;
    if (!answer.Arrived)
        known.Unknown = QStringLiteral("the system limits could not be read (%1)").arg(answer.Failure);
    else if (answer.Status != E_SUCCESS)
        known.Unknown = QStringLiteral("the system limits could not be read (%1: %2)")
                            .arg(QString::fromStdString(StatusName(answer.Status)), QString::fromStdString(StatusText(answer.Status)));
    else if (!DecodeSystemLimits(answer.Payload, limits))
        known.Unknown = QStringLiteral("the system limits could not be read (%1)")
                            .arg(QString::fromStdString(AnswerLengthFault(answer.Payload.size(), 32)));
    else if (const std::string fault = LimitsFault(limits); !fault.empty())
        known.Unknown = QStringLiteral("the gripper's system limits are unusable: %1").arg(QString::fromStdString(fault));
    else
        known.Limits = limits;
    FLimits = known;
    return true;
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
            if (!EnsureLimits(steps))
                return TFlow::End;
            CheckCliLimits(steps, *FLimits);
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
        return Motion(command, CMD_HOMING, HomingPayload(static_cast<uint8_t>(command.HasValue() ? command.Values[0] : 0)));
    case TCliVerb::Goto:
        return Motion(command, CMD_GOTO, GotoPayload(Float(command, 0), Float(command, 1)));
    case TCliVerb::Grasp:
        return Motion(command, CMD_GRASP_RAW, GraspPayload(Float(command, 0), Float(command, 1)));
    case TCliVerb::Release:
        return Motion(command, CMD_RELEASE_RAW, ReleasePayload(Float(command, 0), Float(command, 1)));
    case TCliVerb::Stop:
        return Set(command, CMD_STOP, {});
    case TCliVerb::FastStop:
        return Set(command, CMD_FAST_STOP, {});
    case TCliVerb::Ack:
        return Set(command, CMD_FAST_STOP_ACK, {0x61, 0x63, 0x6B});
    case TCliVerb::Accel:
        if (command.HasValue())
            return Set(command, CMD_SET_ACCELERATION, FloatBytes(Float(command, 0)));
        return Get(command, CMD_GET_ACCELERATION, {}, 4, [](const TByteArray& payload) {
            return std::vector<TCliField>{ReadingField(QStringLiteral("Acceleration"), SingleAt(payload.data()), "mm/s²")};
        });
    case TCliVerb::ForceLimit:
        if (command.HasValue())
            return Set(command, CMD_SET_FORCE_LIMIT, FloatBytes(Float(command, 0)));
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
    TAnswer answer = Request(command, cmd, payload, AnswerTimeout());
    // An answer without the record it must carry is a failure, whatever
    // its status says.
    if (answer.Arrived && answer.Status == E_SUCCESS && answer.Payload.size() != length) {
        answer.Arrived = false;
        answer.Status = E_CMD_FAILED;
        answer.Failure = QString::fromStdString(AnswerLengthFault(answer.Payload.size(), length));
        answer.FailureName = QStringLiteral("BAD_ANSWER");
    }
    if (!answer.Arrived)
        return Unanswered(command, answer);
    TCliResult result = Plain(command, answer.Status);
    if (answer.Status == E_SUCCESS)
        result.Fields = fields(answer.Payload);
    return result;
}

TCliResult TCliRunner::Set(const TCliCommand& command, uint8_t cmd, const TByteArray& payload)
{
    const TAnswer answer = Request(command, cmd, payload, AnswerTimeout());
    return answer.Arrived ? Plain(command, answer.Status) : Unanswered(command, answer);
}

TCliResult TCliRunner::State(const TCliCommand& command)
{
    struct TPart {
        uint8_t Command;
        size_t Length;
        TByteArray Value;
    };
    TPart parts[] = {{CMD_GET_SYSTEM_STATE, 4, {}}, {CMD_GET_GRASPING_STATE, 1, {}}, {CMD_GET_POS, 4, {}}};
    for (TPart& part : parts) {
        const TCliResult read = Get(command, part.Command, {}, part.Length, [&part](const TByteArray& value) {
            part.Value = value;
            return std::vector<TCliField>{};
        });
        if (read.Status != E_SUCCESS)
            return read;
    }
    TCliResult result = Plain(command, E_SUCCESS);
    result.Fields = SystemStateFields(static_cast<uint32_t>(IntAt(parts[0].Value.data())));
    for (TCliField& field : GraspingStateFields(parts[1].Value[0]))
        result.Fields.push_back(std::move(field));
    result.Fields.push_back(ReadingField(QStringLiteral("Position"), SingleAt(parts[2].Value.data()), "mm"));
    return result;
}

TCliResult TCliRunner::Motion(const TCliCommand& command, uint8_t cmd, const TByteArray& payload)
{
    const TAnswer answer = Request(command, cmd, payload, MotionTimeout());
    if (!answer.Arrived)
        return Unanswered(command, answer);
    TCliResult result = Plain(command, answer.Status);
    // Refused at once: nothing moved.
    if (!answer.Pending && answer.Status != E_SUCCESS)
        return result;
    const bool width = command.Verb == TCliVerb::Grasp || command.Verb == TCliVerb::Release;
    AddFinalPosition(result, width ? QStringLiteral("Width") : QStringLiteral("Position"));
    return result;
}

void TCliRunner::AddFinalPosition(TCliResult& result, const QString& name)
{
    if (!FOptions.Json || Ending())
        return;
    TCliCommand reading;
    reading.Name = result.Command;
    const TAnswer position = Request(reading, CMD_GET_POS, {}, AnswerTimeout());
    if (!position.Arrived || position.Status != E_SUCCESS || position.Payload.size() != 4)
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
    TCliResult result = Plain(command, E_SUCCESS);
    std::vector<const TSwitch*> enabled;
    for (const TSwitch& item : Switches) {
        // Enabled, only when changed, every Period ms.
        const TByteArray on{0x03, static_cast<uint8_t>(item.Period & 0xFF), static_cast<uint8_t>((item.Period >> 8) & 0xFF)};
        const TAnswer answer = Request(command, item.Command, on, AnswerTimeout());
        if (answer.Arrived && answer.Status == E_SUCCESS) {
            enabled.push_back(&item);
            PrintAnswerValue(item.Command, answer.Payload);
        }
        else if (!answer.Arrived && (item.Required || Ending()))
            result = Unanswered(command, answer);
        else if (item.Required)
            result.Status = answer.Status;
        if (result.Status != E_SUCCESS)
            break;
    }
    if (result.Status == E_SUCCESS) {
        // Seconds are at most a day (CliSyntax.h): the count fits.
        const QDeadlineTimer deadline = command.HasValue()
            ? QDeadlineTimer(static_cast<qint64>(command.Values[0] * 1000), Qt::PreciseTimer)
            : QDeadlineTimer(QDeadlineTimer::Forever);
        // A reader that has gone away, and a lost link, are seen even while
        // no report comes.
        QTimer readerCheck;
        connect(&readerCheck, &QTimer::timeout, this, [this] {
            FOutput.CheckReader();
            if (!FGripper->is_open())
                LinkDown();
        });
        readerCheck.start(ReaderCheckMs);
        WaitFor([] { return false; }, deadline);
        if (Interrupted())
            result.Status = E_CMD_ABORTED;
    }
    FWatching = false;
    // Reports are switched off again, also when the run ends; then within
    // a second, and a further signal ends it at once.
    const bool ending = Ending();
    for (const TSwitch* item : enabled) {
        if (FLinkLost)
            break;
        const TAnswer answer = Request(command, item->Command, {0, 0, 0}, ending ? SwitchOffGrace : AnswerTimeout(), true);
        if (result.Status == E_SUCCESS)
            result = answer.Arrived ? Plain(command, answer.Status) : Unanswered(command, answer);
        if (ending && CliSignalCount() != FSignalsSeen)
            break;
    }
    return result;
}

TCliResult TCliRunner::Raw(const TCliCommand& command)
{
    const uint8_t cmd = command.RawCommand;
    const TAnswer answer = Request(command, cmd, command.RawPayload, IsMotionCommand(cmd) ? MotionTimeout() : AnswerTimeout());
    TCliResult result = answer.Arrived ? Plain(command, answer.Status) : Unanswered(command, answer);
    result.Fields = {{QStringLiteral("Command"), QString::asprintf("0x%02X", cmd), QString::asprintf("0x%02X", cmd)},
        {QStringLiteral("Name"), QString::fromStdString(CommandName(cmd)), QString::fromStdString(CommandName(cmd))}};
    if (answer.Pending)
        result.Fields.push_back({QStringLiteral("Pending"), true, QStringLiteral("yes")});
    const QString payload = HexText(answer.Payload);
    result.Fields.push_back({QStringLiteral("Payload"), payload, payload});
    return result;
}

TCliResult TCliRunner::Wait(const TCliCommand& command)
{
    // Milliseconds are at most a day (CliSyntax.h).
    WaitFor([] { return false; }, QDeadlineTimer(static_cast<qint64>(command.Values[0]), Qt::PreciseTimer));
    return Plain(command, Interrupted() ? E_CMD_ABORTED : E_SUCCESS);
}

TCliResult TCliRunner::Unanswered(const TCliCommand& command, const TAnswer& answer)
{
    TCliResult result = Plain(command, answer.Status);
    // A motion given up on (E_TIMEOUT, E_CMD_ABORTED) has said so already.
    if (answer.Failure.isEmpty())
        return result;
    result.FailureName = answer.FailureName;
    result.Failure = answer.Failure;
    return result;
}

TCliRunner::TAnswer TCliRunner::Request(const TCliCommand& command, uint8_t cmd, const TByteArray& payload,
    std::chrono::milliseconds timeout, bool closing)
{
    TAnswer answer;
    if (FLinkLost || (Ending() && !closing)) {
        answer.Status = Interrupted() ? E_CMD_ABORTED : E_CMD_FAILED;
        return answer;
    }
    try {
        const krm::Answer got = FGripper->request(cmd, std::vector<std::uint8_t>(payload.begin(), payload.end()), timeout);
        answer.Arrived = true;
        answer.Status = static_cast<TStat>(got.status);
        answer.Payload.assign(got.data.begin(), got.data.end());
        answer.Pending = got.pending;
    } catch (const krm::MotionTimeoutError& error) {
        // A motion given up on: said once, with how its STOP went.
        if (!Interrupted() && !FOutputLost)
            FOutput.Error(QStringLiteral("%1: %2: %3; sending STOP; %4")
                              .arg(command.Where, command.Name,
                                  error.started() ? QStringLiteral("no final result within %1 s").arg(Seconds(FOptions.TimeoutSeconds))
                                                  : QStringLiteral("no answer within %1 s").arg(Seconds(AnswerTimeout().count() / 1000.0)),
                                  StopWords(error.stop())));
        answer.Status = Interrupted() || FOutputLost ? E_CMD_ABORTED : E_TIMEOUT;
    } catch (const krm::TimeoutError&) {
        answer.Status = E_CMD_FAILED;
        answer.Failure = NoAnswerText();
    } catch (const krm::InterruptedError&) {
        answer.Status = E_CMD_ABORTED;
    } catch (const krm::ConnectionError& error) {
        FLinkLost = true;
        if (FLinkText.isEmpty())
            FLinkText = QString::fromStdString(error.cause());
    } catch (const krm::Error& error) {
        // A write the link refused, an answer without a status word.
        answer.Status = E_CMD_FAILED;
        answer.Failure = QString::fromStdString(error.what()).section(QStringLiteral(": "), 1);
        answer.FailureName = QStringLiteral("BAD_ANSWER");
    }
    // A lost link also ends calls that were not waiting for it.
    if (!FLinkLost && !FGripper->is_open())
        LinkDown();
    return answer;
}

QString TCliRunner::NoAnswerText() const
{
    QString text = QStringLiteral("no answer from the gripper within %1 s").arg(Seconds(AnswerTimeout().count() / 1000.0));
    if (FOptions.Connection.Transport == TCliTransport::Can)
        text += QStringLiteral("; check the CAN identifier (--can-id %1)").arg(FOptions.Connection.CanId);
    return text;
}

void TCliRunner::LinkDown()
{
    if (FLinkLost)
        return;
    // Nothing is sent while the link is down: the call only brings its cause.
    try {
        FGripper->request(CMD_GET_SYSTEM_STATE, {}, std::chrono::milliseconds(0));
    } catch (const krm::ConnectionError& error) {
        FLinkLost = true;
        FLinkText = QString::fromStdString(error.cause());
        Wake();
    } catch (const krm::Error&) {
    }
}

void TCliRunner::PrintReport(const krm::Report& report)
{
    std::vector<TCliField> fields;
    switch (report.kind) {
    case krm::Report::Kind::flags:
        fields = SystemStateFields(report.flags);
        break;
    case krm::Report::Kind::grasping_state:
        fields = GraspingStateFields(static_cast<uint8_t>(report.grasping_state));
        break;
    case krm::Report::Kind::position:
        fields = {ReadingField(QStringLiteral("Position"), static_cast<float>(report.position), "mm")};
        break;
    case krm::Report::Kind::speed:
        fields = {ReadingField(QStringLiteral("Speed"), static_cast<float>(report.speed), "mm/s")};
        break;
    case krm::Report::Kind::force:
        fields = {ReadingField(QStringLiteral("Force"), static_cast<float>(report.force), "N")};
        break;
    }
    PrintFields(ReportCommand(report.kind), report.time, fields);
}

void TCliRunner::PrintAnswerValue(uint8_t cmd, const TByteArray& value)
{
    std::vector<TCliField> fields;
    if (cmd == CMD_GET_SYSTEM_STATE && value.size() == 4)
        fields = SystemStateFields(static_cast<uint32_t>(IntAt(value.data())));
    else if (cmd == CMD_GET_GRASPING_STATE && value.size() == 1)
        fields = GraspingStateFields(value[0]);
    else if (cmd == CMD_GET_POS && value.size() == 4)
        fields = {ReadingField(QStringLiteral("Position"), SingleAt(value.data()), "mm")};
    else if (cmd == CMD_GET_SPEED && value.size() == 4)
        fields = {ReadingField(QStringLiteral("Speed"), SingleAt(value.data()), "mm/s")};
    else if (cmd == CMD_GET_FORCE && value.size() == 4)
        fields = {ReadingField(QStringLiteral("Force"), SingleAt(value.data()), "N")};
    else
        return;
    PrintFields(cmd, std::chrono::system_clock::now(), fields);
}

void TCliRunner::PrintFields(uint8_t cmd, std::chrono::system_clock::time_point time, const std::vector<TCliField>& fields)
{
    if (!FWatching || Ending())
        return;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count(), Qt::UTC);
    FOutput.Report(when.toString(Qt::ISODateWithMs), QString::fromStdString(CommandName(cmd)), fields);
}

void TCliRunner::Interrupt()
{
    // Seen here while no library call waits (the notifier runs only then):
    // the calls that follow, such as switching watch's reports off, end
    // only on a further one.
    FSignalsSeen = std::max(FSignalsSeen, CliSignalCount());
    Wake();
}

void TCliRunner::OutputFailed(const QString& text)
{
    {
        std::lock_guard lock(FOutputMutex);
        if (FOutputLost)
            return;
        FOutputFailure = text;
        FOutputLost = true;
    }
    QMetaObject::invokeMethod(this, [this] { Wake(); }, Qt::QueuedConnection);
}

bool TCliRunner::NewInterrupt()
{
    const int count = CliSignalCount();
    if (count > FSignalsSeen) {
        FSignalsSeen = count;
        return true;
    }
    if (FOutputLost && !FOutputLostSeen) {
        FOutputLostSeen = true;
        return true;
    }
    return false;
}

bool TCliRunner::Interrupted() const { return CliSignalCount() > 0; }

bool TCliRunner::Ending() const { return Interrupted() || FOutputLost || FLinkLost; }

bool TCliRunner::WaitFor(const std::function<bool()>& done, QDeadlineTimer deadline)
{
    while (!done()) {
        if (Ending() || deadline.hasExpired())
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

std::chrono::milliseconds TCliRunner::AnswerTimeout() const
{
    return std::chrono::milliseconds(std::min<qint64>(AnswerTimeoutMs, static_cast<qint64>(FOptions.TimeoutSeconds * 1000)));
}

std::chrono::milliseconds TCliRunner::MotionTimeout() const
{
    return std::chrono::milliseconds(static_cast<qint64>(FOptions.TimeoutSeconds * 1000));
}
