// The serial device against a pseudo-terminal pair made by the test: the
// device opens the slave side like any serial port, the test plays the
// gripper on the master side.
#include "SerialDevice.h"
#include "TransportTestSupport.h"

#include <QComboBox>
#include <QDir>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

class TPseudoTerminal {
public:
    TPseudoTerminal()
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY);
        if (FMaster >= 0 && grantpt(FMaster) == 0 && unlockpt(FMaster) == 0) {
            SlavePath = QString::fromLocal8Bit(ptsname(FMaster));
            fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
        }
    }
    ~TPseudoTerminal() { CloseMaster(); }

    bool IsValid() const { return FMaster >= 0 && !SlavePath.isEmpty(); }

    void CloseMaster()
    {
        if (FMaster >= 0)
            ::close(FMaster);
        FMaster = -1;
    }

    bool Send(const QByteArray& bytes) const
    {
        return ::write(FMaster, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }

    // Collects what the device sends until `count` bytes came or the time
    // is up, keeping the event loop running so queued writes go out.
    QByteArray Receive(qsizetype count, int timeoutMs = 5000) const
    {
        QByteArray got;
        WaitFor(
            [&] {
                char chunk[4096];
                ssize_t n;
                while ((n = ::read(FMaster, chunk, sizeof chunk)) > 0)
                    got.append(chunk, n);
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }

    termios LineSettings() const
    {
        termios settings{};
        tcgetattr(FMaster, &settings);
        return settings;
    }

    int Master() const { return FMaster; }

    QString SlavePath;

private:
    int FMaster = -1;
};

// Exposes the connect poll to the tests.
class TProbeSerialDevice : public TSerialDevice {
public:
    using TSerialDevice::TSerialDevice;
    using TDevice::ConnectPollActive;
};

QByteArray Pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

} // namespace

class SerialDevice : public TransportTest {
protected:
    void SetUp() override
    {
        TransportTest::SetUp();
        ASSERT_TRUE(Pty.IsValid());
        ChooseSpeed(0);
        Device = std::make_unique<TProbeSerialDevice>(nullptr);
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

    // Dialog script: choose the line speed entry `index` and press OK.
    void ChooseSpeed(int index)
    {
        DialogScript = [index](QDialog& dialog) {
            dialog.findChild<QComboBox*>(QStringLiteral("cbBaudrate"))->setCurrentIndex(index);
            return Press(dialog, "btnOk");
        };
    }

    void OpenAndWaitForConnect()
    {
        ASSERT_EQ(Device->Open(Pty.SlavePath), E_SUCCESS);
        ASSERT_TRUE(WaitFor([this] { return Connects > 0; }));
    }

    TPseudoTerminal Pty;
    std::unique_ptr<TProbeSerialDevice> Device;
    int Connects = 0;
    int Disconnects = 0;
};

TEST_F(SerialDevice, OpensAtTheChosenSpeedAndAnnouncesItselfOnce)
{
    ChooseSpeed(7);
    ASSERT_EQ(Device->Open(Pty.SlavePath), E_SUCCESS);
    EXPECT_TRUE(Device->IsOpen());
    EXPECT_EQ(Connects, 0) << "OnConnect comes from the poll, not from Open";
    ASSERT_TRUE(WaitFor([this] { return Connects > 0; }));
    Settle(150);
    EXPECT_EQ(Connects, 1);
    EXPECT_FALSE(Device->ConnectPollActive());

    const termios line = Pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);

    EXPECT_TRUE(ReadSettingsFile(QStringLiteral("uart.cfg")).contains("[common]\nbaudrate=7\n"));
}

TEST_F(SerialDevice, CarriesBytesBothWays)
{
    OpenAndWaitForConnect();
    const QByteArray out("\xAA\xAA\xAA\x01\x00\x00\xFF\x7F", 8);
    ASSERT_EQ(Device->Write(reinterpret_cast<const uint8_t*>(out.constData()), out.size()), E_SUCCESS);
    EXPECT_EQ(Pty.Receive(out.size()), out);

    // A handler that takes only a few bytes per notification still gets
    // every byte, without further arrivals.
    QByteArray in;
    Device->OnDataAvailable = [&](TDevice* sender, int32_t count) {
        EXPECT_EQ(sender, Device.get());
        EXPECT_GT(count, 0);
        uint8_t chunk[7];
        const int32_t got = Device->Read(chunk, std::min<int32_t>(count, 7));
        if (got > 0)
            in.append(reinterpret_cast<const char*>(chunk), got);
    };
    const QByteArray sent = Pattern(300);
    ASSERT_TRUE(Pty.Send(sent));
    EXPECT_TRUE(WaitFor([&] { return in.size() >= sent.size(); }));
    EXPECT_EQ(in, sent);
}

TEST_F(SerialDevice, CloseLetsQueuedBytesGoOut)
{
    OpenAndWaitForConnect();
    const QByteArray sent = Pattern(4500);
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    QByteArray received;
    std::thread reader([&] {
        while (!stop && received.size() < sent.size()) {
            pollfd fd{Pty.Master(), POLLIN, 0};
            if (poll(&fd, 1, 20) > 0) {
                char chunk[1024];
                const ssize_t n = ::read(Pty.Master(), chunk, sizeof chunk);
                if (n > 0)
                    received.append(chunk, n);
            }
        }
        done = true;
    });
    for (int offset = 0; offset < sent.size(); offset += 1500)
        ASSERT_EQ(Device->Write(reinterpret_cast<const uint8_t*>(sent.constData()) + offset, 1500), E_SUCCESS);
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_FALSE(Device->IsOpen());
    // The reader ends once it has every byte; the bound only limits how long
    // a failing run waits.
    WaitFor([&] { return done.load(); }, 30000);
    stop = true;
    reader.join();
    EXPECT_EQ(received, sent);
    EXPECT_EQ(Disconnects, 1);
}

TEST_F(SerialDevice, WriteIsRefusedWhenTheLineTakesNothingMore)
{
    OpenAndWaitForConnect();
    const QByteArray block = Pattern(2000);
    TStat status = E_SUCCESS;
    for (int i = 0; i < 200 && status == E_SUCCESS; ++i)
        status = Device->Write(reinterpret_cast<const uint8_t*>(block.constData()), block.size());
    EXPECT_EQ(status, E_WRITE_ERROR) << "the far end never reads";
    EXPECT_EQ(Device->Close(), E_SUCCESS) << "closing gives up on what cannot drain";
    EXPECT_FALSE(Device->IsOpen());
}

TEST_F(SerialDevice, FrameLongerThanTheTransmitQueueIsRefusedWhole)
{
    OpenAndWaitForConnect();
    const QByteArray tooLong = Pattern(2049);
    EXPECT_EQ(Device->Write(reinterpret_cast<const uint8_t*>(tooLong.constData()), tooLong.size()), E_WRITE_ERROR);
    EXPECT_EQ(Pty.Receive(1, 300), QByteArray()) << "not a byte of it may go out";

    const QByteArray fits = Pattern(2048);
    EXPECT_EQ(Device->Write(reinterpret_cast<const uint8_t*>(fits.constData()), fits.size()), E_SUCCESS);
    EXPECT_EQ(Pty.Receive(fits.size()), fits);
}

TEST_F(SerialDevice, LostLinkClosesAndReportsOnce)
{
    OpenAndWaitForConnect();
    int notifications = 0;
    Device->OnDataAvailable = [&](TDevice*, int32_t) { ++notifications; };
    Pty.CloseMaster();
    ASSERT_TRUE(WaitFor([this] { return Disconnects > 0; }));
    Settle(200);
    EXPECT_EQ(Disconnects, 1);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_FALSE(Device->ConnectPollActive());
    uint8_t byte;
    EXPECT_EQ(Device->Read(&byte, 1), -1);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].kind, TMessageKind::Error);
    EXPECT_TRUE(Messages[0].text.startsWith(TDevice::LinkLostPrefix)) << Messages[0].text.toStdString();
    EXPECT_GT(Messages[0].text.size(), TDevice::LinkLostPrefix.size()) << "the cause follows the prefix";
    EXPECT_TRUE(Messages[0].text.contains(QStringLiteral("closed or unplugged"))) << Messages[0].text.toStdString();
}

