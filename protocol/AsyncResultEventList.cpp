#include "AsyncResultEventList.h"

#include <algorithm>

void TAsyncResultEventList::Add(int id, TAsyncResultEvent handler)
{
    Remove(id);
    FEntries.push_back({id, std::move(handler)});
}

void TAsyncResultEventList::Remove(int id)
{
    const auto it = std::find_if(FEntries.begin(), FEntries.end(), [id](const TEntry& e) { return e.id == id; });
    if (it != FEntries.end())
        FEntries.erase(it);
}

TAsyncResultEvent TAsyncResultEventList::Find(int id) const
{
    const auto it = std::find_if(FEntries.begin(), FEntries.end(), [id](const TEntry& e) { return e.id == id; });
    return it != FEntries.end() ? it->handler : TAsyncResultEvent();
}
