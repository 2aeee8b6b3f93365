#include "link/LogFile.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/ExclusiveFile.h"

namespace {

// True when the file exists, is not empty and its last byte is not a line end: a
// torn line left by an earlier run, which an appended line must not be glued to.
bool EndsInsideLine(const char* fileName)
{
    // Only a regular file is read back: opening a FIFO for reading would wait for a writer.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(fileName), error))
        return false;
    FILE* f = std::fopen(fileName, "rb");
    if (f == nullptr)
        return false;   // nothing to read means nothing to glue to
    bool torn = false;
    if (std::fseek(f, -1, SEEK_END) == 0) {
        const int last = std::fgetc(f);
        torn = last != EOF && last != '\n';
    }
    std::fclose(f);   // read-only: nothing to lose if closing fails
    return torn;
}

}   // namespace

CLogFile::CLogFile() : m_pFile(nullptr), m_bTorn(false), m_nGoodEnd(-1) {}

CLogFile::~CLogFile()
{
    Close();
}

bool CLogFile::Open(const char* fileName, const char* mode)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pFile != nullptr)
        return true;
    if (fileName == nullptr || mode == nullptr || fileName[0] == '\0' || mode[0] == '\0')
        return false;

    const bool append = std::strchr(mode, 'a') != nullptr;
    const bool tornBefore = append && EndsInsideLine(fileName);
    // Another capture writing this file would be emptied or written over: refused.
    m_pFile = OpenExclusiveFile(fileName, mode);
    if (m_pFile == nullptr)
        return false;
    m_bTorn = tornBefore;
    m_nGoodEnd = -1;
    if (!tornBefore && std::fseek(m_pFile, 0, SEEK_END) == 0)
        m_nGoodEnd = std::ftell(m_pFile);
    return true;
}

bool CLogFile::WriteLine(const char* line)
{
    if (line == nullptr)
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pFile == nullptr)
        return false;

    bool newLineFirst = false;
    if (m_bTorn) {
        // The C library drops what a failed flush held, but part of it may have reached
        // the file already: only a file that grew since the last whole line needs a break.
        std::clearerr(m_pFile);
        long end = -1;
        if (std::fseek(m_pFile, 0, SEEK_END) == 0)
            end = std::ftell(m_pFile);
        newLineFirst = end < 0 || m_nGoodEnd < 0 || end != m_nGoodEnd;
    }

    bool ok = true;
    if (newLineFirst)
        ok = std::fputc('\n', m_pFile) != EOF;
    ok = ok && std::fputs(line, m_pFile) >= 0;
    ok = ok && std::fputc('\n', m_pFile) != EOF;
    // A full disk shows only here: the data was buffered until the flush.
    ok = std::fflush(m_pFile) == 0 && ok && !std::ferror(m_pFile);

    if (ok) {
        m_bTorn = false;
        m_nGoodEnd = std::ftell(m_pFile);
    } else {
        m_bTorn = true;
    }
    return ok;
}

void CLogFile::Close()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_pFile == nullptr)
        return;
    // Every line was flushed as it was written, so a failing fclose has nothing left to lose.
    std::fclose(m_pFile);
    m_pFile = nullptr;
    m_bTorn = false;
    m_nGoodEnd = -1;
}

bool CLogFile::IsOpen()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pFile != nullptr;
}
