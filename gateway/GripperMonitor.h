#pragma once
// What one gripper's session tells, turned into metrics, events and the
// published state: the link going up and down, every report (state flags
// with their edges, grasping state with each grasp's outcome, readings) and
// every motion the gateway ran, and the frames on the link. Lives on the
// main thread, but for Packet; the state goes out at most
// MaxStatesPerSecond times in any second, and its latest value always does.
#include "GripperLink.h"
#include "Metrics.h"

#include <krm/krm.hpp>

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

class TGripperMonitor : public QObject {
public:
    // `reportPeriodMs`: how often the gripper was asked to report.
    TGripperMonitor(const QString& name, int reportPeriodMs, TMetrics& metrics, QObject* parent = nullptr);

    // Declares the families every gripper's series belong to.
    static void DeclareMetrics(TMetrics& metrics);

    void LinkUp(const krm::State& state);
    void LinkDown(const QString& cause);
    // A connect failed; told on standard error once until the link is up.
    void ConnectFailed(const QString& cause);
    // Takes reports together, and sends the state after them.
    void TakeReports(const std::vector<krm::Report>& reports);
    void MotionEnded(const TMotionEnd& motion);
    // Counts a frame; may be called on any thread.
    void Packet(const TPacketSeen& packet);
    void EventDropped();
    // The broker connection of this gripper came up, or could not be made or
    // was lost (told on standard error once until it is up again).
    void MqttConnection(bool connected, const QString& cause);

    std::function<void(bool online)> OnStatus;
    std::function<void(const QByteArray& json)> OnState;
    std::function<void(const QByteArray& json)> OnEvent;

    static constexpr size_t MaxStatesPerSecond = 20;
    static constexpr int HoldSettleMs = 200;

private:
    struct TValues {
        std::uint32_t Flags = 0;
        krm::GraspingState Grasping = krm::GraspingState::idle;
        double Position = 0;
        double Speed = 0;
        double Force = 0;
        krm::Clock::time_point Time{};
    };

    void Report(const krm::Report& report);
    TMetricLabels Labels(std::initializer_list<std::pair<std::string, std::string>> more = {}) const;
    void Apply(const TValues& values, bool edges);
    void FlagEdges(std::uint32_t before, std::uint32_t now);
    void GraspingChanged(krm::GraspingState now, double position);
    void ObserveHeldWidth();
    void StateChanged();
    // Sends the state once the reports under way have been taken.
    void PublishSoon();
    // Until the window of the last MaxStatesPerSecond states has room for
    // another, in ms.
    qint64 UntilRoom() const;
    void PublishState();
    // Brings the state's JSON members up to the latest values.
    void UpdateStateMembers();
    void SetStateMembers(const std::vector<TCliField>& fields);
    void Emit(const QString& event, QJsonObject fields);

    const QString FName;
    const int FReportPeriodMs;
    const std::string FLabel;
    TMetrics& FMetrics;
    bool FUp = false;
    bool FEverUp = false;
    bool FFailureTold = false;
    bool FMqttFailureTold = false;
    TValues FValues;
    QTimer FStateTimer;
    bool FStatePending = false;
    bool FTaking = false;
    // A grasp that holds is reported before the fingers' last position: its
    // width is taken from the next position report, or after HoldSettleMs.
    QTimer FHoldTimer;
    QElapsedTimer FClock;
    std::deque<qint64> FStatesSent; // when the last MaxStatesPerSecond went out, by FClock
    QByteArray FLastState;
    // The state message as its JSON members by key, in the order QJsonObject
    // writes them: a report changes few of them, so the message is joined
    // from them rather than made anew.
    std::map<QString, QByteArray> FStateMembers;
    std::optional<std::pair<std::uint32_t, krm::GraspingState>> FMembersShown; // flags and grasping state in the members
    // A member whose value every report changes: its key stays, its value
    // is written anew.
    struct TStateSlot {
        QByteArray* Member = nullptr;
        qsizetype KeyLength = 0;
        void Set(const QByteArray& value) const;
    };
    TStateSlot StateSlot(const QString& key);
    TStateSlot FPositionMember;
    TStateSlot FSpeedMember;
    TStateSlot FForceMember;
    TStateSlot FOnlineMember;
    TStateSlot FTimeMember;
    // The series every report or frame changes.
    TMetrics::THandle FPositionSeries;
    TMetrics::THandle FSpeedSeries;
    TMetrics::THandle FForceSeries;
    TMetrics::THandle FGraspingSeries;
    TMetrics::THandle FSentSeries;
    TMetrics::THandle FReceivedSeries;
};
