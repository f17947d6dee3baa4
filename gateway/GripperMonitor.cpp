#include "GripperMonitor.h"

#include "CliFields.h"
#include "CliResultJson.h"
#include "stat.h"

#include <QDateTime>
#include <QJsonDocument>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace {

struct TFlagName {
    std::uint32_t Mask;
    const char* Name;
    bool Fault;
};

// Each state flag's label; the faults count their rising edges.
constexpr TFlagName FlagNames[] = {
    {krm::flags::referenced, "referenced", false},
    {krm::flags::moving, "moving", false},
    {krm::flags::blocked_minus, "blocked_minus", false},
    {krm::flags::blocked_plus, "blocked_plus", false},
    {krm::flags::soft_limit_minus, "soft_limit_minus", false},
    {krm::flags::soft_limit_plus, "soft_limit_plus", false},
    {krm::flags::axis_stopped, "axis_stopped", false},
    {krm::flags::target_pos_reached, "target_pos_reached", false},
    {krm::flags::overdrive_mode, "overdrive_mode", false},
    {krm::flags::fast_stop, "fast_stop", false},
    {krm::flags::temperature_warning, "temperature_warning", true},
    {krm::flags::temperature_fault, "temperature_fault", true},
    {krm::flags::power_fault, "power_fault", true},
    {krm::flags::current_fault, "current_fault", true},
    {krm::flags::finger_fault, "finger_fault", true},
    {krm::flags::command_failure, "command_failure", true},
    {krm::flags::script_running, "script_running", false},
    {krm::flags::script_failure, "script_failure", true},
};

const char* const Outcomes[] = {"holding", "no_part", "part_lost"};

// Bucket bounds step, 2 step, ... up to last, each as short as it reads.
std::vector<double> Steps(double step, double last)
{
    std::vector<double> bounds;
    for (int i = 1; i * step <= last * (1 + 1e-9); ++i)
        bounds.push_back(std::stod(std::to_string(i * step)));
    return bounds;
}

// The gripper's values are single precision: seven significant digits of
// them are what it said (40.4, not 40.400001525878906).
double Single(double value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 7);
    double single = value;
    std::from_chars(text, written.ptr, single);
    return single;
}

// Prometheus's base unit is the meter; the gripper speaks mm.
double Meters(double millimeters) { return Single(millimeters) / 1000.0; }

// As QDateTime's ISODateWithMs in UTC ("2024-05-01T12:00:00.250Z"), made
// without it: it runs for every state message.
QByteArray IsoTime(krm::Clock::time_point time)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
        utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
    return QByteArray(text, length);
}

// A number as QJsonDocument writes it: the shortest form that reads back
// the same.
QByteArray JsonNumber(double value) { return QByteArray::number(value, 'g', QLocale::FloatingPointShortest); }

// One member of a JSON object as QJsonDocument writes it compactly:
// "key":value; numbers, which change with every report, without making a
// document.
QByteArray Member(const QString& key, const QJsonValue& value)
{
    if (value.isDouble())
        return '"' + key.toUtf8() + "\":" + JsonNumber(value.toDouble());
    const QByteArray object = QJsonDocument(QJsonObject{{key, value}}).toJson(QJsonDocument::Compact);
    return object.mid(1, object.size() - 2);
}

// One line on standard error (the journal, for the service).
void Log(const QString& text) { std::fprintf(stderr, "krm-gateway: %s\n", text.toLocal8Bit().constData()); }

} // namespace

