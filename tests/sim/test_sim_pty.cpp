// gripper-sim over its serial line (a pseudo-terminal opened as a serial
// port), and the routing of final results to the transport that started a
// motion.
#include "HXT_commands.h"
#include "SimulatorProcess.h"
#include "TcpPeer.h"
#include "convert.h"
#include "stat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A serial port on the simulator's terminal link.
class TSerialPeer {
public:
    explicit TSerialPeer(const QString& path)
        : FClient([this](const TByteArray& b) {
              FPort.write(reinterpret_cast<const char*>(b.data()), static_cast<qint64>(b.size()));
              FPort.flush();
          })
    {
        FPort.setPortName(path);
        QObject::connect(&FPort, &QSerialPort::readyRead, [this] {
            const QByteArray bytes = FPort.readAll();
            FRaw += bytes;
            FClient.Feed(bytes.constData(), bytes.size());
        });
    }

    bool Open()
    {
        FPort.setBaudRate(QSerialPort::Baud115200);
        return FPort.open(QIODevice::ReadWrite);
    }
    void Close() { FPort.close(); }

    TProtocolClient& Client() { return FClient; }
    const QByteArray& Raw() const { return FRaw; }
    QString Error() const { return FPort.errorString(); }

private:
    QSerialPort FPort;
    QByteArray FRaw;
    TProtocolClient FClient;
};

class SimPty : public ::testing::Test {
protected:
    void Launch(QStringList args = {})
    {
        args << QStringLiteral("--pty") << link << QStringLiteral("--referenced");
        ASSERT_TRUE(sim.Start(args)) << sim.Errors().toStdString();
        ASSERT_TRUE(WaitUntil([this] { return sim.Output().contains(QStringLiteral("pty ")); }, 3000));
        ASSERT_TRUE(QFileInfo(link).isSymLink());
    }

    QString link = QDir::temp().filePath(QStringLiteral("krm-sim-pty-%1").arg(QCoreApplication::applicationPid()));
    TSimulatorProcess sim;
};

} // namespace

TEST_F(SimPty, SerialPortOnTheLinkIsAnswered)
{
    Launch();
    TSerialPeer peer(link);
    ASSERT_TRUE(peer.Open()) << peer.Error().toStdString();
    const auto info = peer.Client().Call(CMD_GET_SYSINFO);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(peer.Raw(), QByteArray::fromHex("AAAAAA500A000000010203014E61BC00447C"));
    const auto pos = peer.Client().Call(CMD_GET_POS, {0x01, 0x14, 0x00});
    ASSERT_TRUE(pos.has_value());
    EXPECT_EQ(pos->Status(), E_SUCCESS);
    // A position report every 20 ms; the bound only limits a failing run.
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(peer.Client().Next(CMD_GET_POS, 5000).has_value()) << "report " << i;
}

TEST_F(SimPty, ClosingAndReopeningThePortKeepsTheLineWorking)
{
    Launch();
    for (int round = 0; round < 3; ++round) {
        TSerialPeer peer(link);
        ASSERT_TRUE(peer.Open()) << "round " << round << ": " << peer.Error().toStdString();
        const auto stop = peer.Client().Call(CMD_STOP);
        ASSERT_TRUE(stop.has_value()) << "round " << round;
        EXPECT_EQ(stop->Status(), E_SUCCESS);
        peer.Close();
    }
}

TEST_F(SimPty, FinalResultGoesToTheTransportThatStartedTheMotion)
{
    Launch();
    TTcpPeer tcp;
    ASSERT_TRUE(tcp.Connect(sim.TcpPort()));
    TSerialPeer serial(link);
    ASSERT_TRUE(serial.Open());

    tcp.Client().Send(CMD_GOTO, GotoPayload(30, 400));
    const auto pending = tcp.Client().Next(CMD_GOTO);
    const auto final = tcp.Client().Next(CMD_GOTO);
    ASSERT_TRUE(pending && final);
    EXPECT_EQ(pending->Status(), E_CMD_PENDING);
    EXPECT_EQ(final->Status(), E_SUCCESS);
    serial.Client().Pump(100);
    EXPECT_TRUE(serial.Raw().isEmpty());

    // Both see the one gripper.
    const auto pos = serial.Client().Call(CMD_GET_POS);
    ASSERT_TRUE(pos.has_value());
    EXPECT_FLOAT_EQ(SingleAt(pos->Result().data()), 30.0f);
}

TEST_F(SimPty, LineHangsUpAfterTheGivenNumberOfFramesAndComesBack)
{
    Launch({QStringLiteral("--close-after"), QStringLiteral("1")});
    {
        TSerialPeer peer(link);
        ASSERT_TRUE(peer.Open());
        EXPECT_TRUE(peer.Client().Call(CMD_GET_SYSINFO).has_value());
        // The line drops: the port reports an error or end of data.
        EXPECT_FALSE(peer.Client().Call(CMD_GET_SYSINFO, {}, 500).has_value());
    }
    // A fresh terminal takes the link; the simulator announces it again.
    ASSERT_TRUE(WaitUntil([this] { return sim.Output().count(QStringLiteral("pty ")) == 2; }, 2000));
    ASSERT_TRUE(QFileInfo(link).isSymLink());
    TSerialPeer again(link);
    ASSERT_TRUE(again.Open());
    EXPECT_TRUE(again.Client().Call(CMD_GET_SYSINFO).has_value());
}

