#include "SerialDevice.h"

#include "IniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

const QString SettingsSection = QStringLiteral("common");
const QString BaudrateKey = QStringLiteral("baudrate");

// The device path of a port name (a bare name such as ttyUSB0, or a path).
QString DevicePath(const QString& name)
{
    return QDir::isAbsolutePath(name) ? name : QStringLiteral("/dev/") + name;
}

// True when `name` (a bare port name or an absolute path) names an existing
// device node.
bool DeviceExists(const QString& name)
{
    const QFileInfo info(DevicePath(name));
    return info.exists() && !info.isDir();
}

// True when this program may read and write the device at `path`.
bool MayReadAndWrite(const QString& path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(path);
    return true;
#endif
}

// Compares runs of digits by their number and everything else by text, case
// ignored.
bool NaturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit())
                ++endA;
            while (endB < b.size() && b[endB].isDigit())
                ++endB;
            // Compare the runs without their leading zeros, by length first.
            QStringView runA = QStringView(a).mid(i, endA - i);
            QStringView runB = QStringView(b).mid(j, endB - j);
            while (runA.size() > 1 && runA.front() == u'0')
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == u'0')
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (const int order = runA.compare(runB); order != 0)
                return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        const QChar ca = a[i].toLower();
        const QChar cb = b[j].toLower();
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b;
}

} // namespace

// Modem lines are not used for handshake and are held inactive. The port
// layer refuses to set them before the port is open, and on Linux the tty
// layer raises DTR and RTS inside open(2) whenever the line speed is not 0
// (and again on the change away from speed 0), so a short pulse on open
// cannot be avoided there; dropping both lines with one request as soon as
// the port is open keeps it as short as possible. A port without modem lines
// (a pseudo-terminal) refuses the request, which changes nothing.
void TSerialDevice::HoldModemLinesInactive(QSerialPort& port)
{
#ifdef Q_OS_UNIX
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(static_cast<int>(port.handle()), TIOCMBIC, &lines);
#else
    port.setDataTerminalReady(false);
    port.setRequestToSend(false);
#endif
}

// The port layer reports a port in use (locked by another program, or opened
// exclusively) and a device without access rights alike as a permission
// error; the device's access rights tell them apart.
TSerialDevice::TOpenFailure TSerialDevice::DescribeOpenFailure(const QString& portName,
    QSerialPort::SerialPortError error, const QString& systemText)
{
    const QString path = DevicePath(portName);
    if (error == QSerialPort::DeviceNotFoundError || !QFileInfo::exists(path))
        return {TOpenFailureKind::Gone,
            QStringLiteral("The serial port %1 does not exist (unplugged?): plug the adapter in again or choose "
                           "another port.")
                .arg(path)};
    if (error == QSerialPort::PermissionError) {
        if (!MayReadAndWrite(path))
            return {TOpenFailureKind::NoPermission,
                QStringLiteral("No permission to use %1: add the user to the group dialout (sudo adduser $USER "
                               "dialout) and log in again.")
                    .arg(path)};
        return {TOpenFailureKind::InUse,
            QStringLiteral("%1 is in use by another program: close that program or choose another port.").arg(path)};
    }
    if (error == QSerialPort::UnsupportedOperationError || QFileInfo(path).isFile())
        return {TOpenFailureKind::NotSerial, QStringLiteral("%1 is not a serial port: choose another port.").arg(path)};
    return {TOpenFailureKind::Other, QStringLiteral("%1 could not be opened: %2.").arg(path, systemText)};
}

