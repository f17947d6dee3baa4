#pragma once
// The thread one gripper link runs on: a thread with an event loop of its
// own, so the link's sockets, serial ports and timers work without the
// caller's event loop or a QCoreApplication. Work reaches it as jobs, which
// run there one after the other in the order they were posted. A job that
// waits inside the link's nested event loop (a transaction) is never
// interrupted by the next job: that one starts when the first has returned.
//
// Callers tend to send their next request right after the answer to the
// last one. On a machine with more than one core the thread therefore keeps
// handling its events without sleeping for a short while after its jobs,
// and takes a job posted meanwhile without being woken: waking a sleeping
// thread costs as much as a good share of a request's round trip.
#include <QtCore/private/qthread_p.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>

class QObject;

class TLinkThread {
public:
    TLinkThread();
    // Stops the thread (see Stop).
    ~TLinkThread();
    TLinkThread(const TLinkThread&) = delete;
    TLinkThread& operator=(const TLinkThread&) = delete;

    // Queues `job` to run on the link thread. False once the thread is
    // stopping: the job is dropped.
    bool Post(std::function<void()> job);
    // As Post, ahead of the jobs queued.
    bool PostFirst(std::function<void()> job);
    // Runs `call` on the link thread as soon as it looks at its events: also
    // inside the wait of a running job, ahead of the jobs queued. Dropped
    // once the thread is stopping.
    void Interrupt(std::function<void()> call);
    // Any thread: jobs are queued or running. Work done outside the thread
    // must not overtake them.
    bool HasJobs() const { return FUnfinished.load(std::memory_order_acquire) > 0; }
    // Runs the jobs queued so far, then ends the thread and waits for it.
    // Must not be called on the link thread.
    void Stop();

    // How long the thread looks for the next job after its jobs have run.
    static constexpr std::chrono::microseconds IdleSpin{100};

private:
    class TDispatcher;

    bool Queue(std::function<void()> job, bool first);
    void RunJobs();
    // Link thread, waiting for events outside a job: right after jobs ran,
    // handles events without sleeping until a job is posted or IdleSpin has
    // passed, then runs the jobs posted. False when it did not spin.
    bool SpinForJobs();

    // Qt delivers events (timers, sockets, queued calls) without a
    // QCoreApplication only on a thread marked as not needing one, which is
    // what Qt's own daemon thread does.
    QDaemonThread FThread;
    QObject* FContext = nullptr; // lives on the link thread; receives the job events
    std::mutex FMutex;
    std::deque<std::function<void()>> FJobs;
    bool FStopping = false;
    bool FSpinning = false; // a posted job needs no wake-up
    std::atomic_bool FPosted{false}; // something was posted while the thread spins
    std::atomic_int FUnfinished{0};  // jobs queued or running
    const bool FMaySpin;    // more than one core: a spinning thread holds up nobody
    bool FRunning = false;  // link thread only: a job or an interrupt call is running
    bool FJobsRan = false;  // link thread only: jobs ran since the last spin
};
