#include "platform/ComPortNames.h"

#include "platform/ConfigFolder.h"
#include "platform/SerialLockPosix.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string DeviceFolder()
{
    const char* folder = std::getenv("TESSARIN_DEVICE_DIR");
    if (folder != nullptr && folder[0] != '\0')
        return folder;
    return "/dev";
}

int OpenRetrying(const char* path, int flags)
{
    int fd;
    do {
        fd = open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}   // namespace

std::string ComPortLinkFolder()
{
    const std::string config = TessarinConfigFolder();
    return config.empty() ? config : config + "/ports";
}

std::string ComPortDevicePath(const char* comName)
{
    const int n = ComPortNumber(comName);
    if (n == 0)
        return std::string();

    const std::string name = "COM" + std::to_string(n);
    const std::string links = ComPortLinkFolder();
    if (!links.empty()) {
        const std::string link = links + "/" + name;
        struct stat info;
        // A dangling link still wins: the port is then missing, not some other device.
        if (lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            return link;
    }

    const std::string dev = DeviceFolder();
    if (n <= 4)
        return dev + "/ttyS" + std::to_string(n - 1);
    if (n <= 12)
        return dev + "/ttyUSB" + std::to_string(n - 5);
    if (n <= 20)
        return dev + "/ttyACM" + std::to_string(n - 13);
    return std::string();   // COM21..COM29 exist only as links
}

PortStatus ProbeComPort(const char* comName)
{
    const std::string path = ComPortDevicePath(comName);
    if (path.empty())
        return PORT_MISSING;
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return errno == EACCES ? PORT_IN_USE : PORT_MISSING;
    if (IsSerialDeviceHeld(path))
        return PORT_IN_USE;

    // O_NONBLOCK: a modem line must not hold the open; no termios call touches the settings.
    const int fd = OpenRetrying(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return PORT_MISSING;
        case EBUSY:   // held with TIOCEXCL by another opener
        case EACCES:
        case EPERM:
            return PORT_IN_USE;
        default:
            return PORT_FAILED;
        }
    }

    // Root passes TIOCEXCL, so the advisory lock is what tells a held port, ours included.
    PortStatus status = PORT_AVAILABLE;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        status = errno == EWOULDBLOCK ? PORT_IN_USE : PORT_FAILED;
    close(fd);   // releases the lock too; nothing was written, so nothing to lose
    return status;
}
