#include "FrameSender.h"

#include <algorithm>

TFrameSender::TFrameSender(const TFaultOptions& options, TWriter writer, QObject* parent)
    : QObject(parent), FOptions(options), FWriter(std::move(writer))
{
    FClock.start();
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &TFrameSender::Flush);
}

void TFrameSender::Send(const TByteArray& bytes, size_t frameStart)
{
    if (FClosed)
        return;
    const QByteArray all(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    if (FOptions.delayMs == 0 && FOptions.splitPauseMs == 0 && FQueue.empty()) {
        Write({all, 0, true});
        return;
    }
    const qint64 due = std::max(FClock.elapsed() + FOptions.delayMs, FLastDueMs);
    if (FOptions.splitPauseMs > 0) {
        const qsizetype cut = static_cast<qsizetype>(frameStart + (bytes.size() - frameStart) / 2);
        Enqueue(all.left(cut), due, false);
        Enqueue(all.mid(cut), due + FOptions.splitPauseMs, true);
    } else {
        Enqueue(all, due, true);
    }
    Flush();
}

void TFrameSender::Enqueue(QByteArray bytes, qint64 dueMs, bool endsFrame)
{
    FQueue.push_back({std::move(bytes), dueMs, endsFrame});
    FLastDueMs = dueMs;
}

void TFrameSender::Flush()
{
    const qint64 now = FClock.elapsed();
    while (!FQueue.empty() && !FClosed && FQueue.front().dueMs <= now) {
        const TChunk chunk = std::move(FQueue.front());
        FQueue.pop_front();
        Write(chunk);
    }
    if (!FQueue.empty() && !FClosed)
        FTimer.start(static_cast<int>(FQueue.front().dueMs - now));
}

void TFrameSender::Write(const TChunk& chunk)
{
    FWriter(chunk.bytes);
    if (!chunk.endsFrame || FOptions.closeAfter <= 0)
        return;
    if (++FFramesSent == FOptions.closeAfter) {
        FClosed = true;
        FQueue.clear();
        emit closeRequested();
    }
}
