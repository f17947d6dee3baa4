#include "LinkThread.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QtCore/private/qeventdispatcher_unix_p.h>

TLinkThread::TLinkThread()
{
    FThread.setObjectName(QStringLiteral("krm link"));
    // The plain poll() dispatcher: a request's round trip through it is
    // shorter than through the GLib main loop.
    FThread.setEventDispatcher(new QEventDispatcherUNIX);
    FContext = new QObject;
    FContext->moveToThread(&FThread);
    FThread.start();
}

TLinkThread::~TLinkThread()
{
    Stop();
    delete FContext;
}

bool TLinkThread::Post(std::function<void()> job)
{
    {
        std::lock_guard lock(FMutex);
        if (FStopping)
            return false;
        FJobs.push_back(std::move(job));
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
    }
    FRunning = false;
}
