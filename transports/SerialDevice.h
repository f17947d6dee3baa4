#pragma once
// The device that reaches the gripper over a serial port: 8 data bits, no
// parity, 1 stop bit, no flow control, DTR and RTS held inactive, the line
// speed taken from the parameter source at every Open (in the program, the
// dialog TBaudrateDlg) and remembered in uart.cfg. Port names are the
// platform's (ttyUSB0, ttyS1, ...); Open also accepts an absolute device path.
#include "DeviceComponent.h"

#include <QSerialPort>

#include <array>
#include <functional>

class TSerialDevice : public TDevice {
    Q_OBJECT
public:
    // A write hands its bytes to the system before it returns, whole or
    // not at all: one that the line does not take within WriteTimeoutMs is
    // refused and none of its bytes go out later, and so is one longer than
    // LongestWrite.
    static constexpr qint64 LongestWrite = 2048;
    static constexpr int WriteTimeoutMs = 1000;
    // Received bytes the port keeps until they are read: beyond them the
    // port stops reading, so a flood holds the sender back instead of
    // filling memory.
    static constexpr qint64 ReadBufferBytes = 256 * 1024;

    // The line speeds offered, in baud; uart.cfg stores the index of one.
    static constexpr std::array<int32_t, 8> LineSpeeds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    // Index of `baudrate` in LineSpeeds; -1 when it is not one of them.
    static int LineSpeedIndex(int32_t baudrate);

    // Gets the parameters of the coming opening (the port chosen already
    // filled in) and may change them; false cancels the opening.
    using TParamSource = std::function<bool(TSerialParams& params)>;

    explicit TSerialDevice(QObject* owner);
    ~TSerialDevice() override;

    // Asked by Open; without one, Open keeps the line speed of Params().
    TParamSource ParamSource;

    bool IsOpen() const override;
    TStat Open(const QString& portName) override;
    // A line speed not in LineSpeeds: E_INVALID_PARAMETER, nothing opened.
    TStat OpenWith(const TConnectionParams& params) override;
    // Starts from the configured "Portname" and the line speed of uart.cfg.
    std::optional<TConnectionParams> Params() const override { return FParams; }
    TStat Close() override;
    int32_t BytesAvailable() override;
    int32_t Read(uint8_t* buffer, int32_t count) override;
    TStat Write(const uint8_t* buffer, int32_t count) override;
    void DiscardUnsent() override;
    // The ports the platform lists, plus the configured "Portname" when it
    // names an existing device the enumeration misses (a pseudo-terminal, for
    // example), in natural order.
    void GetPortList(QStringList& list) override;
    bool HotPlugPorts() const override { return true; }

    // Sorts port names in natural ascending order: ttyS2 before ttyS10.
    static void SortPortNames(QStringList& names);

    // The line format of every port the program opens (8 data bits, no
    // parity, 1 stop bit, no flow control), set before opening; and the
    // modem lines dropped, right after opening.
    static void SetLineFormat(QSerialPort& port);
    static void HoldModemLinesInactive(QSerialPort& port);

    // Why `portName` would not open, with what the operator can do.
    enum class TOpenFailureKind { Gone, NoPermission, InUse, NotSerial, Other };
    struct TOpenFailure {
        TOpenFailureKind Kind;
        QString Text;
    };
    static TOpenFailure DescribeOpenFailure(const QString& portName, QSerialPort::SerialPortError error,
        const QString& systemText);

private:
    void PortReadyRead();
    void PortError(QSerialPort::SerialPortError error);
    TStat OpenPort(const TSerialParams& params);

    TSerialParams FParams;
    QSerialPort* FPort;
};
