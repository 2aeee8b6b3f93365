#include "platform/ScratchFile.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ${XDG_CACHE_HOME}/tessarin when that is an absolute path, else /tmp/tessarin.
std::string CacheFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const std::string base = xdg != nullptr && xdg[0] == '/' ? xdg : "/tmp";
    return base + "/tessarin";
}

int CreateIn(const std::string& folder)
{
    // An existing folder is fine; any other failure shows at mkstemp.
    (void)mkdir(folder.c_str(), 0700);
    std::string path = folder + "/rows-XXXXXX";
    const int fd = mkstemp(&path[0]);
    if (fd < 0)
        return -1;
    // Nameless from here on: the system takes the file back when the last descriptor
    // goes, even after a crash. A failed unlink leaves a stray file, not a fault.
    (void)unlink(path.c_str());
    (void)fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

}   // namespace

bool CScratchFile::Open()
{
    Close();
    int fd = CreateIn(CacheFolder());
    if (fd < 0)
        fd = CreateIn("/tmp/tessarin");
    m_file = fd;
    return fd >= 0;
}

bool CScratchFile::IsOpen() const
{
    return m_file >= 0;
}

bool CScratchFile::Write(uint64_t offset, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = pwrite(static_cast<int>(m_file), p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;   // ENOSPC, EFBIG (SIGXFSZ is the caller's to ignore), EIO, closed
        p += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CScratchFile::Read(uint64_t offset, void* data, size_t size)
{
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = pread(static_cast<int>(m_file), p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

void CScratchFile::Close()
{
    if (m_file < 0)
        return;
    // Nothing written here is wanted after this, so a failing close loses nothing.
    (void)close(static_cast<int>(m_file));
    m_file = -1;
}
