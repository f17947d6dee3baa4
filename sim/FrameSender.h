#pragma once
// Puts outgoing bytes on a connection, with the timing faults applied: every
// frame delayed, frames split in two halves with a pause between them, and
// the connection closed after a number of frames. Order is always kept.
#include "FaultOptions.h"
#include "types.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

class TFrameSender : public QObject {
    Q_OBJECT
public:
    using TWriter = std::function<void(const QByteArray&)>;

    TFrameSender(const TFaultOptions& options, TWriter writer, QObject* parent = nullptr);

    // Sends garbage-plus-frame bytes; the frame starts at frameStart.
    void Send(const TByteArray& bytes, size_t frameStart);

signals:
    // The configured number of frames has gone out.
    void closeRequested();

private:
    struct TChunk {
        QByteArray bytes;
        qint64 dueMs;
        bool endsFrame;
    };
    void Enqueue(QByteArray bytes, qint64 dueMs, bool endsFrame);
    void Flush();
    void Write(const TChunk& chunk);

    TFaultOptions FOptions;
    TWriter FWriter;
    std::deque<TChunk> FQueue;
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLastDueMs = 0;
    int FFramesSent = 0;
    bool FClosed = false;
};
