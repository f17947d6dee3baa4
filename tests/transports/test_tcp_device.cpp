// The TCP device against a loopback server started by the test.
#include "TCPDevice.h"
#include "TransportTestSupport.h"
#include "../common/SpecialFiles.h"

#include <QDir>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>

#include "IntegerEdit.h"

namespace {

// Exposes the connect poll to the tests.
class TProbeTCPDevice : public TTCPDevice {
public:
    using TTCPDevice::TTCPDevice;
    using TDevice::ConnectPollActive;

    QTcpSocket* Socket() const { return findChild<QTcpSocket*>(QStringLiteral("ClientSocket")); }
};

} // namespace

class TCPDevice : public TransportTest {
protected:
    void SetUp() override
    {
        TransportTest::SetUp();
        ASSERT_TRUE(Server.listen(QHostAddress::LocalHost, 0));
        Target(Server.serverPort());
        Device = std::make_unique<TProbeTCPDevice>(nullptr);
        AttachOperator(*Device);
        Device->OnConnect = [this](TDevice* sender) {
            EXPECT_EQ(sender, Device.get());
            ++Connects;
        };
        Device->OnDisconnect = [this](TDevice*) { ++Disconnects; };
    }

    void TearDown() override
    {
        Device.reset();
        TransportTest::TearDown();
    }

    // Dialog script: enter 127.0.0.1 and `port`, press OK.
    void Target(quint16 port)
    {
        DialogScript = [port](QDialog& dialog) {
            dialog.findChild<QLineEdit*>(QStringLiteral("edHostname"))->setText(QStringLiteral("127.0.0.1"));
            dialog.findChild<TIntegerEdit*>(QStringLiteral("edPort"))->setText(QString::number(port));
            return Press(dialog, "btnOk");
        };
    }

    // Opens the device and returns the server's end of the connection.
    QTcpSocket* Connect()
    {
        EXPECT_EQ(Device->Open(QStringLiteral("TCP")), E_SUCCESS);
        const int before = Connects;
        EXPECT_TRUE(WaitFor([&] { return Connects > before && Server.hasPendingConnections(); }));
        return Server.nextPendingConnection();
    }

    static quint16 UnusedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        return port;
    }

    QTcpServer Server;
    std::unique_ptr<TProbeTCPDevice> Device;
    int Connects = 0;
    int Disconnects = 0;
};

TEST_F(TCPDevice, ConnectsWithoutBlockingAndAnnouncesThroughThePoll)
{
    ASSERT_EQ(Device->Open(QStringLiteral("TCP")), E_SUCCESS);
    EXPECT_FALSE(Device->IsOpen()) << "Open only starts connecting";
    EXPECT_EQ(Connects, 0);
    const QByteArray stored = ReadSettingsFile(QStringLiteral("tcp.cfg"));
    EXPECT_EQ(stored, "[common]\nhost=127.0.0.1\nport=" + QByteArray::number(Server.serverPort()) + "\n")
        << "stored before the connection stands";

    ASSERT_TRUE(WaitFor([this] { return Connects > 0; }));
    EXPECT_TRUE(Device->IsOpen());
    Settle(150);
    EXPECT_EQ(Connects, 1);
    EXPECT_FALSE(Device->ConnectPollActive());
    EXPECT_EQ(Device->Socket()->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    EXPECT_TRUE(WaitFor([this] { return Server.hasPendingConnections(); }));
}

TEST_F(TCPDevice, CarriesBytesBothWays)
{
    QTcpSocket* peer = Connect();
    ASSERT_NE(peer, nullptr);
    const QByteArray out("\xAA\xAA\xAA\x02\x00\x00\x12\x34", 8);
    ASSERT_EQ(Device->Write(reinterpret_cast<const uint8_t*>(out.constData()), out.size()), E_SUCCESS);
    QByteArray atPeer;
    EXPECT_TRUE(WaitFor([&] {
        atPeer += peer->readAll();
        return atPeer.size() >= out.size();
    }));
    EXPECT_EQ(atPeer, out);

    // Three bytes per notification: the rest is offered again until read.
    QByteArray in;
    Device->OnDataAvailable = [&](TDevice*, int32_t count) {
        EXPECT_GT(count, 0);
        uint8_t chunk[3];
        const int32_t got = Device->Read(chunk, std::min<int32_t>(count, 3));
        if (got > 0)
            in.append(reinterpret_cast<const char*>(chunk), got);
    };
    QByteArray sent(200, Qt::Uninitialized);
    for (int i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>(i);
    peer->write(sent);
    EXPECT_TRUE(WaitFor([&] { return in.size() >= sent.size(); }));
    EXPECT_EQ(in, sent);
    uint8_t none;
    EXPECT_EQ(Device->Read(&none, 1), -1) << "nothing waiting reads as -1";
}

TEST_F(TCPDevice, RefusedConnectionIsReportedAndNeverAnnounced)
{
    const quint16 RefusedPort = UnusedPort();
    Target(RefusedPort);
    ASSERT_EQ(Device->Open(QStringLiteral("TCP")), E_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return !Messages.empty(); }));
    Settle(200);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].kind, TMessageKind::Error);
    EXPECT_TRUE(Messages[0].text.contains(QStringLiteral("refused"), Qt::CaseInsensitive))
        << Messages[0].text.toStdString();
    EXPECT_TRUE(Messages[0].text.contains(QStringLiteral("127.0.0.1 port %1").arg(RefusedPort)))
        << Messages[0].text.toStdString();
    EXPECT_EQ(Connects, 0);
    EXPECT_EQ(Disconnects, 0);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_FALSE(Device->ConnectPollActive());
}

