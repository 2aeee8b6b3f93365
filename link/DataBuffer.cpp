#include "link/DataBuffer.h"

#include <cstring>

CDataBuffer::CDataBuffer() : m_szSlots{}, m_bNamesNode{}, m_nWriteIndex(0), m_nReadIndex(0), m_nCount(0) {}

CDataBuffer::~CDataBuffer() = default;

int CDataBuffer::Put(const char* line, bool bNamesNode)
{
    if (line == nullptr)
        return TOO_LONG;
    // Measured without reading past a slot's worth, so an unterminated area is refused too.
    int length = 0;
    while (length < SLOT_SIZE && line[length] != '\0')
        ++length;
    if (length >= SLOT_SIZE)
        return TOO_LONG;

    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nCount >= SLOT_COUNT)
        return FULL;
    std::memcpy(m_szSlots[m_nWriteIndex], line, static_cast<size_t>(length) + 1);
    m_bNamesNode[m_nWriteIndex] = bNamesNode;
    m_nWriteIndex = (m_nWriteIndex + 1) % SLOT_COUNT;
    ++m_nCount;
    return DONE;
}

int CDataBuffer::Get(char* line, bool* pNamesNode)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nCount == 0)
        return EMPTY;
    std::memcpy(line, m_szSlots[m_nReadIndex], std::strlen(m_szSlots[m_nReadIndex]) + 1);
    if (pNamesNode != nullptr)
        *pNamesNode = m_bNamesNode[m_nReadIndex];
    m_nReadIndex = (m_nReadIndex + 1) % SLOT_COUNT;
    --m_nCount;
    return DONE;
}

void CDataBuffer::Clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_nWriteIndex = 0;
    m_nReadIndex = 0;
    m_nCount = 0;
}

int CDataBuffer::GetCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nCount;
}
