#pragma once
// The gateway: for every configured gripper a library session, a monitor
// that turns what it tells into metrics, events and state, and a connection
// to the MQTT broker; the metrics of all of them served at /metrics.
#include "GatewayConfig.h"
#include "Metrics.h"

#include <QObject>
#include <QTimer>

#include <krm/krm.hpp>

#include <chrono>

#include <memory>
#include <vector>

class QHttpServer;
class TGripperLink;
class TGripperMonitor;
class TMqttLink;

class TGateway : public QObject {
public:
    explicit TGateway(TGatewaySettings settings, QObject* parent = nullptr);
    // Closes the sessions, then leaves the broker with every gripper marked
    // offline.
    ~TGateway() override;

    // Listens for scrapes and starts everything; false with `error` when the
    // metrics address cannot be listened on or an MQTT client cannot be set
    // up: then nothing has started.
    bool Start(QString& error);
    // The port /metrics is served on (the one chosen when 0 was asked for).
    int MetricsPort() const { return FMetricsPort; }

    TMetrics& Metrics() { return FMetrics; }

    // Reports and frames are taken from every gripper together this often:
    // one wake of the main thread for all of them rather than one for each.
    static constexpr std::chrono::milliseconds ReportTick{10};

private:
    struct TGripperUnit {
        TGripperMonitor* Monitor = nullptr;
        std::unique_ptr<TMqttLink> Mqtt;
        std::unique_ptr<TGripperLink> Link;
    };

    bool Listen(QString& error);
    void Wire(const TGripperSettings& gripper, TGripperUnit& unit);
    // Every ReportTick: the reports and frames of every gripper.
    void TakeReports();

    const TGatewaySettings FSettings;
    TMetrics FMetrics;
    QHttpServer* FHttp = nullptr;
    int FMetricsPort = 0;
    std::vector<TGripperUnit> FUnits;
    QTimer FReportTick;
    std::vector<krm::Report> FTaken; // keeps its room from tick to tick
};
