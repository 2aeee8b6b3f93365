#include "platform/ComPortNames.h"

#include "platform/ConfigFolder.h"
#include "platform/SerialLockPosix.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int FIRST_USB_PORT = 5;
constexpr int LAST_USB_PORT = 20;

std::mutex g_numbersLock;
std::map<std::string, int> g_numbers;   // stable identity (by-id name) -> COM number

int OpenRetrying(const char* path, int flags)
{
    int fd;
    do {
        fd = open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

std::string RealPath(const std::string& path)
{
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? std::string(real) : std::string();
}

std::string ByIdFolder()
{
    return ComPortDeviceFolder() + "/serial/by-id";
}

// The devices with a stable identity present now: (identity, real device path).
std::vector<std::pair<std::string, std::string>> PresentIdentities()
{
    std::vector<std::pair<std::string, std::string>> found;
    const std::string folder = ByIdFolder();
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return found;   // no USB serial device since boot
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::string real = RealPath(folder + "/" + entry->d_name);
        if (!real.empty())   // a link left dangling by an unplug is no device
            found.emplace_back(entry->d_name, std::move(real));
    }
    closedir(dir);
    return found;
}

std::string FixedDevicePath(int n)
{
    const std::string dev = ComPortDeviceFolder();
    if (n <= 4)
        return dev + "/ttyS" + std::to_string(n - 1);
    if (n <= 12)
        return dev + "/ttyUSB" + std::to_string(n - 5);
    if (n <= 20)
        return dev + "/ttyACM" + std::to_string(n - 13);
    return std::string();   // COM21..COM29 exist only as links
}

// The user's link for the name, or "".
std::string UserLink(int n)
{
    const std::string links = ComPortLinkFolder();
    if (links.empty())
        return links;
    const std::string link = links + "/COM" + std::to_string(n);
    struct stat info;
    // A dangling link still wins: the port is then missing, not some other device.
    return lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode) ? link : std::string();
}

// Under g_numbersLock.
std::string NumberedDevicePath(int n, const std::vector<std::pair<std::string, std::string>>& present)
{
    for (const auto& [id, real] : present) {
        const auto it = g_numbers.find(id);
        if (it != g_numbers.end() && it->second == n)
            return ByIdFolder() + "/" + id;
    }
    const std::string fixed = FixedDevicePath(n);
    const std::string real = fixed.empty() ? fixed : RealPath(fixed);
    for (const auto& [id, device] : present) {
        const auto it = g_numbers.find(id);
        // The device is known under its own number: listing it here too would show one
        // dongle twice.
        if (!real.empty() && device == real && it != g_numbers.end() && it->second != n)
            return std::string();
    }
    return fixed;
}

// The sysfs folder of a character device, or "" when sysfs does not know it.
std::string SysfsFolder(const struct stat& info)
{
    char path[64];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u", major(info.st_rdev), minor(info.st_rdev));
    return RealPath(path);
}

std::string ReadLine(const std::string& path)
{
    char text[256] = {};
    FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr)
        return std::string();
    const bool read = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    std::string line = read ? text : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// The product name a USB device reports, from the device's sysfs folder up through its
// interface to the USB device; "" when none.
std::string UsbProduct(const std::string& sysfs)
{
    std::string folder = RealPath(sysfs + "/device");
    for (int up = 0; up < 3 && !folder.empty(); ++up) {
        const std::string product = ReadLine(folder + "/product");
        if (!product.empty())
            return product;
        folder = folder.substr(0, folder.rfind('/'));
    }
    return std::string();
}

bool MayOpen(const std::string& path)
{
    return faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0;
}

PortStatus ProbeByOpening(const std::string& path)
{
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
            return PORT_IN_USE;
        case EACCES:
        case EPERM:
            return PORT_NO_ACCESS;
        default:
            return PORT_FAILED;
        }
    }
    // Root passes TIOCEXCL, so the advisory lock is what tells a held port.
    PortStatus status = PORT_AVAILABLE;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        status = errno == EWOULDBLOCK ? PORT_IN_USE : PORT_FAILED;
    close(fd);   // releases the lock too; nothing was written, so nothing to lose
    return status;
}

}   // namespace

std::string ComPortDeviceFolder()
{
    const char* folder = std::getenv("TESSARIN_DEVICE_DIR");
    if (folder != nullptr && folder[0] != '\0')
        return folder;
    return "/dev";
}

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
    std::string link = UserLink(n);
    if (!link.empty())
        return link;
    const auto present = PresentIdentities();
    std::lock_guard<std::mutex> guard(g_numbersLock);
    return NumberedDevicePath(n, present);
}

