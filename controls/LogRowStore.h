#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// The rows of the Message Log: NUL-terminated texts packed into large blocks that never
// move, with one pointer per row. A row costs its text, its NUL, one byte of flags for
// the owner and one pointer, and an append copies the text once and allocates only when
// a block fills up.
// Not thread-safe: it belongs to the control's thread.
class CLogRowStore {
public:
    CLogRowStore() = default;
    CLogRowStore(const CLogRowStore&) = delete;
    CLogRowStore& operator=(const CLogRowStore&) = delete;

    size_t Count() const { return m_rows.size(); }

    // Inserts a copy of text[0 .. length) before row `index` (at most Count()).
    // Returns false, changing nothing, when memory cannot be had.
    bool Insert(size_t index, const char* text, size_t length);

    // The text of a row, valid until the row is erased or the store cleared.
    const char* Get(size_t index) const { return m_rows[index]; }

    // The owner's flags of a row: zero when inserted, kept until the row goes.
    unsigned char GetFlags(size_t index) const { return static_cast<unsigned char>(m_rows[index][-1]); }
    void SetFlags(size_t index, unsigned char flags)
    {
        const_cast<char*>(m_rows[index])[-1] = static_cast<char>(flags);
    }
    // Sets every row's flags to zero.
    void ClearFlags();

    // Removes one row. Its bytes are reclaimed once dead text outweighs the live text.
    void Erase(size_t index);

    // Removes every row and gives all memory back.
    void Clear();

    // Bytes of text held for live rows, NULs included.
    size_t LiveBytes() const { return m_nLiveBytes; }

    // Texts up to this size share blocks; a longer one gets a block of its own.
    static constexpr size_t kBlockSize = 256 * 1024;

private:
    char* Allocate(size_t bytes);
    void Compact();

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<const char*> m_rows;
    char* m_pFree = nullptr;   // next free byte of the block being filled
    size_t m_nFreeBytes = 0;   // bytes left in that block
    size_t m_nLiveBytes = 0;
    size_t m_nDeadBytes = 0;
};
