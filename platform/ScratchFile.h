#pragma once
// A temporary file of this program's own, for data that does not fit in memory: it
// lives in the user's cache folder (${XDG_CACHE_HOME:-/tmp}/tessarin on POSIX, the
// temporary folder on Windows), has no name once open where the system allows, and is
// gone when closed or when the program ends however it ends. One thread at a time.

#include <cstddef>
#include <cstdint>

class CScratchFile {
public:
    CScratchFile() = default;
    ~CScratchFile() { Close(); }
    CScratchFile(const CScratchFile&) = delete;
    CScratchFile& operator=(const CScratchFile&) = delete;

    // Creates a new, empty file; false when none can be made. Closes any open one first.
    bool Open();
    bool IsOpen() const;
    // Writes all of data at offset; false on any failure (a full disk, a size limit),
    // after which the bytes there are undefined.
    bool Write(uint64_t offset, const void* data, size_t size);
    // Reads exactly size bytes at offset; false on any failure or a short file.
    bool Read(uint64_t offset, void* data, size_t size);
    // Removes the file and gives its disk space back.
    void Close();

private:
    // The descriptor or handle; -1 (also Windows' invalid handle) when closed.
    intptr_t m_file = -1;
};
