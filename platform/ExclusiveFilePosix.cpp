#include "platform/ExclusiveFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes fd keeping the errno that made us give up; the descriptor held nothing yet.
FILE* GiveUp(int fd)
{
    const int saved = errno;
    close(fd);
    errno = saved;
    return nullptr;
}

}   // namespace

FILE* OpenExclusiveFile(const char* path, const char* mode)
{
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const bool append = std::strchr(mode, 'a') != nullptr;
    const bool truncate = !append && std::strchr(mode, 'w') != nullptr;
    const bool update = std::strchr(mode, '+') != nullptr;
    if (!append && !truncate) {
        errno = EINVAL;   // reading needs no lock: fopen is the tool for it
        return nullptr;
    }

    // Not O_TRUNC: emptying waits until the file is known to be ours.
    int fd;
    do {
        fd = open(path, (update ? O_RDWR : O_WRONLY) | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;

    // Only a regular file holds lines to lose. Devices such as /dev/null are shared by
    // every writer on the machine, and a lock on one would refuse them all but one.
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular) {
        int locked;
        do {
            locked = flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0 && errno == EWOULDBLOCK) {
            errno = EBUSY;
            return GiveUp(fd);
        }
        // Any other failure is a file system without locks: open as fopen would.
        if (truncate && ftruncate(fd, 0) != 0)
            return GiveUp(fd);
    }

    FILE* file = fdopen(fd, append ? (update ? "a+" : "a") : (update ? "w+" : "w"));
    return file != nullptr ? file : GiveUp(fd);
}