TEST_F(TCPDevice, SocketErrorsGoToOnErrorWhenAssigned)
{
    int errors = 0;
    Device->OnError = [&](TDevice* sender, int32_t value) {
        EXPECT_EQ(sender, Device.get());
        EXPECT_EQ(value, 0);
        ++errors;
    };
    Target(UnusedPort());
    ASSERT_EQ(Device->Open(QStringLiteral("TCP")), E_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return errors > 0; }));
    Settle(100);
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(Messages.empty()) << "a handled error shows no message";
}

TEST_F(TCPDevice, PeerClosingIsALostLinkReportedOnce)
{
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "peer aborts" : "peer closes");
        Messages.clear();
        Disconnects = 0;
        QTcpSocket* peer = Connect();
        ASSERT_NE(peer, nullptr);
        QByteArray in;
        int disconnectsBeforeData = -1;
        Device->OnDataAvailable = [&](TDevice*, int32_t count) {
            uint8_t chunk[64];
            const int32_t got = Device->Read(chunk, std::min<int32_t>(count, 1));
            if (got > 0)
                in.append(reinterpret_cast<const char*>(chunk), got);
            disconnectsBeforeData = Disconnects;
        };
        peer->write("last words");
        peer->flush();
        if (reset)
            peer->abort();
        else
            peer->close();
        ASSERT_TRUE(WaitFor([this] { return Disconnects > 0; }));
        Settle(200);
        EXPECT_EQ(Disconnects, 1);
        EXPECT_EQ(in, QByteArray("last words")) << "bytes sent before the close are delivered";
        EXPECT_EQ(disconnectsBeforeData, 0);
        EXPECT_FALSE(Device->IsOpen());
        uint8_t byte;
        EXPECT_EQ(Device->Read(&byte, 1), -1);
        ASSERT_EQ(Messages.size(), 1u);
        EXPECT_TRUE(Messages[0].text.startsWith(TDevice::LinkLostPrefix)) << Messages[0].text.toStdString();
        EXPECT_FALSE(Device->ConnectPollActive());
        delete peer;
        Device->OnDataAvailable = nullptr;
    }
}

TEST_F(TCPDevice, UnwritableSettingsStillConnectAndTellTheOperatorOnce)
{
    ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("tcp.cfg")));
    ASSERT_EQ(Device->Open(QStringLiteral("TCP")), E_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return Connects == 1; }));
    EXPECT_TRUE(Device->IsOpen());
    Settle(50);
    ASSERT_EQ(Messages.size(), 1u) << "one message for both keys";
    EXPECT_EQ(Messages[0].kind, TMessageKind::Error);
    EXPECT_TRUE(Messages[0].text.contains(Folder.filePath(QStringLiteral("tcp.cfg")))) << Messages[0].text.toStdString();
}

