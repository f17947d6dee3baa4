// gripper-sim on a virtual CAN bus: requests cut into frames with the
// request identifier, answers in frames of up to 8 bytes with the next one.
#include "HXT_commands.h"
#include "ProtocolClient.h"
#include "SimulatorProcess.h"
#include "stat.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace {

class SimCan : public ::testing::Test {
protected:
    // An identifier of each test's own keeps it apart from other users of the
    // bus, including the other tests of this suite running at the same time.
    const quint32 RequestId = [] {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return 0x200u + static_cast<quint32>(qHash(QByteArray(info->name())) % 0x200u) * 2u;
    }();

    void SetUp() override
    {
        ASSERT_TRUE(sim.Start(QStringList{QStringLiteral("--can"), QStringLiteral("virtualcan:can0"),
                                  QStringLiteral("--can-id"), QString::number(RequestId), QStringLiteral("--referenced")}
            + ExtraArgs()))
            << sim.Errors().toStdString();
        WaitUntil([this] { return sim.Output().contains(QStringLiteral("can virtualcan:can0")) || !sim.Running(); }, 5000);
        // The virtual bus lives on the fixed local port 35468; another
        // program's connection that happens to hold that port keeps the bus
        // from starting, which says nothing about the simulator.
        if (sim.Errors().contains(QStringLiteral("cannot join CAN bus")))
            GTEST_SKIP() << "virtual CAN bus unavailable: " << sim.Errors().toStdString();
        ASSERT_TRUE(sim.Output().contains(QStringLiteral("can virtualcan:can0"))) << sim.Errors().toStdString();
        QString error;
        device.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), QStringLiteral("can0"), &error));
        ASSERT_TRUE(device) << error.toStdString();
        QObject::connect(device.get(), &QCanBusDevice::framesReceived, [this] {
            while (device->framesAvailable() > 0) {
                const QCanBusFrame f = device->readFrame();
                if (f.frameId() == RequestId + 1) {
                    frames.push_back(f);
                    client.Feed(f.payload().constData(), f.payload().size());
                }
            }
        });
        ASSERT_TRUE(device->connectDevice());
        ASSERT_TRUE(WaitUntil([this] { return device->state() == QCanBusDevice::ConnectedState; }, 3000));
    }

    virtual QStringList ExtraArgs() const { return {}; }

    void TearDown() override
    {
        if (device)
            device->disconnectDevice();
    }

    // Sends bytes cut into frames of up to 8 bytes, as the program does.
    void Write(const TByteArray& bytes) { WriteAs(bytes, RequestId); }

    void WriteAs(const TByteArray& bytes, quint32 id)
    {
        for (size_t at = 0; at < bytes.size(); at += 8) {
            const size_t n = std::min<size_t>(8, bytes.size() - at);
            device->writeFrame(QCanBusFrame(id, QByteArray(reinterpret_cast<const char*>(bytes.data() + at), qsizetype(n))));
        }
    }

    TSimulatorProcess sim;
    std::unique_ptr<QCanBusDevice> device;
    std::vector<QCanBusFrame> frames;
    TProtocolClient client{[this](const TByteArray& b) { Write(b); }};
};

} // namespace

TEST_F(SimCan, RequestsInSeveralFramesAreAnsweredWithTheNextIdentifier)
{
    client.Send(CMD_GOTO, GotoPayload(40, 400)); // 17 bytes: frames of 8, 8 and 1
    const auto pending = client.Next(CMD_GOTO);
    const auto final = client.Next(CMD_GOTO);
    ASSERT_TRUE(pending && final);
    EXPECT_EQ(pending->Status(), E_CMD_PENDING);
    EXPECT_EQ(final->Status(), E_SUCCESS);

    frames.clear();
    const auto limits = client.Call(CMD_GET_SYSTEM_LIMITS);
    ASSERT_TRUE(limits.has_value());
    EXPECT_EQ(limits->Result().size(), 32u);
    ASSERT_EQ(frames.size(), 6u) << "42 bytes in frames of 8";
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].payload().size(), i + 1 < frames.size() ? 8 : 2);
        EXPECT_FALSE(frames[i].hasExtendedFrameFormat());
    }
}

TEST_F(SimCan, FramesWithOtherIdentifiersAreIgnored)
{
    const TByteArray sysinfo{0xAA, 0xAA, 0xAA, 0x50, 0x00, 0x00, 0xDB, 0x87};
    // Identifiers outside the range the tests use for themselves.
    WriteAs(sysinfo, 0x7F0);
    WriteAs(sysinfo, 0x1FF);
    client.Pump(300);
    EXPECT_TRUE(frames.empty());
    Write(sysinfo);
    EXPECT_TRUE(client.Next(CMD_GET_SYSINFO).has_value());
}

namespace {

class SimCanClosing : public SimCan {
protected:
    QStringList ExtraArgs() const override { return {QStringLiteral("--close-after"), QStringLiteral("1")}; }
};

} // namespace

TEST_F(SimCanClosing, LeavesTheBusAfterTheGivenNumberOfFramesAndRejoins)
{
    EXPECT_TRUE(client.Call(CMD_GET_SYSINFO).has_value());
    EXPECT_FALSE(client.Call(CMD_GET_SYSINFO, {}, 500).has_value()) << "off the bus";
    client.Pump(700); // back on the bus after a second
    EXPECT_TRUE(client.Call(CMD_GET_SYSINFO).has_value());
}

TEST(SimCanNames, InterfaceThePluginCannotUseIsRefusedWithExitStatus1)
{
    // virtualcan would join can0 for either name.
    for (const QString name : {QStringLiteral("virtualcan:can5"), QStringLiteral("virtualcan:vcan0")}) {
        QProcess sim;
        sim.start(TSimulatorProcess::ExecutablePath(), {QStringLiteral("--can"), name});
        ASSERT_TRUE(sim.waitForFinished(10000)) << name.toStdString();
        const QString errors = QString::fromUtf8(sim.readAllStandardError());
        EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(sim.exitCode(), 1) << name.toStdString();
        EXPECT_TRUE(errors.contains(name)) << errors.toStdString();
        EXPECT_FALSE(QString::fromUtf8(sim.readAllStandardOutput()).contains(QStringLiteral("can virtualcan")));
    }
}