PortStatus ProbeComPort(const char* comName)
{
    const std::string path = ComPortDevicePath(comName);
    if (path.empty())
        return PORT_MISSING;
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return errno == EACCES ? PORT_NO_ACCESS : PORT_MISSING;
    if (IsSerialDeviceHeld(path) || IsSerialDeviceLockedHere(path))
        return PORT_IN_USE;
    const std::string sysfs = S_ISCHR(info.st_mode) ? SysfsFolder(info) : std::string();
    if (sysfs.empty())
        return ProbeByOpening(path);   // the system cannot tell more without an open
    // A serial driver's "type" 0 is a UART slot with no chip behind it.
    if (ReadLine(sysfs + "/type") == "0")
        return PORT_FAILED;
    return MayOpen(path) ? PORT_AVAILABLE : PORT_NO_ACCESS;
}

std::string ComPortIdentity(const char* comName)
{
    const std::string path = ComPortDevicePath(comName);
    const std::string real = path.empty() ? path : RealPath(path);
    if (!real.empty())
        for (const auto& [id, device] : PresentIdentities())
            if (device == real)
                return "by-id:" + id;
    return path;
}

bool IsUsbSerialPort(const char* comName)
{
    const std::string identity = ComPortIdentity(comName);
    if (identity.compare(0, 6, "by-id:") == 0)
        return true;
    for (const std::string& path : {identity, RealPath(identity)}) {
        const std::string name = path.substr(path.rfind('/') + 1);
        if (name.compare(0, 6, "ttyUSB") == 0 || name.compare(0, 6, "ttyACM") == 0)
            return true;
    }
    return false;
}

std::string ComPortDescription(const char* portText)
{
    const std::string text = portText != nullptr ? portText : "";
    const std::string name = text.substr(0, text.find(' '));
    const char* comName = name.c_str();
    const std::string path = ComPortDevicePath(comName);
    const std::string real = path.empty() ? path : RealPath(path);
    if (real.empty())
        return std::string();
    const std::string shown = name + ": " + real;
    struct stat info;
    const std::string sysfs =
        stat(real.c_str(), &info) == 0 && S_ISCHR(info.st_mode) ? SysfsFolder(info) : "";
    std::string product = sysfs.empty() ? sysfs : UsbProduct(sysfs);
    const std::string identity = ComPortIdentity(comName);
    if (product.empty() && identity.compare(0, 6, "by-id:") == 0)
        product = identity.substr(6);
    return product.empty() ? shown : shown + ", " + product;
}

std::string ComPortAccessHint(const char* portText)
{
    const std::string text = portText != nullptr ? portText : "";
    const std::string name = text.substr(0, text.find(' '));
    const std::string path = ComPortDevicePath(name.c_str());
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) != 0 || MayOpen(path) || errno != EACCES)
        return std::string();
    const std::string real = RealPath(path);
    const group* owner = getgrgid(info.st_gid);
    const std::string group = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
    return "You may not use " + (real.empty() ? path : real) + ": join the group \"" + group +
           "\" (then log in again).";
}

std::string RememberedComPortNumbers()
{
    std::lock_guard<std::mutex> guard(g_numbersLock);
    std::string table;
    for (const auto& [id, n] : g_numbers)
        table += "COM" + std::to_string(n) + "=" + id + "\n";
    return table;
}

void RememberComPortNumbers(const std::string& table)
{
    std::map<std::string, int> numbers;
    size_t at = 0;
    while (at < table.size()) {
        size_t end = table.find('\n', at);
        if (end == std::string::npos)
            end = table.size();
        const std::string line = table.substr(at, end - at);
        at = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const int n = ComPortNumber(line.substr(0, equals).c_str());
        const std::string id = line.substr(equals + 1);
        // An identity is a file name in the by-id folder: never a path.
        if (n >= FIRST_USB_PORT && n <= LAST_USB_PORT && !id.empty() && id[0] != '.' &&
            id.find('/') == std::string::npos)
            numbers[id] = n;
    }
    std::lock_guard<std::mutex> guard(g_numbersLock);
    g_numbers.swap(numbers);
}

bool AssignComPortNumbers()
{
    const auto present = PresentIdentities();
    std::lock_guard<std::mutex> guard(g_numbersLock);
    bool changed = false;
    for (const auto& [id, device] : present) {
        if (g_numbers.count(id) != 0)
            continue;
        const auto taken = [](int n) {
            for (const auto& entry : g_numbers)
                if (entry.second == n)
                    return true;
            return false;
        };
        int chosen = 0;
        for (int n = FIRST_USB_PORT; n <= LAST_USB_PORT && chosen == 0; ++n)
            if (!taken(n) && RealPath(FixedDevicePath(n)) == device)
                chosen = n;
        struct stat info;
        for (int n = FIRST_USB_PORT; n <= LAST_USB_PORT && chosen == 0; ++n)
            if (!taken(n) && stat(FixedDevicePath(n).c_str(), &info) != 0)
                chosen = n;
        if (chosen != 0) {
            g_numbers[id] = chosen;
            changed = true;
        }
    }
    return changed;
}