void TSerialDevice::SetLineFormat(QSerialPort& port)
{
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

TSerialDevice::TSerialDevice(QObject* owner)
    : TDevice(QStringLiteral("uart"), owner)
    , FPort(new QSerialPort(this))
{
    // A stored index outside the list reads as the first speed rather than
    // making the device unusable.
    const int32_t index = Settings()->ReadInteger(SettingsSection, BaudrateKey, 0);
    FParams.Baudrate = LineSpeeds[index >= 0 && index < static_cast<int32_t>(LineSpeeds.size()) ? index : 0];
    FParams.PortName = GetPortName();

    FPort->setObjectName(QStringLiteral("SerialPort"));
    FPort->setPortName(QStringLiteral("ttyS0"));
    SetLineFormat(*FPort);
    connect(FPort, &QSerialPort::readyRead, this, &TSerialDevice::PortReadyRead);
    connect(FPort, &QSerialPort::errorOccurred, this, &TSerialDevice::PortError);

    Description = QStringLiteral("Serial (RS232)");
}

TSerialDevice::~TSerialDevice()
{
    BeginDestruction();
    Close();
    FPort->disconnect(this);
}

bool TSerialDevice::IsOpen() const
{
    return FPort->isOpen();
}

int TSerialDevice::LineSpeedIndex(int32_t baudrate)
{
    const auto found = std::find(LineSpeeds.begin(), LineSpeeds.end(), baudrate);
    return found == LineSpeeds.end() ? -1 : static_cast<int>(found - LineSpeeds.begin());
}

TStat TSerialDevice::Open(const QString& portName)
{
    TSerialParams params{portName, FParams.Baudrate};
    if (ParamSource && !ParamSource(params))
        return E_CMD_ABORTED;
    return OpenPort(params);
}

TStat TSerialDevice::OpenWith(const TConnectionParams& params)
{
    const auto* serial = std::get_if<TSerialParams>(&params);
    return serial ? OpenPort(*serial) : E_INVALID_PARAMETER;
}

TStat TSerialDevice::OpenPort(const TSerialParams& params)
{
    const int speedIndex = LineSpeedIndex(params.Baudrate);
    if (speedIndex < 0)
        return E_INVALID_PARAMETER;
    const QString portName = params.PortName;
    if (IsOpen())
        Close();
    SetOpenFailure({});
    if (portName.trimmed().isEmpty()) {
        SetOpenFailure(QStringLiteral("No serial port was chosen: plug in an adapter or type the device's path."));
        return E_IO_ERROR;
    }
    FPort->setBaudRate(params.Baudrate);
    FPort->setPortName(portName.trimmed());
    FPort->setReadBufferSize(ReadBufferBytes);
    if (!FPort->open(QIODevice::ReadWrite)) {
        SetOpenFailure(DescribeOpenFailure(portName.trimmed(), FPort->error(), FPort->errorString()).Text);
        return E_IO_ERROR;
    }
    HoldModemLinesInactive(*FPort);
    StoreSettings(SettingsSection, {{BaudrateKey, QString::number(speedIndex)}});
    FParams = {portName.trimmed(), params.Baudrate};
    StartConnectPoll();
    return E_SUCCESS;
}

TStat TSerialDevice::Close()
{
    FPort->close();
    FireDisconnect();
    return E_SUCCESS;
}

int32_t TSerialDevice::BytesAvailable()
{
    if (!IsOpen())
        return 0;
    return static_cast<int32_t>(std::min<qint64>(FPort->bytesAvailable(), INT32_MAX));
}

int32_t TSerialDevice::Read(uint8_t* buffer, int32_t count)
{
    if (!IsOpen())
        return -1;
    if (count <= 0)
        return 0;
    const qint64 got = FPort->read(reinterpret_cast<char*>(buffer), count);
    return got < 0 ? -1 : static_cast<int32_t>(got);
}

TStat TSerialDevice::Write(const uint8_t* buffer, int32_t count)
{
    if (!IsOpen())
        return E_NOT_OPENED;
    if (count <= 0)
        return E_SUCCESS;
    if (count > LongestWrite)
        return E_WRITE_ERROR;
#ifdef Q_OS_UNIX
    // Straight to the system, past the port's own queue: bytes that wait in
    // this process for a line that has stopped taking data would go out
    // whenever it drains, long after the caller was told they failed.
    const int port = static_cast<int>(FPort->handle());
    QElapsedTimer clock;
    clock.start();
    int32_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(port, buffer + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        const qint64 left = WriteTimeoutMs - clock.elapsed();
        pollfd room{port, POLLOUT, 0};
        if (left <= 0 || (::poll(&room, 1, static_cast<int>(left)) < 0 && errno != EINTR))
            break;
    }
    if (written == count)
        return E_SUCCESS;
    // A frame cut short is garbage to the gripper: its first part must not
    // go out either.
    if (written > 0)
        DiscardUnsent();
    return E_WRITE_ERROR;
#else
    return FPort->write(reinterpret_cast<const char*>(buffer), count) == count ? E_SUCCESS : E_WRITE_ERROR;
#endif
}

void TSerialDevice::DiscardUnsent()
{
    if (IsOpen())
        FPort->clear(QSerialPort::Output);
}

void TSerialDevice::GetPortList(QStringList& list)
{
    list.clear();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        list.append(info.portName());
    const QString configured = GetPortName();
    if (!configured.isEmpty() && !list.contains(configured, Qt::CaseInsensitive) && DeviceExists(configured))
        list.append(configured);
    SortPortNames(list);
}

void TSerialDevice::SortPortNames(QStringList& names)
{
    std::sort(names.begin(), names.end(), NaturalLess);
}

void TSerialDevice::PortReadyRead()
{
    NotifyFromReadNotification(BytesAvailable());
}

void TSerialDevice::PortError(QSerialPort::SerialPortError error)
{
    // A vanished device (unplugged adapter, closed pseudo-terminal master)
    // shows as a read, write or resource error while the port stays open.
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError && error != QSerialPort::ResourceError)
        return;
    if (!IsOpen())
        return;
    // The system's text for this ("Resource temporarily unavailable", "Input/
    // output error") does not tell the operator what happened.
    ConnectionLost(QStringLiteral("the serial line %1 was closed or unplugged.").arg(FPort->portName()));
}
