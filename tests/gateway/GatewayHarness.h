#pragma once
// Real parts for the gateway's end-to-end tests, each on free loopback ports
// and in a temporary folder of its own: Debian's mosquitto broker, a
// Prometheus server, krm-gateway itself, and an MQTT client that records
// what the broker delivers.
#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

struct mosquitto;

// A port nobody listened on a moment ago.
quint16 FreePort();
// Waits until something accepts TCP connections on 127.0.0.1:port.
bool WaitForListener(quint16 port, int timeoutMs);

// A program run as a child; stopped (SIGTERM, then SIGKILL) when it goes.
class TChild {
public:
    ~TChild();
    bool Start(const QString& program, const QStringList& arguments);
    void Stop();
    bool Running() const { return FProcess.state() != QProcess::NotRunning; }
    qint64 Pid() const { return FProcess.processId(); }
    // Waits for a line of its standard output matching `pattern`; the first
    // capture, or empty.
    QString WaitForLine(const QString& pattern, int timeoutMs);
    QString Errors();

private:
    QProcess FProcess;
    QByteArray FOut;
};

class TBroker {
public:
    // Without persistence: a restart loses every retained message.
    bool Start();
    void Stop() { FChild.Stop(); }
    quint16 Port() const { return FPort; }
    QString Url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(FPort); }

    // From the next Start on, a TLS listener as well, with a server
    // certificate for 127.0.0.1 that a throwaway CA signed (made with
    // openssl); false when the files could not be made.
    bool AddTls();
    QString TlsUrl() const { return QStringLiteral("mqtts://127.0.0.1:%1").arg(FTlsPort); }
    // The CA that signed the server certificate, and one that did not.
    QString CaFile() const { return FFolder.filePath(QStringLiteral("ca.pem")); }
    QString OtherCaFile() const { return FFolder.filePath(QStringLiteral("other-ca.pem")); }

private:
    QTemporaryDir FFolder;
    quint16 FPort = 0;
    quint16 FTlsPort = 0;
    TChild FChild;
};

struct TMessage {
    QString Topic;
    QByteArray Payload;
    QByteArray Correlation;
    bool Retained = false;
    qint64 ReceivedUs = 0; // wall-clock time of arrival, microseconds since the epoch

    QJsonObject Json() const;
};

// An MQTT 5 client of the test, connecting again by itself.
class TProbe {
public:
    explicit TProbe(quint16 port, QStringList topics);
    ~TProbe();
    // Publishes `payload` to `topic` asking for the answer on `responseTopic`
    // with `correlation`.
    void Request(const QString& topic, const QByteArray& payload, const QString& responseTopic, const QByteArray& correlation);
    // The first message (of those seen from `from` on) that `match` accepts,
    // waited for up to `timeoutMs`; an empty topic when none came.
    TMessage WaitFor(const std::function<bool(const TMessage&)>& match, int timeoutMs, size_t from = 0);
    size_t Count();
    // The messages from `from` on.
    std::vector<TMessage> Messages(size_t from = 0);
    // Waits until the client is connected and subscribed.
    bool WaitConnected(int timeoutMs);

private:
    static void OnConnect(mosquitto*, void* self, int code);
    static void OnMessage(mosquitto*, void* self, const struct mosquitto_message* message, const struct mqtt5__property* props);

    mosquitto* FClient = nullptr;
    QStringList FTopics;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<TMessage> FMessages;
    bool FConnected = false;
};

// krm-gateway with a configuration file written for it.
class TGatewayProcess {
public:
    bool Start(const QString& config);
    void Stop() { FChild.Stop(); }
    quint16 MetricsPort() const { return FMetricsPort; }
    // GET /metrics; empty on failure.
    QByteArray Scrape() const;
    QString Errors() { return FChild.Errors(); }
    qint64 Pid() const { return FChild.Pid(); }

private:
    QTemporaryDir FFolder;
    TChild FChild;
    quint16 FMetricsPort = 0;
};

// A Prometheus server scraping one target every 200 ms.
class TPrometheus {
public:
    bool Start(quint16 targetPort);
    // The value of an instant query's first sample; NaN when there is none.
    double Query(const QString& query) const;
    // Polls `query` until it yields `value` or the time runs out.
    bool WaitForValue(const QString& query, double value, int timeoutMs) const;

private:
    QTemporaryDir FFolder;
    TChild FChild;
    quint16 FPort = 0;
};

// "http://127.0.0.1:port/path" fetched with a blocking GET; empty on failure.
QByteArray HttpGet(quint16 port, const QString& pathAndQuery);