void TGripperMonitor::DeclareMetrics(TMetrics& metrics)
{
    using T = TMetrics::TType;
    metrics.Declare("krm_link_up", T::Gauge, "1 while the gateway's link to the gripper is up.");
    metrics.Declare("krm_reconnects_total", T::Counter, "Links to the gripper made again after one was lost.");
    metrics.Declare("krm_position_meters", T::Gauge, "Finger position (opening width) last reported.");
    metrics.Declare("krm_speed_meters_per_second", T::Gauge, "Finger speed last reported, negative while closing.");
    metrics.Declare("krm_force_newtons", T::Gauge, "Grasping force last reported.");
    metrics.Declare("krm_state_flag", T::Gauge, "1 while the system-state flag is set.");
    metrics.Declare("krm_grasping_state", T::Gauge,
        "Grasping state: 0 idle, 1 grasping, 2 no part, 3 part lost, 4 holding, 5 releasing.");
    metrics.Declare("krm_motions_total", T::Counter, "Motions the gateway ran, by command and final status.");
    metrics.Declare("krm_motion_duration_seconds", T::Histogram, "From sending a motion command to its final answer.",
        {0.05, 0.1, 0.2, 0.3, 0.5, 0.75, 1, 1.5, 2, 3, 5, 10, 30, 60});
    metrics.Declare("krm_grasp_width_meters", T::Histogram, "Finger position at which a grasp held its part.",
        Steps(0.002, 0.12));
    metrics.Declare("krm_grasps_total", T::Counter, "Grasps by outcome: holding, no_part, part_lost.");
    metrics.Declare("krm_fast_stops_total", T::Counter, "Fast stops seen (rising edges of the fast stop flag).");
    metrics.Declare("krm_fault_flag_raised_total", T::Counter, "Rising edges of each fault flag.");
    metrics.Declare("krm_packets_total", T::Counter, "Whole frames on the link by direction: sent, received.");
    metrics.Declare("krm_frame_errors_total", T::Counter,
        "Faults in what the gripper sent: checksum (a frame with a wrong checksum), stray_bytes (bytes of no frame).");
    metrics.Declare("krm_answer_time_seconds", T::Histogram, "From sending a request to its first answer.",
        {0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 3});
    metrics.Declare("krm_mqtt_connected", T::Gauge, "1 while the gateway's connection to the MQTT broker for the gripper is up.");
    metrics.Declare("krm_mqtt_events_dropped_total", T::Counter, "Events dropped while the broker was away and the queue was full.");
}

TGripperMonitor::TGripperMonitor(const QString& name, int reportPeriodMs, TMetrics& metrics, QObject* parent)
    : QObject(parent)
    , FName(name)
    , FReportPeriodMs(reportPeriodMs)
    , FLabel(name.toStdString())
    , FMetrics(metrics)
{
    FStateMembers[QStringLiteral("gripper")] = Member(QStringLiteral("gripper"), FName);
    FPositionMember = StateSlot(QStringLiteral("Position"));
    FSpeedMember = StateSlot(QStringLiteral("Speed"));
    FForceMember = StateSlot(QStringLiteral("Force"));
    FOnlineMember = StateSlot(QStringLiteral("online"));
    FTimeMember = StateSlot(QStringLiteral("time"));
    FClock.start();
    FStateTimer.setSingleShot(true);
    FStateTimer.setTimerType(Qt::PreciseTimer);
    connect(&FStateTimer, &QTimer::timeout, this, [this] { PublishState(); });
    FHoldTimer.setSingleShot(true);
    connect(&FHoldTimer, &QTimer::timeout, this, [this] { ObserveHeldWidth(); });
    // Every series a gripper has exists from the start, at 0.
    FPositionSeries = FMetrics.Gauge("krm_position_meters", Labels());
    FSpeedSeries = FMetrics.Gauge("krm_speed_meters_per_second", Labels());
    FForceSeries = FMetrics.Gauge("krm_force_newtons", Labels());
    FGraspingSeries = FMetrics.Gauge("krm_grasping_state", Labels());
    FSentSeries = FMetrics.Counter("krm_packets_total", Labels({{"direction", "sent"}}));
    FReceivedSeries = FMetrics.Counter("krm_packets_total", Labels({{"direction", "received"}}));
    FMetrics.Set("krm_link_up", Labels(), 0);
    FMetrics.Add("krm_reconnects_total", Labels(), 0);
    FMetrics.Add("krm_fast_stops_total", Labels(), 0);
    FMetrics.Add("krm_mqtt_events_dropped_total", Labels(), 0);
    for (const TFlagName& flag : FlagNames) {
        FMetrics.Set("krm_state_flag", Labels({{"flag", flag.Name}}), 0);
        if (flag.Fault)
            FMetrics.Add("krm_fault_flag_raised_total", Labels({{"flag", flag.Name}}), 0);
    }
    for (const char* outcome : Outcomes)
        FMetrics.Add("krm_grasps_total", Labels({{"outcome", outcome}}), 0);
    for (const char* fault : {"checksum", "stray_bytes"})
        FMetrics.Add("krm_frame_errors_total", Labels({{"fault", fault}}), 0);
}

