#include "mqtt/PublishQueue.h"

#include <cstring>

CPublishQueue::CPublishQueue(int capacity)
    : m_nCapacity(capacity > 0 ? capacity : 1), m_slots(new PublishSlot[static_cast<size_t>(m_nCapacity)])
{
}

bool CPublishQueue::Put(const char* line, bool bNamesNode, int64_t utcMs)
{
    const size_t length = line != nullptr ? std::strlen(line) : sizeof(PublishSlot::szLine);
    if (length >= sizeof(PublishSlot::szLine)) {
        ++m_nDropped;
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nCount == m_nCapacity) {
        ++m_nDropped;
        return false;
    }
    PublishSlot& slot = m_slots[static_cast<size_t>((m_nRead + m_nCount) % m_nCapacity)];
    std::memcpy(slot.szLine, line, length + 1);
    slot.bNamesNode = bNamesNode;
    slot.nUtcMs = utcMs;
    ++m_nCount;
    return true;
}

bool CPublishQueue::Take(PublishSlot& slot)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nCount == 0)
        return false;
    slot = m_slots[static_cast<size_t>(m_nRead)];
    m_nRead = (m_nRead + 1) % m_nCapacity;
    --m_nCount;
    return true;
}

int CPublishQueue::Count()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nCount;
}
