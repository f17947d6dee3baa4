#pragma once
// Queues that a session fills as it reads reports and frames off the link,
// on the reading thread itself, and that the program empties where it wants
// (krm::ReportQueue, krm::PacketQueue): no thread is woken between, so a
// program that looks on a timer of its own is woken by nothing else.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace krm::detail {

template <class T> struct Inbox {
    // Items kept for a program that falls behind; older ones are dropped.
    static constexpr std::size_t Capacity = 10000;
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::deque<T> items;
    std::uint64_t dropped = 0;

    void Put(const T& item)
    {
        {
            std::lock_guard lock(mutex);
            if (items.size() == Capacity) {
                items.pop_front();
                ++dropped;
            }
            items.push_back(item);
        }
        arrived.notify_one();
    }
};

// The inboxes of one kind of item that a session fills.
template <class T> class Inboxes {
public:
    std::uint64_t Add(std::shared_ptr<Inbox<T>> inbox)
    {
        std::lock_guard lock(FMutex);
        FList.emplace_back(FNextId, std::move(inbox));
        return FNextId++;
    }
    void Remove(std::uint64_t id)
    {
        std::lock_guard lock(FMutex);
        std::erase_if(FList, [id](const auto& entry) { return entry.first == id; });
    }
    void Put(const T& item)
    {
        std::lock_guard lock(FMutex);
        for (const auto& entry : FList)
            entry.second->Put(item);
    }

private:
    std::mutex FMutex;
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Inbox<T>>>> FList;
    std::uint64_t FNextId = 1;
};

} // namespace krm::detail