TEST_F(TCPDevice, SettingsFileThatIsNoRegularFileIsLeftAloneAndReportedOnce)
{
    const TNoWaitGuard guard(60);
    const QString settings = Folder.filePath(QStringLiteral("tcp.cfg"));
    const QString special = Folder.filePath(QStringLiteral("special"));
    const bool node = MakeCharDevice(special);
    ASSERT_TRUE(node || MakeFifo(special));
    ASSERT_TRUE(MakeLink(special, settings));
    const TFileIdentity before = IdentityOf(special);

    Device = std::make_unique<TProbeTCPDevice>(nullptr);
    AttachOperator(*Device);
    Device->OnConnect = [this](TDevice*) { ++Connects; };
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(Device->Open(QStringLiteral("TCP")), E_SUCCESS);
        ASSERT_TRUE(WaitFor([&] { return Connects == round; })) << "round " << round;
        Device->Close();
    }
    Settle(50);
    ASSERT_EQ(Messages.size(), 1u) << "one warning, not one per connect";
    EXPECT_EQ(Messages[0].text,
        QStringLiteral("Cannot use the settings in %1: it is a symbolic link to %2, not to a regular file; the defaults are used.")
            .arg(settings, node ? QStringLiteral("a character device") : QStringLiteral("a FIFO")));
    EXPECT_EQ(IdentityOf(special), before);
    EXPECT_TRUE(QFileInfo(settings).isSymLink());
}

TEST_F(TCPDevice, EmptyHostIsAnOpeningError)
{
    DialogScript = [](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("edHostname"))->setText(QStringLiteral("   "));
        return Press(dialog, "btnOk");
    };
    EXPECT_EQ(Device->Open(QStringLiteral("TCP")), E_IO_ERROR);
    EXPECT_FALSE(Device->ConnectPollActive());
    EXPECT_FALSE(QFile::exists(Folder.filePath(QStringLiteral("tcp.cfg"))));
}

TEST_F(TCPDevice, CloseWhileConnectingLeavesNothingBehind)
{
    ASSERT_EQ(Device->Open(QStringLiteral("TCP")), E_SUCCESS);
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    Settle(300);
    EXPECT_EQ(Connects, 0);
    EXPECT_EQ(Disconnects, 0);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_EQ(Device->Socket()->state(), QAbstractSocket::UnconnectedState);
}

TEST_F(TCPDevice, ClosedDeviceContract)
{
    uint8_t buffer[4] = {};
    EXPECT_EQ(Device->Read(buffer, 4), -1);
    EXPECT_EQ(Device->BytesAvailable(), 0);
    EXPECT_EQ(Device->Write(buffer, 4), E_NOT_OPENED);
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_EQ(Disconnects, 0) << "closing a closed TCP device does nothing";
    QStringList ports = {QStringLiteral("old")};
    Device->GetPortList(ports);
    EXPECT_EQ(ports, QStringList({"TCP"}));
    EXPECT_EQ(Device->DeviceId, QStringLiteral("tcp"));
    EXPECT_EQ(Device->Description, QStringLiteral("Ethernet"));
    EXPECT_EQ(Device->Socket()->objectName(), QStringLiteral("ClientSocket"));
}

TEST_F(TCPDevice, CloseAndReopen)
{
    QTcpSocket* first = Connect();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_TRUE(WaitFor([&] { return first->state() == QAbstractSocket::UnconnectedState; }))
        << "the peer sees the close";

    QTcpSocket* second = Connect();
    ASSERT_NE(second, nullptr);
    QTcpSocket* third = Connect();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(Disconnects, 2) << "Open on an open device closes it first";
    EXPECT_EQ(Connects, 3);
    EXPECT_TRUE(WaitFor([&] { return second->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(Messages.empty());
}

TEST_F(TCPDevice, DestroyingAnOpenDeviceClosesItSilently)
{
    QTcpSocket* peer = Connect();
    ASSERT_NE(peer, nullptr);
    Device.reset();
    EXPECT_EQ(Disconnects, 0);
    EXPECT_TRUE(WaitFor([&] { return peer->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(Messages.empty());
}
