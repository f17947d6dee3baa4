// One krm-gateway serving 50 simulated grippers that report every 50 ms
// while their fingers move, with the mosquitto broker:
//   - the gateway's CPU share of one core;
//   - latency from a report's arrival off the wire (its receive time in the
//     state message) to that message at a subscriber of the broker, median
//     and 99th percentile, next to the broker's own publish-to-subscriber
//     time measured in the same run;
//   - the time of one scrape of /metrics, next to a request the HTTP server
//     answers with 404.
// Goals: under 10 % of one core, p99 under 20 ms, a scrape under 50 ms.
#include "GatewayHarness.h"
#include "SimulatorProcess.h"

#include <krm/krm.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int MeasureMs = 8000;
constexpr int EchoMs = 10;

// User and system CPU time of a process so far, in seconds.
double CpuSeconds(const QString& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which is in parentheses.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds of a process's threads so far, by thread name ("main" for the
// main thread); from the
// scheduler's nanosecond count, since clock ticks per thread round hundreds
// of short-running threads down to nothing.
std::map<QString, double> ThreadCpuSeconds(const QString& pid)
{
    std::map<QString, double> byName;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (name.open(QIODevice::ReadOnly) && schedstat.open(QIODevice::ReadOnly))
            byName[task == pid ? QStringLiteral("main") : QString::fromUtf8(name.readAll().trimmed())] += schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return byName;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

std::vector<double> RequestTimes(quint16 port, const QString& path, int count)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer clock;
        clock.start();
        HttpGet(port, path);
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    return times;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "bench_gateway: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The count of grippers may be given: bench_gateway [GRIPPERS]
    const int Grippers = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 50;
    TBroker broker;
    if (!broker.Start())
        return Fail("mosquitto did not start");
    std::vector<std::unique_ptr<TSimulatorProcess>> sims;
    QString config;
    for (int i = 0; i < Grippers; ++i) {
        sims.push_back(std::make_unique<TSimulatorProcess>());
        if (!sims.back()->Start({QStringLiteral("--referenced")}))
            return Fail("gripper-sim did not start");
        config += QStringLiteral("[gripper g%1]\nconnection=tcp:127.0.0.1:%2\nreport_period_ms=50\n").arg(i).arg(sims.back()->TcpPort());
    }
    config += QStringLiteral("[mqtt]\nurl=%1\nclient_id=bench\n[metrics]\nlisten=127.0.0.1:0\n").arg(broker.Url());
    TGatewayProcess gateway;
    if (!gateway.Start(config))
        return Fail("krm-gateway did not start");
    TProbe probe(broker.Port(), {QStringLiteral("krm/+/status"), QStringLiteral("krm/+/state"), QStringLiteral("bench/echo")});
    if (!probe.WaitConnected(10000))
        return Fail("no broker connection");
    for (int i = 0; i < Grippers; ++i) {
        const QString topic = QStringLiteral("krm/g%1/status").arg(i);
        if (probe.WaitFor([&](const TMessage& m) { return m.Topic == topic && m.Payload == "online"; }, 30000).Topic.isEmpty())
            return Fail("not every gripper came online");
    }
    // Every finger moves slowly over the whole measurement: a position
    // report every 50 ms from each gripper.
    for (int i = 0; i < Grippers; ++i)
        probe.Request(QStringLiteral("krm/g%1/command").arg(i), i % 2 ? R"({"command":"goto","position":0,"speed":5})" : R"({"command":"goto","position":110,"speed":5})",
            QStringLiteral("bench/replies"), QByteArray::number(i));
    QThread::msleep(1000);

    const size_t from = probe.Count();
    const double cpuBefore = CpuSeconds(QString::number(gateway.Pid()));
    const std::map<QString, double> threadsBefore = ThreadCpuSeconds(QString::number(gateway.Pid()));
    QElapsedTimer wall;
    wall.start();
    // The broker's own latency is taken during the load, from a message of
    // the bench's every EchoMs that carries its send time; scrapes every
    // 250 ms.
    std::atomic_bool measuring{true};
    std::thread echoes([&] {
        while (measuring) {
            const auto sent = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
            probe.Request(QStringLiteral("bench/echo"), QByteArray::number(sent), QStringLiteral("bench/none"), {});
            std::this_thread::sleep_for(std::chrono::milliseconds(EchoMs));
        }
    });
    std::vector<double> scrapes;
    std::vector<double> notFound;
    while (wall.elapsed() < MeasureMs) {
        scrapes.push_back(RequestTimes(gateway.MetricsPort(), QStringLiteral("/metrics"), 1).front());
        notFound.push_back(RequestTimes(gateway.MetricsPort(), QStringLiteral("/none"), 1).front());
        QThread::msleep(250);
    }
    measuring = false;
    echoes.join();
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpu = (CpuSeconds(QString::number(gateway.Pid())) - cpuBefore) / seconds;
    std::map<QString, double> threads = ThreadCpuSeconds(QString::number(gateway.Pid()));
    for (auto& [name, cpuSeconds] : threads) {
        const auto before = threadsBefore.find(name);
        cpuSeconds = (cpuSeconds - (before == threadsBefore.end() ? 0 : before->second)) / seconds;
    }

    std::vector<double> latencies;
    std::vector<double> brokerMs;
    std::vector<int> perGripper(Grippers, 0);
    for (const TMessage& m : probe.Messages(from)) {
        if (m.Topic == QLatin1String("bench/echo")) {
            brokerMs.push_back(static_cast<double>(m.ReceivedUs - m.Payload.toLongLong()) / 1000.0);
            continue;
        }
        if (!m.Topic.endsWith(QLatin1String("/state")))
            continue;
        const QDateTime time = QDateTime::fromString(m.Json().value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
        // The receive time is given in whole milliseconds: half of one is
        // added back.
        latencies.push_back(static_cast<double>(m.ReceivedUs) / 1000.0 - static_cast<double>(time.toMSecsSinceEpoch()) - 0.5);
        ++perGripper[static_cast<size_t>(m.Topic.section(u'/', 1, 1).mid(1).toInt())];
    }
    const int busiest = *std::max_element(perGripper.begin(), perGripper.end());

    const size_t scrapeBytes = static_cast<size_t>(gateway.Scrape().size());
    gateway.Stop();
    // The baseline: libkrm sessions alone, first idle, then with the fingers
    // moving back, with a report handler, then with a packet observer
    // instead, as the gateway has it (it reads the reports from the frames).
    const auto shareOver = [](int ms) {
        const QString self = QString::number(QCoreApplication::applicationPid());
        const double before = CpuSeconds(self);
        const std::map<QString, double> threadsBefore = ThreadCpuSeconds(self);
        QElapsedTimer clock;
        clock.start();
        QThread::msleep(static_cast<unsigned long>(ms));
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        std::map<QString, double> threads = ThreadCpuSeconds(self);
        for (auto& [name, cpuSeconds] : threads) {
            const auto earlier = threadsBefore.find(name);
            cpuSeconds = (cpuSeconds - (earlier == threadsBefore.end() ? 0 : earlier->second)) / elapsed;
        }
        return std::pair{(CpuSeconds(self) - before) / elapsed, threads};
    };
    std::pair<double, std::map<QString, double>> libraryIdle;
    std::pair<double, std::map<QString, double>> libraryReports;
    std::pair<double, std::map<QString, double>> libraryPackets;
    {
        std::vector<krm::Gripper> sessions;
        std::vector<krm::Subscription> handlers;
        std::vector<krm::Motion> motions;
        for (const auto& sim : sims) {
            sessions.push_back(krm::Gripper::open("tcp:127.0.0.1:" + std::to_string(sim->TcpPort())));
            handlers.push_back(sessions.back().on_report([](const krm::Report&) {}));
        }
        QThread::msleep(200);
        libraryIdle = shareOver(MeasureMs / 4);
        for (size_t i = 0; i < sessions.size(); ++i)
            motions.push_back(sessions[i].start_move(i % 2 ? 110 : 0, 5));
        QThread::msleep(500);
        libraryReports = shareOver(MeasureMs / 4);
        handlers.clear();
        for (krm::Gripper& session : sessions)
            session.on_packet([](const krm::Packet&) {});
        libraryPackets = shareOver(MeasureMs / 4);
    }

    std::printf("krm-gateway, %d gripper(s) reporting every 50 ms, %.1f s measured\n", Grippers, seconds);
    std::printf("  CPU share of one core:         %.1f %% (goal < 10 %%)\n", cpu * 100);
    for (const auto& [name, share] : threads)
        std::printf("    threads \"%s\": %.1f %%\n", qPrintable(name), share * 100);
    // The bench's own threads other than the library's are idle then; the
    // library's unnamed threads (report and packet delivery) carry the
    // bench's name.
    const auto baseline = [&](const char* what, const std::pair<double, std::map<QString, double>>& share) {
        std::printf("  baseline libkrm sessions only, %-16s %.1f %% (", what, share.first * 100);
        for (const auto& [name, thread] : share.second)
            std::printf(" \"%s\" %.1f %%", qPrintable(name), thread * 100);
        std::printf(" )\n");
    };
    baseline("idle:", libraryIdle);
    baseline("reports:", libraryReports);
    baseline("packets:", libraryPackets);
    std::printf("  the gateway's own share:       %.1f %%\n", (cpu - libraryPackets.first) * 100);
    std::printf("  state messages:                %zu (%.0f/s; busiest gripper %.1f/s, at most 20/s)\n", latencies.size(),
        static_cast<double>(latencies.size()) / seconds, busiest / seconds);
    std::printf("  report -> subscriber latency:  median %.1f ms, p90 %.1f ms, p99 %.1f ms (goal p99 < 20 ms)\n",
        Percentile(latencies, 0.5), Percentile(latencies, 0.9), Percentile(latencies, 0.99));
    std::printf("  baseline broker only:          median %.1f ms, p90 %.1f ms, p99 %.1f ms (%zu messages)\n", Percentile(brokerMs, 0.5),
        Percentile(brokerMs, 0.9), Percentile(brokerMs, 0.99), brokerMs.size());
    std::printf("  scrape of /metrics:            median %.1f ms, max %.1f ms (goal < 50 ms), %zu bytes\n", Percentile(scrapes, 0.5),
        *std::max_element(scrapes.begin(), scrapes.end()), scrapeBytes);
    std::printf("  baseline 404 of the server:    median %.1f ms\n", Percentile(notFound, 0.5));
    return 0;
}
