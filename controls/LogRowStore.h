#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ScratchFile.h"

// The rows of the Message Log, in memory that stays flat however long a capture runs.
// Rows are packed, NUL-terminated, into blocks of consecutive rows. The newest blocks
// stay in memory; older ones go to a scratch file of the program's own and are found
// again through one small entry per block, then read back into a cache of a few blocks.
// On disk a row costs its text and its NUL; in memory nothing per row but the owner's
// flags byte, which is held only for stretches of rows where some flag is set.
// A disk that refuses the blocks leaves them in memory up to kMostHeldBytes; past that
// rows are refused until the disk takes blocks again.
// Not thread-safe: it belongs to the control's thread.
class CLogRowStore {
public:
    CLogRowStore();
    ~CLogRowStore();
    CLogRowStore(const CLogRowStore&) = delete;
    CLogRowStore& operator=(const CLogRowStore&) = delete;

    size_t Count() const { return m_nCount; }

    // Inserts a copy of text[0 .. length), up to any NUL in it, before row `index` (at
    // most Count()). Returns false, changing nothing, when the row cannot be stored.
    bool Insert(size_t index, const char* text, size_t length);

    // The text of a row, valid until the next call of Get, Insert, Erase or Clear. A row
    // whose block cannot be read back from the disk reads as empty.
    const char* Get(size_t index) const;

    // The owner's flags of a row: zero when inserted, kept until the row goes. A flag
    // that finds no memory to be kept in reads as zero again.
    unsigned char GetFlags(size_t index) const;
    void SetFlags(size_t index, unsigned char flags);
    // Sets every row's flags to zero.
    void ClearFlags();

    // Removes one row.
    void Erase(size_t index);

    // Removes every row, gives all memory back and removes the scratch file.
    void Clear();

    // Bytes of text held for live rows, NULs included.
    size_t LiveBytes() const { return m_nLiveBytes; }
    // Bytes the scratch file has grown to.
    uint64_t FileBytes() const { return m_nFileEnd; }

    // Rows are packed into blocks of about this size; a longer row gets a block of its own.
    static constexpr size_t kBlockSize = 64 * 1024;
    // Blocks kept in memory before the oldest goes to the disk, and blocks read back
    // kept for the next paint.
    static constexpr size_t kHotBlocks = 4;
    static constexpr size_t kCachedBlocks = 8;
    // Text kept in memory while the disk refuses it; beyond this rows are refused.
    static constexpr size_t kMostHeldBytes = 32 * 1024 * 1024;

private:
    // A block's rows in memory: their texts and where each starts.
    struct Rows {
        std::vector<char> text;
        std::vector<uint32_t> starts;
    };
    struct Block {
        size_t first = 0;      // index of its first row
        uint64_t offset = 0;   // where its copy lies in the file
        uint32_t rows = 0;
        uint32_t bytes = 0;
        bool stored = false;         // the file's copy is current
        std::unique_ptr<Rows> mem;   // null while the block is only on disk
    };

    size_t FindBlock(size_t index) const;
    Rows* Load(size_t block) const;
    bool MakeHot(size_t block);
    bool StartTailBlock(size_t length);
    void SpillColdest();
    void SplitBlock(size_t block);
    void DropCache() const;
    void ShiftFlagsUp(size_t index);
    void ShiftFlagsDown(size_t index);

    // Mutable: reading a block back from the disk fills the cache, also for const callers.
    mutable std::vector<Block> m_blocks;
    mutable std::vector<size_t> m_cached;   // blocks read back, the oldest first
    mutable size_t m_nLastBlock = 0;        // paints ask for neighbouring rows
    mutable CScratchFile m_file;
    std::unique_ptr<Rows> m_spare;   // a spilled block's memory, for the next tail block
    std::vector<std::unique_ptr<unsigned char[]>> m_flags;   // chunks of kFlagChunk rows
    size_t m_nCount = 0;
    size_t m_nLiveBytes = 0;
    size_t m_nHotBlocks = 0;   // in memory only, or newer than their copy on disk
    size_t m_nHotBytes = 0;
    uint64_t m_nFileEnd = 0;
    unsigned m_nSpillWait = 0;   // inserts to go before a refusing disk is tried again
};
