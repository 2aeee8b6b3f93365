#include "controls/LogRowStore.h"

#include <cstring>
#include <new>

bool CLogRowStore::Insert(size_t index, const char* text, size_t length)
{
    if (index > m_rows.size() || length >= static_cast<size_t>(-1) / 2)
        return false;
    // Grow the row array first, so a failure there leaves the text blocks untouched.
    if (m_rows.size() == m_rows.capacity()) {
        try {
            m_rows.reserve(m_rows.capacity() ? m_rows.capacity() * 2 : 1024);
        } catch (const std::bad_alloc&) {
            return false;   // the caller reports it as a row not inserted
        }
    }
    // The flags byte goes just before the text.
    char* p = Allocate(length + 2);
    if (!p)
        return false;
    *p++ = 0;
    if (length)
        std::memcpy(p, text, length);
    p[length] = '\0';
    // Capacity is reserved above, so this insert cannot throw.
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(index), p);
    m_nLiveBytes += length + 1;
    return true;
}

char* CLogRowStore::Allocate(size_t bytes)
{
    if (bytes <= m_nFreeBytes) {
        char* p = m_pFree;
        m_pFree += bytes;
        m_nFreeBytes -= bytes;
        return p;
    }
    const bool own = bytes > kBlockSize / 4;
    const size_t size = own ? bytes : kBlockSize;
    // Make room in the block list before allocating, so a failure leaks nothing.
    try {
        m_blocks.reserve(m_blocks.size() + 1);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    char* block = new (std::nothrow) char[size];
    if (!block)
        return nullptr;
    m_blocks.emplace_back(block);
    if (own)
        return block;   // the partly filled block stays the one being filled
    m_pFree = block + bytes;
    m_nFreeBytes = size - bytes;
    return block;
}

void CLogRowStore::Erase(size_t index)
{
    if (index >= m_rows.size())
        return;
    const size_t bytes = std::strlen(m_rows[index]) + 1;
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(index));
    m_nLiveBytes -= bytes;
    m_nDeadBytes += bytes;
    if (m_rows.empty())
        Clear();
    else if (m_nDeadBytes > m_nLiveBytes && m_nDeadBytes >= kBlockSize)
        Compact();
}

void CLogRowStore::Clear()
{
    // Swap with empty containers: clear() alone would keep the capacity of a long capture.
    std::vector<const char*>().swap(m_rows);
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    m_pFree = nullptr;
    m_nFreeBytes = 0;
    m_nLiveBytes = 0;
    m_nDeadBytes = 0;
}

void CLogRowStore::Compact()
{
    CLogRowStore fresh;
    try {
        fresh.m_rows.reserve(m_rows.size());
    } catch (const std::bad_alloc&) {
        return;   // keep the dead bytes; a later erase tries again
    }
    for (const char* row : m_rows) {
        const size_t length = std::strlen(row);
        char* p = fresh.Allocate(length + 2);
        if (!p)
            return;   // as above: the old store is still whole
        std::memcpy(p, row - 1, length + 2);
        fresh.m_rows.push_back(p + 1);
        fresh.m_nLiveBytes += length + 1;
    }
    m_blocks.swap(fresh.m_blocks);
    m_rows.swap(fresh.m_rows);
    m_pFree = fresh.m_pFree;
    m_nFreeBytes = fresh.m_nFreeBytes;
    m_nLiveBytes = fresh.m_nLiveBytes;
    m_nDeadBytes = 0;
}

void CLogRowStore::ClearFlags()
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        SetFlags(i, 0);
}
