#include "LinkThread.h"

#include <QObject>

TLinkThread::TLinkThread()
{
    FThread.setObjectName(QStringLiteral("krm link"));
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

bool TLinkThread::IsCurrent() const { return QThread::currentThread() == &FThread; }

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
