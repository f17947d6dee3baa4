#include "RobustTestSupport.h"

#include "DeviceComponent.h"
#include "Framing.h"
#include "GripperOperator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>

QString FrameHex(const TPacket& packet)
{
    const TByteArray frame = BuildFrame(static_cast<uint8_t>(packet.command & 0xFF), packet.data.data(),
                                        static_cast<size_t>(packet.ValidLength()));
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size())).toHex(' ').toUpper());
}

QStringList ReceivedFrames(const TCommLog& log)
{
    QStringList frames;
    for (int i = 0; i < log.PacketCount(); ++i) {
        const TPacket& p = log.StoredPacket(i);
        if (p.command & PacketReceivedMark)
            frames << FrameHex(p);
    }
    return frames;
}

TSentFrames SimulatorSentFrames(TSimulatorProcess& sim)
{
    // "[tcp] TX 50h GET_SYSINFO: AA AA AA 50 ... (note)"
    static const QRegularExpression line(QStringLiteral("^\\[[^\\]]*\\] TX [0-9a-fA-F]{2}h [^:]*: ([0-9A-F ]+?)(?: \\((.*)\\))?$"),
                                         QRegularExpression::MultilineOption);
    TSentFrames sent;
    auto it = line.globalMatch(sim.Errors());
    while (it.hasNext()) {
        const auto match = it.next();
        const QString note = match.captured(2);
        if (note.contains(QStringLiteral("garbage")))
            ++sent.garbage;
        if (note.contains(QStringLiteral("corrupted")))
            ++sent.corrupted;
        else if (!note.contains(QStringLiteral("dropped")))
            sent.intact << match.captured(1);
    }
    return sent;
}

void Settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void RobustTest::SetUp()
{
    Log = std::make_unique<TCommLog>();
    Gripper = std::make_unique<THXT>(nullptr);
    AttachOperator(*Gripper);
    Gripper->OnConnect = [this](QObject*) { ++Connects; };
    Gripper->OnDisconnect = [this](QObject*) { ++Disconnects; };
}

void RobustTest::TearDown()
{
    Gripper.reset();
    Log.reset();
    Sim.Stop();
}

bool RobustTest::StartSimulator(const QStringList& args)
{
    if (Sim.Start(args + QStringList{QStringLiteral("--verbose")}))
        return true;
    ADD_FAILURE() << "simulator did not start: " << Sim.Errors().toStdString();
    return false;
}

bool RobustTest::ConnectTo(quint16 port)
{
    Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Ethernet;
    Driver.HostPort = port;
    const int before = Connects;
    if (Gripper->Connect() != E_SUCCESS)
        return false;
    return WaitFor([&] { return Connects > before && Gripper->IsConnected(); });
}

void RobustTest::ExpectEverySentFrameReceived(int timeoutMs)
{
    WaitFor([&] { return ReceivedFrames(*Log) == SimulatorSentFrames(Sim).intact; }, timeoutMs);
    EXPECT_EQ(ReceivedFrames(*Log).join(QLatin1Char('\n')).toStdString(),
              SimulatorSentFrames(Sim).intact.join(QLatin1Char('\n')).toStdString());
}

int RobustTest::MessagesStartingWith(const QString& prefix) const
{
    int count = 0;
    for (const TRecordedMessage& m : Driver.Messages)
        if (m.text.startsWith(prefix))
            ++count;
    return count;
}
