#include "platform/ComPortNames.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The port number of "COM<n>" with n in 1..29 written without leading zeros, else 0.
int ComPortNumber(const char* comName)
{
    if (comName == nullptr || std::strncmp(comName, "COM", 3) != 0)
        return 0;
    const char* digits = comName + 3;
    if (digits[0] < '1' || digits[0] > '9')
        return 0;
    int n = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || p - digits >= 2)
            return 0;
        n = n * 10 + (*p - '0');
    }
    return n >= FIRST_COM_PORT && n <= LAST_COM_PORT ? n : 0;
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    // No usable HOME (a service, a stripped environment): ask the user database.
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr
        && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    return std::string();
}

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

}  // namespace

std::string ComPortLinkFolder()
{
    // Only an absolute XDG_CONFIG_HOME counts, as the base-directory rules require.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const std::string home = HomeFolder();
        if (home.empty())
            return std::string();
        base = home + "/.config";
    }
    return base + "/tessarin/ports";
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

    // O_NONBLOCK: a modem line must not hold the open; no termios call touches the settings.
    const int fd = OpenRetrying(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return PORT_MISSING;
        case EBUSY:     // held with TIOCEXCL by another opener
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
