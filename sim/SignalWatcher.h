#pragma once
// Turns SIGINT and SIGTERM into a Qt signal on the main thread, through a
// socket pair written by the signal handler (the only thing a handler may
// safely do).
#include <QObject>
#include <QSocketNotifier>

#include <memory>

class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit TSignalWatcher(QObject* parent = nullptr);
    ~TSignalWatcher() override;

    // False when the socket pair could not be created.
    bool Install();

signals:
    void terminationRequested(int signalNumber);

private:
    static void Handler(int signalNumber);
    void Drain();

    static int FWriteFd;
    int FReadFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