TEST_F(SerialDevice, ClosedDeviceContract)
{
    uint8_t buffer[4] = {};
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_EQ(Device->Read(buffer, 4), -1);
    EXPECT_EQ(Device->BytesAvailable(), 0);
    EXPECT_EQ(Device->Write(buffer, 4), E_NOT_OPENED);
    EXPECT_EQ(Device->Close(), E_SUCCESS);
    EXPECT_EQ(Disconnects, 1) << "closing a closed serial device still announces it";
    EXPECT_EQ(Device->DeviceId, QStringLiteral("uart"));
    EXPECT_EQ(Device->objectName(), QStringLiteral("uart"));
    EXPECT_EQ(Device->Description, QStringLiteral("Serial (RS232)"));
}

TEST_F(SerialDevice, DestroyingAnOpenDeviceClosesItSilently)
{
    OpenAndWaitForConnect();
    Device.reset();
    EXPECT_EQ(Disconnects, 0);
    // The slave side is closed: the master sees the hang-up.
    pollfd fd{Pty.Master(), POLLIN, 0};
    ASSERT_EQ(poll(&fd, 1, 1000), 1);
    EXPECT_TRUE(fd.revents & POLLHUP);
}

TEST_F(SerialDevice, ReopeningClosesFirst)
{
    OpenAndWaitForConnect();
    ChooseSpeed(3);
    ASSERT_EQ(Device->Open(Pty.SlavePath), E_SUCCESS);
    EXPECT_EQ(Disconnects, 1);
    ASSERT_TRUE(WaitFor([this] { return Connects == 2; }));
    const termios line = Pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
}

TEST_F(SerialDevice, CancelLeavesAnOpenPortOpen)
{
    OpenAndWaitForConnect();
    DialogScript = [](QDialog& dialog) { return Press(dialog, "btnCancel"); };
    EXPECT_EQ(Device->Open(Pty.SlavePath), E_CMD_ABORTED);
    EXPECT_TRUE(Device->IsOpen());
    EXPECT_EQ(Disconnects, 0);
}

