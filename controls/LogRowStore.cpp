#include "controls/LogRowStore.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr size_t kFlagChunk = 4096;
// After a refused write the disk is tried again only this many inserts later: a full
// disk would otherwise cost a failing write per row.
constexpr unsigned kSpillRetryInserts = 256;
// A block that middle inserts have grown this far is split in two.
constexpr size_t kSplitBytes = 2 * CLogRowStore::kBlockSize;

// Makes room for `more` elements, growing by doubling so that appends stay cheap;
// false, with nothing changed, when memory cannot be had.
template <class Vector>
bool MakeRoom(Vector& v, size_t more)
{
    if (v.size() + more <= v.capacity())
        return true;
    try {
        v.reserve(std::max(v.size() + more, 2 * v.capacity()));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}   // namespace

CLogRowStore::CLogRowStore() = default;

CLogRowStore::~CLogRowStore() = default;

size_t CLogRowStore::FindBlock(size_t index) const
{
    if (m_nLastBlock < m_blocks.size()) {
        const Block& b = m_blocks[m_nLastBlock];
        if (index >= b.first && index - b.first < b.rows)
            return m_nLastBlock;
    }
    const auto after = std::upper_bound(m_blocks.begin(), m_blocks.end(), index,
                                        [](size_t i, const Block& b) { return i < b.first; });
    m_nLastBlock = static_cast<size_t>(after - m_blocks.begin()) - 1;
    return m_nLastBlock;
}

CLogRowStore::Rows* CLogRowStore::Load(size_t block) const
{
    Block& b = m_blocks[block];
    if (b.mem)
        return b.mem.get();
    std::unique_ptr<Rows> rows(new (std::nothrow) Rows);
    if (!rows)
        return nullptr;
    try {
        rows->text.resize(b.bytes);
        rows->starts.reserve(b.rows);
    } catch (const std::bad_alloc&) {
        return nullptr;   // the row reads as empty; a later paint tries again
    }
    if (!m_file.Read(b.offset, rows->text.data(), b.bytes))
        return nullptr;
    for (size_t at = 0; at < b.bytes && rows->starts.size() < b.rows;) {
        rows->starts.push_back(static_cast<uint32_t>(at));
        const void* nul = std::memchr(rows->text.data() + at, '\0', b.bytes - at);
        if (!nul)
            break;
        at = static_cast<size_t>(static_cast<const char*>(nul) - rows->text.data()) + 1;
    }
    if (rows->starts.size() != b.rows || rows->text.back() != '\0')
        return nullptr;   // not what was written: treat as unreadable
    if (m_cached.size() >= kCachedBlocks) {
        m_blocks[m_cached.front()].mem.reset();
        m_cached.erase(m_cached.begin());
    }
    try {
        m_cached.push_back(block);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    b.mem = std::move(rows);
    return b.mem.get();
}

const char* CLogRowStore::Get(size_t index) const
{
    if (index >= m_nCount)
        return "";
    const size_t block = FindBlock(index);
    const Rows* rows = Load(block);
    if (!rows)
        return "";
    return rows->text.data() + rows->starts[index - m_blocks[block].first];
}

void CLogRowStore::DropCache() const
{
    for (size_t block : m_cached)
        m_blocks[block].mem.reset();
    m_cached.clear();
}

bool CLogRowStore::MakeHot(size_t block)
{
    Block& b = m_blocks[block];
    if (b.mem && !b.stored)
        return true;
    if (!Load(block))
        return false;
    // From here on the memory copy is the block; the file's copy is dead space.
    m_cached.erase(std::remove(m_cached.begin(), m_cached.end(), block), m_cached.end());
    b.stored = false;
    ++m_nHotBlocks;
    m_nHotBytes += b.bytes;
    return true;
}

void CLogRowStore::SpillColdest()
{
    if (m_nSpillWait > 0) {
        --m_nSpillWait;
        return;
    }
    while (m_nHotBlocks > kHotBlocks) {
        // The oldest hot block that is not the tail; appends keep the hot ones at the end.
        const Block& tail = m_blocks.back();
        const size_t others = m_nHotBlocks - (tail.mem && !tail.stored ? 1 : 0);
        size_t coldest = m_blocks.size();
        size_t seen = 0;
        for (size_t i = m_blocks.size() - 1; i-- > 0 && seen < others;) {
            if (m_blocks[i].mem && !m_blocks[i].stored) {
                coldest = i;
                ++seen;
            }
        }
        if (coldest == m_blocks.size())
            return;
        Block& b = m_blocks[coldest];
        if ((!m_file.IsOpen() && !m_file.Open()) || !m_file.Write(m_nFileEnd, b.mem->text.data(), b.bytes)) {
            m_nSpillWait = kSpillRetryInserts;   // kept in memory meanwhile
            return;
        }
        b.offset = m_nFileEnd;
        b.stored = true;
        if (!m_spare) {
            // Kept for the next tail block: a capture would otherwise give a block's
            // pages back and fault them in again every few hundred rows.
            m_spare = std::move(b.mem);
            m_spare->text.clear();
            m_spare->starts.clear();
        }
        b.mem.reset();
        m_nFileEnd += b.bytes;
        --m_nHotBlocks;
        m_nHotBytes -= b.bytes;
    }
}

bool CLogRowStore::StartTailBlock(size_t length)
{
    Block b;
    b.first = m_nCount;
    b.mem = m_spare ? std::move(m_spare) : std::unique_ptr<Rows>(new (std::nothrow) Rows);
    if (!b.mem)
        return false;
    if (!MakeRoom(b.mem->text, std::max(kBlockSize, length + 1)) || !MakeRoom(m_blocks, 1))
        return false;
    m_blocks.push_back(std::move(b));
    ++m_nHotBlocks;
    return true;
}

bool CLogRowStore::Insert(size_t index, const char* text, size_t length)
{
    if (index > m_nCount || length >= UINT32_MAX / 2)
        return false;
    if (const void* nul = length ? std::memchr(text, '\0', length) : nullptr)
        length = static_cast<size_t>(static_cast<const char*>(nul) - text);
    const size_t bytes = length + 1;
    if (m_nHotBytes + bytes > kMostHeldBytes) {
        SpillColdest();
        if (m_nHotBytes + bytes > kMostHeldBytes)
            return false;
    }

    size_t block;
    if (index == m_nCount) {
        const Block* tail = m_blocks.empty() ? nullptr : &m_blocks.back();
        if (!tail || !tail->mem || tail->stored || tail->bytes + bytes > kBlockSize) {
            SpillColdest();
            if (!StartTailBlock(length))
                return false;
        }
        block = m_blocks.size() - 1;
    } else {
        block = FindBlock(index);
        if (!MakeHot(block))
            return false;
    }
    Block& b = m_blocks[block];
    Rows& rows = *b.mem;
    const size_t at = index - b.first;
    const size_t offset = at < rows.starts.size() ? rows.starts[at] : rows.text.size();
    if (!MakeRoom(rows.starts, 1) || !MakeRoom(rows.text, bytes))
        return false;
    // Capacity is reserved above, so neither insert can throw.
    rows.text.insert(rows.text.begin() + static_cast<std::ptrdiff_t>(offset), text, text + length);
    rows.text.insert(rows.text.begin() + static_cast<std::ptrdiff_t>(offset + length), '\0');
    rows.starts.insert(rows.starts.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint32_t>(offset));
    for (size_t i = at + 1; i < rows.starts.size(); ++i)
        rows.starts[i] += static_cast<uint32_t>(bytes);
    ++b.rows;
    b.bytes += static_cast<uint32_t>(bytes);
    m_nHotBytes += bytes;
    for (size_t i = block + 1; i < m_blocks.size(); ++i)
        ++m_blocks[i].first;
    ShiftFlagsUp(index);
    ++m_nCount;
    m_nLiveBytes += bytes;
    if (b.bytes > kSplitBytes && b.rows > 1)
        SplitBlock(block);
    return true;
}

void CLogRowStore::SplitBlock(size_t block)
{
    // Only ever a hot block that middle inserts have grown; a failure leaves it whole.
    Block second;
    second.mem.reset(new (std::nothrow) Rows);
    if (!second.mem)
        return;
    Rows& rows = *m_blocks[block].mem;
    const size_t keep = rows.starts.size() / 2;
    const uint32_t cut = rows.starts[keep];
    if (!MakeRoom(m_blocks, 1))
        return;
    try {
        second.mem->text.assign(rows.text.begin() + cut, rows.text.end());
        second.mem->starts.assign(rows.starts.begin() + static_cast<std::ptrdiff_t>(keep), rows.starts.end());
    } catch (const std::bad_alloc&) {
        return;
    }
    for (uint32_t& start : second.mem->starts)
        start -= cut;
    rows.text.resize(cut);
    rows.starts.resize(keep);
    Block& first = m_blocks[block];
    second.first = first.first + keep;
    second.rows = static_cast<uint32_t>(first.rows - keep);
    second.bytes = first.bytes - cut;
    first.rows = static_cast<uint32_t>(keep);
    first.bytes = cut;
    DropCache();   // cached entries name blocks by position
    m_blocks.insert(m_blocks.begin() + static_cast<std::ptrdiff_t>(block) + 1, std::move(second));
    ++m_nHotBlocks;
}

void CLogRowStore::Erase(size_t index)
{
    if (index >= m_nCount)
        return;
    const size_t block = FindBlock(index);
    if (!MakeHot(block))
        return;   // unreadable: the row stays rather than taking a wrong one with it
    Block& b = m_blocks[block];
    Rows& rows = *b.mem;
    const size_t at = index - b.first;
    const size_t offset = rows.starts[at];
    const size_t bytes = std::strlen(rows.text.data() + offset) + 1;
    rows.text.erase(rows.text.begin() + static_cast<std::ptrdiff_t>(offset),
                    rows.text.begin() + static_cast<std::ptrdiff_t>(offset + bytes));
    rows.starts.erase(rows.starts.begin() + static_cast<std::ptrdiff_t>(at));
    for (size_t i = at; i < rows.starts.size(); ++i)
        rows.starts[i] -= static_cast<uint32_t>(bytes);
    --b.rows;
    b.bytes -= static_cast<uint32_t>(bytes);
    m_nHotBytes -= bytes;
    for (size_t i = block + 1; i < m_blocks.size(); ++i)
        --m_blocks[i].first;
    if (b.rows == 0) {
        DropCache();   // cached entries name blocks by position
        m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(block));
        --m_nHotBlocks;
    }
    ShiftFlagsDown(index);
    --m_nCount;
    m_nLiveBytes -= bytes;
    if (m_nCount == 0)
        Clear();
}

void CLogRowStore::Clear()
{
    // Swap with empty containers: clear() alone would keep the capacity of a long capture.
    std::vector<Block>().swap(m_blocks);
    std::vector<size_t>().swap(m_cached);
    std::vector<std::unique_ptr<unsigned char[]>>().swap(m_flags);
    m_spare.reset();
    m_file.Close();
    m_nLastBlock = 0;
    m_nCount = 0;
    m_nLiveBytes = 0;
    m_nHotBlocks = 0;
    m_nHotBytes = 0;
    m_nFileEnd = 0;
    m_nSpillWait = 0;
}

unsigned char CLogRowStore::GetFlags(size_t index) const
{
    const size_t chunk = index / kFlagChunk;
    return chunk < m_flags.size() && m_flags[chunk] ? m_flags[chunk][index % kFlagChunk] : 0;
}

void CLogRowStore::SetFlags(size_t index, unsigned char flags)
{
    if (index >= m_nCount)
        return;
    const size_t chunk = index / kFlagChunk;
    if (chunk >= m_flags.size() || !m_flags[chunk]) {
        if (flags == 0)
            return;   // absent chunks read as zero
        try {
            if (chunk >= m_flags.size())
                m_flags.resize(chunk + 1);
        } catch (const std::bad_alloc&) {
            return;
        }
        m_flags[chunk].reset(new (std::nothrow) unsigned char[kFlagChunk]());
        if (!m_flags[chunk])
            return;
    }
    m_flags[chunk][index % kFlagChunk] = flags;
}

void CLogRowStore::ClearFlags()
{
    std::vector<std::unique_ptr<unsigned char[]>>().swap(m_flags);
}

void CLogRowStore::ShiftFlagsUp(size_t index)
{
    // Rows index .. Count() - 1 move one up, chunk by chunk from the top, each taking
    // the last flag of the chunk below; the new row gets zero.
    const size_t low = index / kFlagChunk;
    if (low >= m_flags.size())
        return;   // no flag set at or above index
    for (size_t chunk = std::min(m_nCount / kFlagChunk, m_flags.size()) + 1; chunk-- > low;) {
        const size_t start = chunk == low ? index % kFlagChunk : 0;
        const unsigned char carry = chunk == low ? 0 : GetFlags(chunk * kFlagChunk - 1);
        if (chunk >= m_flags.size() || !m_flags[chunk]) {
            if (carry == 0)
                continue;
            try {
                if (chunk >= m_flags.size())
                    m_flags.resize(chunk + 1);
            } catch (const std::bad_alloc&) {
                continue;
            }
            m_flags[chunk].reset(new (std::nothrow) unsigned char[kFlagChunk]());
            if (!m_flags[chunk])
                continue;
        }
        unsigned char* p = m_flags[chunk].get();
        std::memmove(p + start + 1, p + start, kFlagChunk - start - 1);
        p[start] = carry;
    }
}

void CLogRowStore::ShiftFlagsDown(size_t index)
{
    // Rows index + 1 .. Count() - 1 move one down, chunk by chunk from the bottom, each
    // taking the first flag of the chunk above.
    for (size_t chunk = index / kFlagChunk; chunk < m_flags.size(); ++chunk) {
        const size_t start = chunk == index / kFlagChunk ? index % kFlagChunk : 0;
        const unsigned char carry = GetFlags((chunk + 1) * kFlagChunk);
        if (!m_flags[chunk]) {
            if (carry == 0)
                continue;
            m_flags[chunk].reset(new (std::nothrow) unsigned char[kFlagChunk]());
            if (!m_flags[chunk])
                continue;
        }
        unsigned char* p = m_flags[chunk].get();
        std::memmove(p + start, p + start + 1, kFlagChunk - start - 1);
        p[kFlagChunk - 1] = carry;
    }
}