TMetricLabels TGripperMonitor::Labels(std::initializer_list<std::pair<std::string, std::string>> more) const
{
    TMetricLabels labels{{"gripper", FLabel}};
    labels.insert(labels.end(), more.begin(), more.end());
    return labels;
}

void TGripperMonitor::LinkUp(const krm::State& state)
{
    Log(QStringLiteral("%1: link up").arg(FName));
    FUp = true;
    FFailureTold = false;
    FMetrics.Set("krm_link_up", Labels(), 1);
    if (FEverUp) {
        FMetrics.Add("krm_reconnects_total", Labels());
        Emit(QStringLiteral("link_back"), {});
    }
    FEverUp = true;
    // What changed while the link was down is not known: the state read now
    // is where edges count from.
    Apply({state.flags, state.grasping_state, state.position, state.speed, state.force, krm::Clock::now()}, false);
    if (OnStatus)
        OnStatus(true);
}

void TGripperMonitor::ConnectFailed(const QString& cause)
{
    if (FFailureTold)
        return;
    FFailureTold = true;
    Log(QStringLiteral("%1: cannot connect, trying again: %2").arg(FName, cause));
}

void TGripperMonitor::LinkDown(const QString& cause)
{
    Log(QStringLiteral("%1: link lost: %2").arg(FName, cause));
    FUp = false;
    FMetrics.Set("krm_link_up", Labels(), 0);
    Emit(QStringLiteral("link_lost"), {{QStringLiteral("cause"), cause}});
    if (OnStatus)
        OnStatus(false);
    StateChanged();
}

void TGripperMonitor::Report(const krm::Report& report)
{
    if (!FUp)
        return;
    Apply({report.flags, report.grasping_state, report.position, report.speed, report.force, report.time}, true);
    if (report.kind == krm::Report::Kind::position && FHoldTimer.isActive()) {
        FHoldTimer.stop();
        ObserveHeldWidth();
    }
}

void TGripperMonitor::TakeReports(const std::vector<krm::Report>& reports)
{
    FTaking = true;
    for (const krm::Report& report : reports)
        Report(report);
    FTaking = false;
    if (FStatePending && !FStateTimer.isActive())
        PublishState();
}

void TGripperMonitor::ObserveHeldWidth()
{
    if (FValues.Grasping == krm::GraspingState::holding)
        FMetrics.Observe("krm_grasp_width_meters", Labels(), Meters(FValues.Position));
}

void TGripperMonitor::Apply(const TValues& values, bool edges)
{
    const bool flagsChanged = !edges || values.Flags != FValues.Flags;
    if (edges) {
        FlagEdges(FValues.Flags, values.Flags);
        if (values.Grasping != FValues.Grasping)
            GraspingChanged(values.Grasping, values.Position);
    }
    FValues = values;
    if (flagsChanged)
        for (const TFlagName& flag : FlagNames)
            FMetrics.Set("krm_state_flag", Labels({{"flag", flag.Name}}), (values.Flags & flag.Mask) != 0 ? 1 : 0);
    FMetrics.Set(FGraspingSeries, static_cast<double>(values.Grasping));
    FMetrics.Set(FPositionSeries, Meters(values.Position));
    FMetrics.Set(FSpeedSeries, Meters(values.Speed));
    FMetrics.Set(FForceSeries, Single(values.Force));
    StateChanged();
}

