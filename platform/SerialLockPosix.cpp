#include "platform/SerialLockPosix.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <mutex>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The devices this process's ports hold, whether or not a lock file could be made.
std::mutex g_lockedHereLock;
std::set<std::string> g_lockedHere;

std::string LockFolder()
{
    const char* folder = std::getenv("TESSARIN_LOCK_DIR");
    if (folder != nullptr && folder[0] != '\0')
        return folder;
    struct stat info;
    return stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) ? "/run/lock" : "/var/lock";
}

// The device a path names in the end (links resolved), or the path itself.
std::string RealDevice(const std::string& path)
{
    char real[PATH_MAX];
    return realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

// "LCK..ttyUSB0"; a device below /dev keeps its sub-folders, with '_' for '/'
// ("LCK..pts_3"); elsewhere only its own name counts.
std::string LockFilePath(const std::string& device)
{
    std::string name =
        device.compare(0, 5, "/dev/") == 0 ? device.substr(5) : device.substr(device.rfind('/') + 1);
    for (char& c : name)
        if (c == '/')
            c = '_';
    return LockFolder() + "/LCK.." + name;
}

// The pid in a lock file: ten ASCII digits and a line end, or a binary int of old
// programs; 0 when none can be read.
long LockHolder(const std::string& lockFile)
{
    const int fd = open(lockFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[32] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n == static_cast<ssize_t>(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        return binary;
    }
    return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

bool IsAlive(long pid)
{
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// True when another live process holds the lock file; a stale one is removed.
bool IsLockedElsewhere(const std::string& lockFile)
{
    const long pid = LockHolder(lockFile);
    if (pid == static_cast<long>(getpid()))
        return false;
    if (IsAlive(pid))
        return true;
    struct stat info;
    if (pid == 0 && lstat(lockFile.c_str(), &info) != 0)
        return false;   // no lock file at all
    // Stale, or unreadable junk: its holder cannot be asked, so it holds nothing.
    (void)unlink(lockFile.c_str());   // another program may remove it first
    return false;
}

bool IsNumber(const char* text)
{
    if (*text == '\0')
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// The pseudo-terminal number of a master descriptor of process pid, or -1.
int MasterIndex(const std::string& pid, const char* fd)
{
    FILE* info = std::fopen(("/proc/" + pid + "/fdinfo/" + fd).c_str(), "re");
    if (info == nullptr)
        return -1;
    int index = -1;
    char line[128];
    while (index < 0 && std::fgets(line, sizeof line, info))
        if (std::sscanf(line, "tty-index: %d", &index) != 1)
            index = -1;
    std::fclose(info);
    return index;
}

// Whether process pid holds the device, and whether it holds the master of pseudo-terminal
// ptyIndex (-1: the device is no pseudo-terminal).
void ScanDescriptors(const std::string& pid, const std::string& device, int ptyIndex, bool& holdsDevice,
                     bool& holdsMaster)
{
    const std::string folder = "/proc/" + pid + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return;   // gone, or not ours to see as an ordinary user
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        char target[PATH_MAX];
        const ssize_t n = readlink((folder + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (device == target)
            holdsDevice = true;
        else if (ptyIndex >= 0 && std::strstr(target, "ptmx") != nullptr &&
                 MasterIndex(pid, entry->d_name) == ptyIndex)
            holdsMaster = true;
    }
    closedir(dir);
}

bool IsOpenElsewhere(const std::string& device)
{
    int ptyIndex = -1;
    if (std::sscanf(device.c_str(), "/dev/pts/%d", &ptyIndex) != 1)
        ptyIndex = -1;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return false;   // no process table to look in: the locks alone must do
    const std::string self = std::to_string(getpid());
    bool held = false;
    while (!held) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr)
            break;
        if (!IsNumber(entry->d_name) || self == entry->d_name)
            continue;
        bool holdsDevice = false;
        bool holdsMaster = false;
        ScanDescriptors(entry->d_name, device, ptyIndex, holdsDevice, holdsMaster);
        held = holdsDevice && !holdsMaster;
    }
    closedir(proc);
    return held;
}

}   // namespace

bool IsSerialDeviceHeld(const std::string& devicePath)
{
    const std::string device = RealDevice(devicePath);
    return IsLockedElsewhere(LockFilePath(device)) || IsOpenElsewhere(device);
}

bool IsSerialDeviceLockedHere(const std::string& devicePath)
{
    std::lock_guard<std::mutex> guard(g_lockedHereLock);
    return g_lockedHere.count(RealDevice(devicePath)) != 0;
}

bool LockSerialDevice(const std::string& devicePath)
{
    const std::string device = RealDevice(devicePath);
    const std::string lockFile = LockFilePath(device);
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
    // Written whole under another name, then linked: a reader never sees half a pid, and
    // of two programs only one can make the name.
    const std::string temporary = lockFile + "." + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::lock_guard<std::mutex> guard(g_lockedHereLock);
        g_lockedHere.insert(device);
        return true;   // no lock folder for us: see the header
    }
    const bool written = write(fd, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
    close(fd);
    bool locked = true;
    if (written) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (link(temporary.c_str(), lockFile.c_str()) == 0 || errno != EEXIST) {
                locked = true;
                break;
            }
            // Taken: by a live program, or a stale file that IsLockedElsewhere removes.
            locked = !IsLockedElsewhere(lockFile) && LockHolder(lockFile) == static_cast<long>(getpid());
        }
    }
    (void)unlink(temporary.c_str());
    if (locked) {
        std::lock_guard<std::mutex> guard(g_lockedHereLock);
        g_lockedHere.insert(device);
    }
    return locked;
}

void UnlockSerialDevice(const std::string& devicePath)
{
    const std::string device = RealDevice(devicePath);
    {
        std::lock_guard<std::mutex> guard(g_lockedHereLock);
        g_lockedHere.erase(device);
    }
    const std::string lockFile = LockFilePath(device);
    if (LockHolder(lockFile) == static_cast<long>(getpid()))
        (void)unlink(lockFile.c_str());
}
