#include "LinkThread.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QtCore/private/qeventdispatcher_unix_p.h>

#include "Spinning.h"

// The plain poll() dispatcher (a request's round trip through it is shorter
// than through the GLib main loop) that spins for jobs before it sleeps.
class TLinkThread::TDispatcher : public QEventDispatcherUNIX {
public:
    explicit TDispatcher(TLinkThread& link) : FLink(link) {}

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override
    {
        if (flags.testFlag(QEventLoop::WaitForMoreEvents) && FLink.SpinForJobs())
            return true;
        return QEventDispatcherUNIX::processEvents(flags);
    }

private:
    TLinkThread& FLink;
};

TLinkThread::TLinkThread() : FMaySpin(krm::detail::SpinningPays())
{
    FThread.setObjectName(QStringLiteral("krm link"));
    FThread.setEventDispatcher(new TDispatcher(*this));
    FContext = new QObject;
    FContext->moveToThread(&FThread);
    FThread.start();
}

TLinkThread::~TLinkThread()
{
    Stop();
    delete FContext;
}

bool TLinkThread::Post(std::function<void()> job) { return Queue(std::move(job), false); }

bool TLinkThread::PostFirst(std::function<void()> job) { return Queue(std::move(job), true); }

bool TLinkThread::Queue(std::function<void()> job, bool first)
{
    {
        std::lock_guard lock(FMutex);
        if (FStopping)
            return false;
        if (first)
            FJobs.push_front(std::move(job));
        else
            FJobs.push_back(std::move(job));
        FUnfinished.fetch_add(1, std::memory_order_acq_rel);
        if (FSpinning) {
            FPosted.store(true, std::memory_order_release);
            return true;
        }
    }
    QMetaObject::invokeMethod(FContext, [this] { RunJobs(); }, Qt::QueuedConnection);
    return true;
}

void TLinkThread::Interrupt(std::function<void()> call)
{
    {
        std::lock_guard lock(FMutex);
        if (FStopping)
            return;
        // Ends a spin at once: the call comes as an event.
        if (FSpinning)
            FPosted.store(true, std::memory_order_release);
    }
    QMetaObject::invokeMethod(
        FContext,
        [this, call = std::move(call)] {
            // Jobs posted meanwhile wait for the call, which may itself wait
            // in the link's nested event loop; outside a job they run after it.
            const bool inJob = FRunning;
            FRunning = true;
            call();
            FRunning = inJob;
            if (!inJob)
                RunJobs();
            // The dispatcher, having delivered this, would go on to block
            // until its next event: a wait that runs it must look at what
            // the call changed now.
            FThread.eventDispatcher()->wakeUp();
        },
        Qt::QueuedConnection);
}

void TLinkThread::Stop()
{
    {
        std::lock_guard lock(FMutex);
        if (FStopping)
            return;
        FStopping = true;
        // The last job: the ones before it have run when it quits the loop.
        FJobs.push_back([this] { FThread.quit(); });
        FUnfinished.fetch_add(1, std::memory_order_acq_rel);
    }
    QMetaObject::invokeMethod(FContext, [this] { RunJobs(); }, Qt::QueuedConnection);
    FThread.wait();
}

void TLinkThread::RunJobs()
{
    // A job waiting in a nested event loop lets this run again: the jobs
    // queued meanwhile wait for the outer call to take them.
    if (FRunning)
        return;
    FRunning = true;
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard lock(FMutex);
            if (FJobs.empty())
                break;
            job = std::move(FJobs.front());
            FJobs.pop_front();
        }
        job();
        FUnfinished.fetch_sub(1, std::memory_order_acq_rel);
        FJobsRan = true;
    }
    FRunning = false;
}

bool TLinkThread::SpinForJobs()
{
    // Inside a job the wait is for the job's answer, not for the next job.
    if (!FMaySpin || FRunning || !FJobsRan)
        return false;
    FJobsRan = false;
    {
        std::lock_guard lock(FMutex);
        FSpinning = true;
    }
    auto* dispatcher = static_cast<TDispatcher*>(FThread.eventDispatcher());
    const auto end = std::chrono::steady_clock::now() + IdleSpin;
    // Events that come in meanwhile are handled as they come.
    // Each look gives way to a thread that waits for this core (the caller
    // whose answer was just handled).
    do {
        dispatcher->QEventDispatcherUNIX::processEvents(QEventLoop::AllEvents);
        std::this_thread::yield();
    } while (!FPosted.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < end);
    {
        // From here on a posted job wakes the thread; the ones posted while
        // it spun run now.
        std::lock_guard lock(FMutex);
        FSpinning = false;
        FPosted.store(false, std::memory_order_relaxed);
    }
    RunJobs();
    return true;
}