void TGripperMonitor::FlagEdges(std::uint32_t before, std::uint32_t now)
{
    const std::uint32_t raised = now & ~before;
    const std::uint32_t cleared = before & ~now;
    if (raised & krm::flags::fast_stop) {
        FMetrics.Add("krm_fast_stops_total", Labels());
        Emit(QStringLiteral("fast_stop"), {});
    }
    if (cleared & krm::flags::fast_stop)
        Emit(QStringLiteral("fast_stop_acknowledged"), {});
    for (const TFlagName& flag : FlagNames) {
        if (!flag.Fault)
            continue;
        if (raised & flag.Mask) {
            FMetrics.Add("krm_fault_flag_raised_total", Labels({{"flag", flag.Name}}));
            Emit(QStringLiteral("fault_raised"), {{QStringLiteral("flag"), QLatin1String(flag.Name)}});
        }
        if (cleared & flag.Mask)
            Emit(QStringLiteral("fault_cleared"), {{QStringLiteral("flag"), QLatin1String(flag.Name)}});
    }
}

void TGripperMonitor::GraspingChanged(krm::GraspingState now, double position)
{
    switch (now) {
    case krm::GraspingState::holding:
        FMetrics.Add("krm_grasps_total", Labels({{"outcome", "holding"}}));
        FHoldTimer.start(HoldSettleMs);
        break;
    case krm::GraspingState::no_part:
        FMetrics.Add("krm_grasps_total", Labels({{"outcome", "no_part"}}));
        break;
    case krm::GraspingState::part_lost:
        FMetrics.Add("krm_grasps_total", Labels({{"outcome", "part_lost"}}));
        Emit(QStringLiteral("part_lost"), {{QStringLiteral("position"), position}});
        break;
    default:
        break;
    }
}

void TGripperMonitor::MotionEnded(const TMotionEnd& motion)
{
    const std::string command = motion.Command.toStdString();
    const QString status = QString::fromStdString(StatusName(motion.Status));
    FMetrics.Add("krm_motions_total", Labels({{"command", command}, {"status", status.toStdString()}}));
    FMetrics.Observe("krm_motion_duration_seconds", Labels({{"command", command}}), motion.Seconds);
    Emit(QStringLiteral("motion_finished"),
        {{QStringLiteral("command"), motion.Command}, {QStringLiteral("status"), status},
            {QStringLiteral("code"), static_cast<int>(motion.Status)}, {QStringLiteral("duration_s"), motion.Seconds},
            {QStringLiteral("position"), motion.Position}});
}

void TGripperMonitor::Packet(const TPacketSeen& packet)
{
    if (packet.Faults & krm::Packet::stray_bytes) {
        FMetrics.Add("krm_frame_errors_total", Labels({{"fault", "stray_bytes"}}));
        return;
    }
    FMetrics.Add(packet.Received ? FReceivedSeries : FSentSeries);
    if (packet.Faults & krm::Packet::checksum)
        FMetrics.Add("krm_frame_errors_total", Labels({{"fault", "checksum"}}));
    if (packet.AnswerSeconds)
        FMetrics.Observe("krm_answer_time_seconds", Labels(), *packet.AnswerSeconds);
}

void TGripperMonitor::EventDropped() { FMetrics.Add("krm_mqtt_events_dropped_total", Labels()); }

void TGripperMonitor::MqttConnection(bool connected, const QString& cause)
{
    FMetrics.Set("krm_mqtt_connected", Labels(), connected ? 1 : 0);
    if (connected) {
        if (std::exchange(FMqttFailureTold, false))
            Log(QStringLiteral("%1: connected to the broker").arg(FName));
        return;
    }
    if (std::exchange(FMqttFailureTold, true))
        return;
    Log(QStringLiteral("%1: the broker cannot be reached, trying again: %2").arg(FName, cause));
}

