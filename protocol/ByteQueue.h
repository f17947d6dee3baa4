#pragma once
// Ring buffer of bytes with one free slot: holds at most capacity - 1 bytes.
// One producer thread may Push while the consumer reads only when the producer
// waits for it; the queue itself has no lock.
#include <cstdint>
#include <memory>

class TByteQueue {
public:
    explicit TByteQueue(uint32_t capacity);
    ~TByteQueue();
    TByteQueue(const TByteQueue&) = delete;
    TByteQueue& operator=(const TByteQueue&) = delete;

    void SetCapacity(uint32_t n);
    uint32_t Count() const;
    void Clear();
    bool IsFull() const;
    bool Push(uint8_t b);
    uint32_t Read(uint8_t* dest, uint32_t n);
    uint32_t Capacity() const { return FCapacity; }

private:
    uint32_t FWriteIndex = 0;
    uint32_t FReadIndex = 0;
    uint32_t FCapacity = 0;
    std::unique_ptr<uint8_t[]> FStorage;
};
