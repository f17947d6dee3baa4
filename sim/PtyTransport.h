#pragma once
// Serial line of the simulator: a pseudo-terminal pair whose terminal side is
// published as a symbolic link, so that a serial port client can open the
// link's path. The simulator keeps the master side and one terminal-side
// descriptor of its own, so that a client closing and reopening the port
// does not hang up the line.
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <memory>

class TSimHost;
class TSimSession;

class TPtyTransport : public QObject {
    Q_OBJECT
public:
    static constexpr int HangupGraceMs = 50;

    // `baudrate` other than 0: bytes that arrive while the client's line
    // speed is another are lost, as they would be on a real line.
    TPtyTransport(TSimHost& host, const QString& linkPath, int baudrate = 0, QObject* parent = nullptr);
    ~TPtyTransport() override;

    // Creates the terminal pair and the link; false with a message on failure.
    bool Open(QString& error);

private:
    void Close();
    void ReadMaster();
    bool LineSpeedMatches() const;
    void Write(const QByteArray& bytes);
    void NewSession();
    void DetachSession();
    void Hangup();

    TSimHost& FHost;
    QString FLinkPath;
    int FBaudrate;
    QString FTerminalPath;
    int FMaster = -1;
    int FTerminal = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    TSimSession* FSession = nullptr;
};