qint64 TGripperMonitor::UntilRoom() const
{
    return FStatesSent.size() >= MaxStatesPerSecond ? std::max<qint64>(0, FStatesSent.front() + 1000 - FClock.elapsed()) : 0;
}

void TGripperMonitor::StateChanged()
{
    // A sliding window of one second rather than a fixed spacing: reports
    // that come exactly as often as allowed would otherwise fall ever
    // further behind. A state that finds the window full is not sent when
    // the window has room, but replaced by the first report after that, or
    // sent one report period later when none comes: sent at once, it would
    // hold its place in every later second (the window remembers it), and
    // gripper reports, which keep to their period, would wait for it each
    // time.
    if (FStatePending) {
        if (FStateTimer.isActive() && UntilRoom() == 0) {
            FStateTimer.stop();
            PublishSoon();
        }
        return;
    }
    FStatePending = true;
    if (const qint64 wait = UntilRoom(); wait > 0) {
        FStateTimer.start(static_cast<int>(wait) + FReportPeriodMs);
        return;
    }
    PublishSoon();
}

void TGripperMonitor::PublishSoon()
{
    // Reports of one burst that are already queued come first, and go out
    // in the same message.
    if (!FTaking)
        QMetaObject::invokeMethod(this, [this] { PublishState(); }, Qt::QueuedConnection);
}

void TGripperMonitor::SetStateMembers(const std::vector<TCliField>& fields)
{
    for (const TCliField& field : fields)
        FStateMembers[field.Name] = Member(field.Name, field.Value);
}

void TGripperMonitor::UpdateStateMembers()
{
    const std::pair shown{FValues.Flags, FValues.Grasping};
    if (FMembersShown != shown) {
        SetStateMembers(SystemStateFields(FValues.Flags));
        SetStateMembers(GraspingStateFields(static_cast<uint8_t>(FValues.Grasping)));
        FMembersShown = shown;
    }
    // The readings as krm-cli gives them: single precision, shortest form.
    FPositionMember.Set(JsonNumber(Single(static_cast<float>(FValues.Position))));
    FSpeedMember.Set(JsonNumber(Single(static_cast<float>(FValues.Speed))));
    FForceMember.Set(JsonNumber(Single(static_cast<float>(FValues.Force))));
    FOnlineMember.Set(FUp ? QByteArrayLiteral("true") : QByteArrayLiteral("false"));
    FTimeMember.Set('"' + IsoTime(FValues.Time) + '"');
}

TGripperMonitor::TStateSlot TGripperMonitor::StateSlot(const QString& key)
{
    QByteArray& member = FStateMembers[key];
    member = '"' + key.toUtf8() + "\":";
    return {&member, member.size()};
}

void TGripperMonitor::TStateSlot::Set(const QByteArray& value) const
{
    Member->truncate(KeyLength);
    Member->append(value);
}

void TGripperMonitor::PublishState()
{
    FStatePending = false;
    UpdateStateMembers();
    QByteArray json;
    json.reserve(FLastState.size() + 16);
    json += '{';
    for (const auto& [key, member] : FStateMembers) {
        if (json.size() > 1)
            json += ',';
        json += member;
    }
    json += '}';
    if (json == FLastState)
        return;
    FLastState = json;
    FStatesSent.push_back(FClock.elapsed());
    while (FStatesSent.size() > MaxStatesPerSecond)
        FStatesSent.pop_front();
    if (OnState)
        OnState(json);
}

void TGripperMonitor::Emit(const QString& event, QJsonObject fields)
{
    fields.insert(QStringLiteral("event"), event);
    fields.insert(QStringLiteral("gripper"), FName);
    fields.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    if (OnEvent)
        OnEvent(CompactJson(fields).toUtf8());
}