TEST_F(SerialDevice, OpeningFailuresGiveIoError)
{
    EXPECT_EQ(Device->Open(QString()), E_IO_ERROR);
    EXPECT_EQ(DialogRuns, 1) << "the dialog comes first, also for an empty port name";
    EXPECT_EQ(Device->Open(QStringLiteral("/dev/no-such-tty")), E_IO_ERROR);
    EXPECT_EQ(Device->Open(QStringLiteral("ttyNoSuchPort99")), E_IO_ERROR);
    EXPECT_FALSE(Device->IsOpen());
    EXPECT_FALSE(Device->ConnectPollActive());
    EXPECT_FALSE(QFile::exists(Folder.filePath(QStringLiteral("uart.cfg")))) << "nothing stored on failure";
}

TEST_F(SerialDevice, OpeningFailuresNameTheirCauseAndRemedy)
{
    const QString gone = Folder.filePath(QStringLiteral("ttyUSB-unplugged"));
    EXPECT_EQ(Device->Open(gone), E_IO_ERROR);
    EXPECT_EQ(Device->OpenFailure(),
              QStringLiteral("The serial port %1 does not exist (unplugged?): plug the adapter in again or choose "
                             "another port.")
                  .arg(gone));

    const QString plainFile = Folder.filePath(QStringLiteral("notes.txt"));
    QFile file(plainFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(Device->Open(plainFile), E_IO_ERROR);
    EXPECT_EQ(Device->OpenFailure(), QStringLiteral("%1 is not a serial port: choose another port.").arg(plainFile));

    // Another program (here a second device) holds the port.
    TProbeSerialDevice other(nullptr);
    AttachOperator(other);
    ASSERT_EQ(other.Open(Pty.SlavePath), E_SUCCESS);
    EXPECT_EQ(Device->Open(Pty.SlavePath), E_IO_ERROR);
    EXPECT_EQ(Device->OpenFailure(),
              QStringLiteral("%1 is in use by another program: close that program or choose another port.")
                  .arg(Pty.SlavePath));

    other.Close();
    EXPECT_EQ(Device->Open(Pty.SlavePath), E_SUCCESS);
    EXPECT_TRUE(Device->OpenFailure().isEmpty()) << "a success forgets the last failure";
}

TEST_F(SerialDevice, UnwritableSettingsStillOpenAndTellTheOperator)
{
    ASSERT_TRUE(QDir(Folder.path()).mkdir(QStringLiteral("uart.cfg")));
    ASSERT_EQ(Device->Open(Pty.SlavePath), E_SUCCESS);
    EXPECT_TRUE(Device->IsOpen());
    ASSERT_TRUE(WaitFor([this] { return Connects == 1; }));
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_TRUE(Messages[0].text.contains(Folder.filePath(QStringLiteral("uart.cfg")))) << Messages[0].text.toStdString();
}

TEST_F(SerialDevice, PortListHoldsTheConfiguredPseudoTerminal)
{
    QStringList ports;
    Device->GetPortList(ports);
    EXPECT_FALSE(ports.contains(Pty.SlavePath)) << "pseudo-terminals are not enumerated";

    WriteSettingsFile(QStringLiteral("uart.cfg"), "[Common]\nPortname=" + Pty.SlavePath.toLocal8Bit() + "\n");
    ports << QStringLiteral("stale entry");
    Device->GetPortList(ports);
    EXPECT_TRUE(ports.contains(Pty.SlavePath));
    EXPECT_FALSE(ports.contains(QStringLiteral("stale entry")));
    QStringList sorted = ports;
    TSerialDevice::SortPortNames(sorted);
    EXPECT_EQ(ports, sorted);

    WriteSettingsFile(QStringLiteral("uart.cfg"), "[Common]\nPortname=/dev/no-such-tty\n");
    Device->GetPortList(ports);
    EXPECT_FALSE(ports.contains(QStringLiteral("/dev/no-such-tty"))) << "only existing devices are added";
}

TEST(SerialPortNames, SortInNaturalOrder)
{
    QStringList names = {QStringLiteral("ttyUSB0"), QStringLiteral("ttyS10"), QStringLiteral("ttyS2"),
        QStringLiteral("ttyACM0"), QStringLiteral("ttyS1"), QStringLiteral("ttyS02"), QStringLiteral("ttyUSB10"),
        QStringLiteral("ttyUSB9")};
    TSerialDevice::SortPortNames(names);
    EXPECT_EQ(names, QStringList({"ttyACM0", "ttyS1", "ttyS02", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB9", "ttyUSB10"}));
}

TEST_F(SerialDevice, PortHeldByAnotherDeviceIsRefused)
{
    OpenAndWaitForConnect();
    TSerialDevice other(nullptr);
    AttachOperator(other);
    EXPECT_EQ(other.Open(Pty.SlavePath), E_IO_ERROR);
    EXPECT_TRUE(Device->IsOpen());
}
