#include "Gateway.h"

#include "CliResultJson.h"
#include "GatewayCommand.h"
#include "GripperLink.h"
#include "GripperMonitor.h"
#include "MqttLink.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QHttpServer>
#include <QHttpServerResponse>

namespace {

QByteArray ResultJson(const TCliResult& result) { return CompactJson(CliResultJson(result)).toUtf8(); }

// Runs `call` on the monitor's thread; dropped once the monitor is gone.
template <typename F>
void OnMonitor(TGripperMonitor* monitor, F call)
{
    QMetaObject::invokeMethod(monitor, std::move(call), Qt::QueuedConnection);
}

} // namespace

TGateway::TGateway(TGatewaySettings settings, QObject* parent)
    : QObject(parent)
    , FSettings(std::move(settings))
{
    TGripperMonitor::DeclareMetrics(FMetrics);
    FReportTick.setInterval(ReportTick);
    connect(&FReportTick, &QTimer::timeout, this, [this] { TakeReports(); });
}

TGateway::~TGateway()
{
    // The sessions first: a result still on its way goes out through the
    // broker connections, which go last.
    for (TGripperUnit& unit : FUnits)
        unit.Link.reset();
    FUnits.clear();
}

bool TGateway::Listen(QString& error)
{
    QHostAddress address;
    if (!address.setAddress(FSettings.MetricsHost)) {
        const QList<QHostAddress> found = QHostInfo::fromName(FSettings.MetricsHost).addresses();
        if (found.isEmpty()) {
            error = QStringLiteral("metrics: cannot resolve \"%1\"").arg(FSettings.MetricsHost);
            return false;
        }
        address = found.first();
    }
    FHttp = new QHttpServer(this);
    FHttp->route(QStringLiteral("/metrics"), [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
            QByteArray::fromStdString(FMetrics.Text()));
    });
    FMetricsPort = FHttp->listen(address, static_cast<quint16>(FSettings.MetricsPort));
    if (FMetricsPort == 0) {
        error = QStringLiteral("metrics: cannot listen on %1:%2").arg(FSettings.MetricsHost).arg(FSettings.MetricsPort);
        return false;
    }
    return true;
}

bool TGateway::Start(QString& error)
{
    if (!Listen(error))
        return false;
    FUnits.resize(FSettings.Grippers.size());
    for (size_t i = 0; i < FUnits.size(); ++i)
        Wire(FSettings.Grippers[i], FUnits[i]);
    if (FSettings.Mqtt.Enabled) {
        for (TGripperUnit& unit : FUnits) {
            if (!unit.Mqtt->Start(error)) {
                FUnits.clear();
                return false;
            }
        }
    }
    for (TGripperUnit& unit : FUnits)
        unit.Link->Start();
    FReportTick.start();
    return true;
}

void TGateway::Wire(const TGripperSettings& gripper, TGripperUnit& unit)
{
    TGripperMonitor* monitor = new TGripperMonitor(gripper.Name, gripper.ReportPeriodMs, FMetrics, this);
    unit.Monitor = monitor;
    unit.Link = std::make_unique<TGripperLink>(gripper.Connection.toStdString(), gripper.ReportPeriodMs);
    TGripperLink* link = unit.Link.get();
    link->OnUp = [monitor](const krm::State& state) { OnMonitor(monitor, [monitor, state] { monitor->LinkUp(state); }); };
    link->OnDown = [monitor](const std::string& cause) {
        OnMonitor(monitor, [monitor, cause] { monitor->LinkDown(QString::fromStdString(cause)); });
    };
    link->OnRetry = [monitor](const std::string& cause) {
        OnMonitor(monitor, [monitor, cause] { monitor->ConnectFailed(QString::fromStdString(cause)); });
    };
    link->OnMotion = [monitor](const TMotionEnd& motion) { OnMonitor(monitor, [monitor, motion] { monitor->MotionEnded(motion); }); };
    link->OnPacket = [monitor](const TPacketSeen& packet) { monitor->Packet(packet); };
    if (!FSettings.Mqtt.Enabled)
        return;
    unit.Mqtt = std::make_unique<TMqttLink>(FSettings.Mqtt, gripper.Name);
    TMqttLink* mqtt = unit.Mqtt.get();
    monitor->OnStatus = [mqtt](bool online) { mqtt->SetStatus(online); };
    monitor->OnState = [mqtt](const QByteArray& json) { mqtt->SetState(json); };
    monitor->OnEvent = [mqtt](const QByteArray& json) { mqtt->Event(json); };
    mqtt->OnDropped = [monitor] { OnMonitor(monitor, [monitor] { monitor->EventDropped(); }); };
    mqtt->OnConnection = [monitor](bool connected, const QString& cause) { monitor->MqttConnection(connected, cause); };
    const bool readOnly = FSettings.Mqtt.ReadOnly;
    mqtt->OnCommand = [link, readOnly](const QByteArray& payload, std::function<void(const QByteArray&)> reply) {
        TCliCommand command;
        try {
            command = ParseGatewayCommand(payload, readOnly);
        } catch (const TCommandRefused& refused) {
            TCliResult result;
            result.Command = refused.Command;
            result.Status = static_cast<TStat>(refused.Status);
            result.Fields.push_back({QStringLiteral("error"), refused.Message, refused.Message, true});
            reply(ResultJson(result));
            return;
        }
        link->Submit(command, [reply](const TCliResult& result) { reply(ResultJson(result)); });
    };
}

void TGateway::TakeReports()
{
    for (TGripperUnit& unit : FUnits) {
        FTaken.clear();
        unit.Link->Take(FTaken);
        if (!FTaken.empty())
            unit.Monitor->TakeReports(FTaken);
    }
}
