#pragma once
// Result handlers of commands whose final answer comes later: at most one
// handler per command byte, kept until it is replaced or removed.
#include "stat.h"
#include "types.h"

#include <cstdint>
#include <functional>
#include <vector>

class QObject;

// Handler of an asynchronous result: the gripper object, the command byte,
// the status (low byte of the status word) and the bytes after the status.
using TAsyncResultEvent = std::function<void(QObject* sender, int id, TStat status, const TByteArray& data)>;

class TAsyncResultEventList {
public:
    // Replaces any handler of `id` with `handler`.
    void Add(int id, TAsyncResultEvent handler);
    // Forgets the handler of `id`, if any.
    void Remove(int id);
    // The handler of `id`, or an empty handler.
    TAsyncResultEvent Find(int id) const;
    void Clear() { FEntries.clear(); }
    int Count() const { return static_cast<int>(FEntries.size()); }

private:
    struct TEntry {
        int32_t id;
        TAsyncResultEvent handler;
    };
    std::vector<TEntry> FEntries;
};
