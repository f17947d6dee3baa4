#pragma once
// --log FILE: every packet sent and received as one CSV row:
//   time_ms,direction,command,name,length,status,payload
// time since the program started in ms with microseconds (12.345), TX or
// RX, the command byte in hex (0x21), its name, the payload length, the
// status name of an answer (empty for sent packets and for answers too short
// to carry one), the payload bytes in hex separated by blanks.
#include "types.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

class TPacketCsvLog {
public:
    // `clock` was started when the program started.
    explicit TPacketCsvLog(const QElapsedTimer& clock);

    // Creates (or empties) the file and writes the header row; false with
    // the reason in `error` when it cannot be opened (a failed write of the
    // header shows in Failed()).
    bool Open(const QString& path, QString& error);
    // Appends one row and flushes it, so the file is complete at any moment;
    // false when this or an earlier write failed (nothing more is written).
    bool Write(bool received, const TPacket& packet);
    // A write failed (a full disk, the file size limit); ErrorString() says why.
    bool Failed() const { return FFailed; }
    const QString& ErrorString() const { return FError; }

private:
    static QString Row(double timeMs, bool received, const TPacket& packet);

    const QElapsedTimer& FClock;
    QFile FFile;
    bool FFailed = false;
    QString FError;
    bool Failing(bool failed);
};
