#include "GatewayHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cmath>

namespace {

constexpr int StartMs = 10000;

bool WriteText(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

quint16 FreePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool WaitForListener(quint16 port, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

TChild::~TChild() { Stop(); }

bool TChild::Start(const QString& program, const QStringList& arguments)
{
    FOut.clear();
    FProcess.start(program, arguments);
    return FProcess.waitForStarted(StartMs);
}

void TChild::Stop()
{
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.terminate();
    if (!FProcess.waitForFinished(5000)) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QString TChild::WaitForLine(const QString& pattern, int timeoutMs)
{
    const QRegularExpression line(pattern, QRegularExpression::MultilineOption);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        FOut += FProcess.readAllStandardOutput();
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(FOut));
        if (match.hasMatch())
            return match.captured(1);
        if (deadline.hasExpired() || FProcess.state() != QProcess::Running)
            return {};
        FProcess.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
}

QString TChild::Errors() { return QString::fromUtf8(FProcess.readAllStandardError()); }

bool TBroker::Start()
{
    if (FPort == 0)
        FPort = FreePort();
    const QString config = FFolder.filePath(QStringLiteral("mosquitto.conf"));
    // Run as root, mosquitto would read the key as another user, who may
    // not enter the temporary folder.
    QString text = QStringLiteral("user root\nallow_anonymous true\npersistence false\nset_tcp_nodelay true\nlistener %1 127.0.0.1\n").arg(FPort);
    if (FTlsPort != 0)
        text += QStringLiteral("listener %1 127.0.0.1\ncafile %2\ncertfile %3\nkeyfile %4\n")
                    .arg(FTlsPort)
                    .arg(CaFile(), FFolder.filePath(QStringLiteral("server.pem")), FFolder.filePath(QStringLiteral("server.key")));
    if (!WriteText(config, text))
        return false;
    return FChild.Start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config}) && WaitForListener(FPort, StartMs)
        && (FTlsPort == 0 || WaitForListener(FTlsPort, StartMs));
}

bool TBroker::AddTls()
{
    const QString settings = FFolder.filePath(QStringLiteral("openssl.cnf"));
    if (!WriteText(settings, QStringLiteral("[req]\ndistinguished_name = name\n[name]\n"
                                            "[ca]\nbasicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
                                            "[server]\nbasicConstraints = CA:FALSE\nsubjectAltName = IP:127.0.0.1\nextendedKeyUsage = serverAuth\n")))
        return false;
    const QStringList key{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"), QStringLiteral("-config"), settings};
    const auto file = [this](const char* name) { return FFolder.filePath(QString::fromLatin1(name)); };
    const auto ca = [&](const char* name, const char* subject) {
        return QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-extensions"), QStringLiteral("ca"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QString::fromLatin1(subject),
                   QStringLiteral("-keyout"), file(name) + QStringLiteral(".key"), QStringLiteral("-out"), file(name) + QStringLiteral(".pem")}
            + key;
    };
    const QList<QStringList> steps{
        ca("ca", "/CN=krm test CA"),
        ca("other-ca", "/CN=krm other CA"),
        QStringList{QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
            QStringLiteral("-keyout"), file("server.key"), QStringLiteral("-out"), file("server.csr")}
            + key,
        {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), file("server.csr"), QStringLiteral("-CA"), file("ca.pem"),
            QStringLiteral("-CAkey"), file("ca.key"), QStringLiteral("-set_serial"), QStringLiteral("1"), QStringLiteral("-days"),
            QStringLiteral("2"), QStringLiteral("-extfile"), settings, QStringLiteral("-extensions"), QStringLiteral("server"),
            QStringLiteral("-out"), file("server.pem")},
    };
    for (const QStringList& step : steps) {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"), step);
        if (!openssl.waitForFinished(StartMs) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
            return false;
    }
    FTlsPort = FreePort();
    return true;
}

QJsonObject TMessage::Json() const { return QJsonDocument::fromJson(Payload).object(); }

TProbe::TProbe(quint16 port, QStringList topics)
    : FTopics(std::move(topics))
{
    FClient = mosquitto_new(nullptr, true, this);
    mosquitto_int_option(FClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(FClient, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(FClient, &TProbe::OnConnect);
    mosquitto_message_v5_callback_set(FClient, &TProbe::OnMessage);
    mosquitto_reconnect_delay_set(FClient, 1, 1, false);
    mosquitto_connect_async(FClient, "127.0.0.1", port, 10);
    mosquitto_loop_start(FClient);
}

TProbe::~TProbe()
{
    mosquitto_disconnect(FClient);
    mosquitto_loop_stop(FClient, false);
    mosquitto_destroy(FClient);
}

void TProbe::OnConnect(mosquitto* client, void* self, int code)
{
    auto* probe = static_cast<TProbe*>(self);
    if (code != 0)
        return;
    for (const QString& topic : probe->FTopics)
        mosquitto_subscribe(client, nullptr, topic.toUtf8().constData(), 1);
    std::lock_guard lock(probe->FMutex);
    probe->FConnected = true;
    probe->FChanged.notify_all();
}

void TProbe::OnMessage(mosquitto*, void* self, const mosquitto_message* message, const mqtt5__property* props)
{
    auto* probe = static_cast<TProbe*>(self);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    TMessage received{QString::fromUtf8(message->topic), QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
        {}, message->retain, std::chrono::duration_cast<std::chrono::microseconds>(now).count()};
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false)) {
        received.Correlation = QByteArray(static_cast<const char*>(correlation), length);
        free(correlation);
    }
    std::lock_guard lock(probe->FMutex);
    probe->FMessages.push_back(std::move(received));
    probe->FChanged.notify_all();
}

bool TProbe::WaitConnected(int timeoutMs)
{
    std::unique_lock lock(FMutex);
    const bool connected = FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FConnected; });
    lock.unlock();
    // The subscriptions are under way once connected; let them settle.
    QThread::msleep(200);
    return connected;
}

