#pragma once
// The lines waiting to be published: a ring of fixed slots filled by whatever thread forms
// a line (the capture thread most often) and emptied by the publisher's thread. Putting
// never allocates and never waits on the broker: a full queue refuses the line and
// counts it. Safe to use from any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

struct PublishSlot {
    char szLine[256];
    bool bNamesNode;
    int64_t nUtcMs;   // when the line was queued, ms since 1970 (its date)
};

class CPublishQueue {
public:
    static constexpr int DEFAULT_CAPACITY = 8192;

    explicit CPublishQueue(int capacity = DEFAULT_CAPACITY);

    // False when the queue is full (the line is counted as dropped) or the line too long.
    bool Put(const char* line, bool bNamesNode, int64_t utcMs);
    // The oldest slot copied into slot; false when empty.
    bool Take(PublishSlot& slot);
    int Count();
    int Capacity() const { return m_nCapacity; }
    // Lines refused since the queue was made.
    long long Dropped() const { return m_nDropped.load(); }

private:
    const int m_nCapacity;
    std::unique_ptr<PublishSlot[]> m_slots;
    int m_nRead = 0;
    int m_nCount = 0;
    std::atomic<long long> m_nDropped{0};
    std::mutex m_lock;
};
