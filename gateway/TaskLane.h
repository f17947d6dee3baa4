#pragma once
// One thread that runs the tasks given to it one after the other, in the
// order they came. Its owner ends it before the objects the tasks use go.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TTaskLane {
public:
    TTaskLane();
    // Ends the lane: a task under way runs to its end, waiting ones are
    // dropped.
    ~TTaskLane();
    TTaskLane(const TTaskLane&) = delete;
    TTaskLane& operator=(const TTaskLane&) = delete;

    // False (the task dropped) when `limit` tasks are waiting already.
    bool Post(std::function<void()> task, size_t limit);

private:
    void Run();

    std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::function<void()>> FTasks;
    bool FEnding = false;
    std::thread FThread;
};
