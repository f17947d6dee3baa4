#include "CanBusThread.h"

#include <QCoreApplication>

#include <mutex>

namespace {
std::mutex InstanceLock;
TCanBusThread* TheInstance = nullptr;
TCanBusThread::TThreadMaker Maker = nullptr;
}

void TCanBusThread::SetThreadMaker(TThreadMaker maker)
{
    std::lock_guard lock(InstanceLock);
    Maker = maker;
}

TCanBusThread& TCanBusThread::Instance()
{
    std::lock_guard lock(InstanceLock);
    if (!TheInstance) {
        TheInstance = new TCanBusThread;
        qAddPostRoutine(&TCanBusThread::StopInstance);
    }
    return *TheInstance;
}

TCanBusThread::TCanBusThread()
    : FThread(Maker ? Maker() : new QThread)
    , FContext(new QObject)
{
    FThread->setObjectName(QStringLiteral("CAN bus"));
    FContext->moveToThread(FThread.get());
    FThread->start();
}

bool TCanBusThread::Run(const std::function<void()>& work)
{
    if (QThread::currentThread() == FThread.get()) {
        work();
        return true;
    }
    if (!FThread->isRunning())
        return false;
    return QMetaObject::invokeMethod(FContext, work, Qt::BlockingQueuedConnection);
}

void TCanBusThread::Stop()
{
    Run([this] {
        delete FContext;
        FContext = nullptr;
    });
    FThread->quit();
    FThread->wait();
}

void TCanBusThread::StopInstance()
{
    // The instance stays allocated: a handle object that outlives the
    // application may still ask it to run work, which is then refused.
    std::lock_guard lock(InstanceLock);
    if (TheInstance)
        TheInstance->Stop();
}
