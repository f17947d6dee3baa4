#pragma once
// The device that reaches the gripper over a serial port: 8 data bits, no
// parity, 1 stop bit, no flow control, DTR and RTS held inactive, the line
// speed chosen in TBaudrateDlg at every Open and remembered in uart.cfg.
// Port names are the platform's (ttyUSB0, ttyS1, ...); Open also accepts an
// absolute device path.
#include "DeviceComponent.h"

#include <QSerialPort>

class TBaudrateDlg;

class TSerialDevice : public TDevice {
    Q_OBJECT
public:
    // Bytes that may wait in the transmit queue; a write that finds no room
    // for all its bytes within WriteTimeoutMs is refused, and so is one
    // longer than the queue.
    static constexpr qint64 OutputQueueSize = 2048;
    static constexpr int WriteTimeoutMs = 1000;
    // Longest time Close waits for queued bytes to go out.
    static constexpr int CloseDrainMs = 1000;

    explicit TSerialDevice(QObject* owner);
    ~TSerialDevice() override;

    bool IsOpen() const override;
    TStat Open(const QString& portName) override;
    TStat Close() override;
    int32_t BytesAvailable() override;
    int32_t Read(uint8_t* buffer, int32_t count) override;
    TStat Write(const uint8_t* buffer, int32_t count) override;
    // The ports the platform lists, plus the configured "Portname" when it
    // names an existing device the enumeration misses (a pseudo-terminal, for
    // example), in natural order.
    void GetPortList(QStringList& list) override;

    // Sorts port names in natural ascending order: ttyS2 before ttyS10.
    static void SortPortNames(QStringList& names);

private:
    void PortReadyRead();
    void PortError(QSerialPort::SerialPortError error);
    void DrainOutput();

    TBaudrateDlg* FDialog;
    QSerialPort* FPort;
    bool FClosing = false;
    bool FPortBroken = false;
};
