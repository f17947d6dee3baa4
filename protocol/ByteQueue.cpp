#include "ByteQueue.h"

#include <algorithm>
#include <cstring>

TByteQueue::TByteQueue(uint32_t capacity)
{
    SetCapacity(capacity);
}

TByteQueue::~TByteQueue()
{
    Clear();
}

void TByteQueue::SetCapacity(uint32_t n)
{
    FStorage.reset(n > 0 ? new uint8_t[n] : nullptr);
    FWriteIndex = 0;
    FReadIndex = 0;
    FCapacity = FStorage ? n : 0;
}

uint32_t TByteQueue::Count() const
{
    if (!FStorage)
        return 0;
    return FWriteIndex >= FReadIndex ? FWriteIndex - FReadIndex : FWriteIndex + FCapacity - FReadIndex;
}

void TByteQueue::Clear()
{
    FWriteIndex = 0;
    FReadIndex = 0;
}

bool TByteQueue::IsFull() const
{
    return !FStorage || FWriteIndex + 1 == FReadIndex || (FWriteIndex == FCapacity - 1 && FReadIndex == 0);
}

bool TByteQueue::Push(uint8_t b)
{
    if (IsFull())
        return false;
    FStorage[FWriteIndex] = b;
    FWriteIndex = FWriteIndex + 1 == FCapacity ? 0 : FWriteIndex + 1;
    return true;
}

uint32_t TByteQueue::Read(uint8_t* dest, uint32_t n)
{
    const uint32_t k = std::min(Count(), n);
    if (k == 0)
        return 0;
    const uint32_t first = std::min(k, FCapacity - FReadIndex);
    std::memcpy(dest, FStorage.get() + FReadIndex, first);
    std::memcpy(dest + first, FStorage.get(), k - first);
    FReadIndex += k;
    if (FReadIndex >= FCapacity)
        FReadIndex -= FCapacity;
    return k;
}
