// krm-gateway: every configured gripper on MQTT and in Prometheus.
#include "Gateway.h"
#include "GatewayConfig.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <mosquitto.h>

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

namespace {

void Print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// SIGINT and SIGTERM are taken by one thread of their own and end the event
// loop; every other thread has them blocked.
sigset_t EndSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

int main(int argc, char** argv)
{
    const sigset_t endSignals = EndSignals();
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("krm-gateway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KRM_VERSION));

    TGatewaySettings settings;
    try {
        const TGatewayOptions options = ParseGatewayOptions(QCoreApplication::arguments().mid(1));
        if (options.Help) {
            Print(stdout, GatewayUsage());
            return 0;
        }
        if (options.Version) {
            Print(stdout, QStringLiteral("krm-gateway %1\n").arg(QStringLiteral(KRM_VERSION)));
            return 0;
        }
        settings = LoadGatewaySettings(options);
    } catch (const TConfigError& error) {
        Print(stderr, QStringLiteral("krm-gateway: %1\n").arg(error.Message()));
        return 2;
    }

    mosquitto_lib_init();
    int status = 0;
    {
        TGateway gateway(settings);
        QString error;
        if (!gateway.Start(error)) {
            Print(stderr, QStringLiteral("krm-gateway: %1\n").arg(error));
            status = 1;
        } else {
            Print(stdout, QStringLiteral("krm-gateway: metrics on port %1\n").arg(gateway.MetricsPort()));
            std::thread([endSignals] {
                int signal = 0;
                sigwait(&endSignals, &signal);
                QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
            }).detach();
            status = QCoreApplication::exec();
        }
    }
    mosquitto_lib_cleanup();
    return status;
}