void TProbe::Request(const QString& topic, const QByteArray& payload, const QString& responseTopic, const QByteArray& correlation)
{
    mosquitto_property* props = nullptr;
    mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, responseTopic.toUtf8().constData());
    mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.constData(), static_cast<uint16_t>(correlation.size()));
    mosquitto_publish_v5(FClient, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()), payload.constData(), 1, false, props);
    mosquitto_property_free_all(&props);
}

TMessage TProbe::WaitFor(const std::function<bool(const TMessage&)>& match, int timeoutMs, size_t from)
{
    std::unique_lock lock(FMutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t next = from;
    for (;;) {
        for (; next < FMessages.size(); ++next)
            if (match(FMessages[next]))
                return FMessages[next];
        if (FChanged.wait_until(lock, deadline) == std::cv_status::timeout && next == FMessages.size())
            return {};
    }
}

std::vector<TMessage> TProbe::Messages(size_t from)
{
    std::lock_guard lock(FMutex);
    return {FMessages.begin() + static_cast<std::ptrdiff_t>(std::min(from, FMessages.size())), FMessages.end()};
}

size_t TProbe::Count()
{
    std::lock_guard lock(FMutex);
    return FMessages.size();
}

bool TGatewayProcess::Start(const QString& config)
{
    const QString path = FFolder.filePath(QStringLiteral("gateway.conf"));
    if (!WriteText(path, config) || !FChild.Start(QStringLiteral(KRM_GATEWAY_PATH), {QStringLiteral("--config"), path}))
        return false;
    FMetricsPort = static_cast<quint16>(FChild.WaitForLine(QStringLiteral("^krm-gateway: metrics on port (\\d+)$"), StartMs).toUInt());
    return FMetricsPort != 0;
}

QByteArray TGatewayProcess::Scrape() const { return HttpGet(FMetricsPort, QStringLiteral("/metrics")); }

bool TPrometheus::Start(quint16 targetPort)
{
    FPort = FreePort();
    const QString config = FFolder.filePath(QStringLiteral("prometheus.yml"));
    const QString text = QStringLiteral(
        "global:\n  scrape_interval: 200ms\n  scrape_timeout: 150ms\n"
        "scrape_configs:\n  - job_name: krm\n    static_configs:\n      - targets: ['127.0.0.1:%1']\n")
                             .arg(targetPort);
    if (!WriteText(config, text))
        return false;
    return FChild.Start(QStringLiteral("prometheus"),
               {QStringLiteral("--config.file=") + config, QStringLiteral("--storage.tsdb.path=") + FFolder.filePath(QStringLiteral("data")),
                   QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(FPort), QStringLiteral("--log.level=warn")})
        && WaitForListener(FPort, StartMs);
}

double TPrometheus::Query(const QString& query) const
{
    const QByteArray body = HttpGet(FPort, QStringLiteral("/api/v1/query?query=") + QString::fromUtf8(QUrl::toPercentEncoding(query)));
    const QJsonArray result = QJsonDocument::fromJson(body).object().value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray();
    if (result.isEmpty())
        return std::nan("");
    return result.first().toObject().value(QStringLiteral("value")).toArray().at(1).toString().toDouble();
}

bool TPrometheus::WaitForValue(const QString& query, double value, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (Query(query) == value)
            return true;
        QThread::msleep(200);
    }
    return false;
}

QByteArray HttpGet(quint16 port, const QString& pathAndQuery)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(pathAndQuery))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->isFinished() && reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    reply->abort();
    reply->deleteLater();
    return body;
}
