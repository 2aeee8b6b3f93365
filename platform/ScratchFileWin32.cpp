#include "platform/ScratchFile.h"

#include <windows.h>

#include <string>

namespace {

HANDLE AsHandle(intptr_t file)
{
    return reinterpret_cast<HANDLE>(file);
}

// Reads or writes all of size bytes at offset, a gigabyte at most per call.
template <class Bytes, class Transfer>
bool TransferAt(HANDLE h, uint64_t offset, Bytes* p, size_t size, Transfer transfer)
{
    while (size > 0) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!transfer(h, p, chunk, &done, &at) || done == 0)
            return false;
        p += done;
        offset += done;
        size -= done;
    }
    return true;
}

}   // namespace

bool CScratchFile::Open()
{
    Close();
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        return false;
    wchar_t path[MAX_PATH + 1];
    if (GetTempFileNameW(folder, L"tsr", 0, path) == 0)
        return false;
    // Deleted when the handle closes, which the system does at any exit.
    const HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        (void)DeleteFileW(path);   // the empty name GetTempFileName made; a leftover is harmless
        return false;
    }
    m_file = reinterpret_cast<intptr_t>(h);
    return true;
}

bool CScratchFile::IsOpen() const
{
    return m_file != -1;
}

bool CScratchFile::Write(uint64_t offset, const void* data, size_t size)
{
    return TransferAt(AsHandle(m_file), offset, static_cast<const char*>(data), size, WriteFile);
}

bool CScratchFile::Read(uint64_t offset, void* data, size_t size)
{
    return TransferAt(AsHandle(m_file), offset, static_cast<char*>(data), size, ReadFile);
}

void CScratchFile::Close()
{
    if (m_file == -1)
        return;
    // The file is deleted with its handle; a failing close has nothing left to lose.
    (void)CloseHandle(AsHandle(m_file));
    m_file = -1;
}
