#pragma once
// The worker thread on which every opened CAN interface of the process lives,
// with its own event loop, so interfaces keep receiving and sending while the
// callers of the CAN driver functions block.
//
// There is one such thread for the whole process, not one per net: the Qt
// virtual CAN bus starts its bus server on the thread of the first virtual
// interface opened in the process, and that server has to keep running after
// that one interface is closed again (for example after a port scan).
#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

class TCanBusThread {
public:
    // The thread, started at first use; it is stopped when the application
    // object is destroyed.
    static TCanBusThread& Instance();

    // Makes the thread the first Instance() starts. A plain QThread delivers
    // events only while a QCoreApplication exists; a program without one
    // (the C++ library's sessions) sets a maker of a thread that needs none
    // before it opens a CAN net.
    using TThreadMaker = QThread* (*)();
    static void SetThreadMaker(TThreadMaker maker);

    // Runs `work` on the thread and returns when it has run; false (and
    // nothing run) once the thread has been stopped.
    bool Run(const std::function<void()>& work);

    // Parent of every interface object: objects made children of it live on
    // the thread and are freed when the thread stops.
    QObject* Context() const { return FContext; }

private:
    TCanBusThread();
    void Stop();
    static void StopInstance();

    std::unique_ptr<QThread> FThread;
    QObject* FContext;
};
