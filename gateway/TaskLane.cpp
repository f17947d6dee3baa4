#include "TaskLane.h"

TTaskLane::TTaskLane()
    : FThread([this] { Run(); })
{
}

TTaskLane::~TTaskLane()
{
    {
        std::lock_guard lock(FMutex);
        FEnding = true;
        FTasks.clear();
    }
    FWake.notify_all();
    FThread.join();
}

bool TTaskLane::Post(std::function<void()> task, size_t limit)
{
    {
        std::lock_guard lock(FMutex);
        if (FEnding || FTasks.size() >= limit)
            return false;
        FTasks.push_back(std::move(task));
    }
    FWake.notify_one();
    return true;
}

void TTaskLane::Run()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FEnding || !FTasks.empty(); });
        if (FEnding)
            return;
        std::function<void()> task = std::move(FTasks.front());
        FTasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}
