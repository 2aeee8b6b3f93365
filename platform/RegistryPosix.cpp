#include "platform/Registry.h"

#include "platform/ConfigFolder.h"
#include "platform/RegistryHive.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct RegKeyObject {
    std::string path;
    uint32_t access = 0;
    bool bChanged = false;   // created a key or set a value: its close writes the hive
};

namespace {

const char kRoot[] = "HKEY_CURRENT_USER";
const char kHiveName[] = "HKEY_CURRENT_USER.reg";
const char kTempTag[] = ".tmp-";
// A settings hive is a few kilobytes; anything near this is not one, and reading it
// whole would only hurt.
constexpr off_t kMaxHiveBytes = off_t(64) << 20;

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};
    bool operator==(const FileId& o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

FileId IdOf(const struct stat& st)
{
    FileId id;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime = st.st_mtim;
    id.ctime = st.st_ctim;
    return id;
}

enum class DiskState { Missing, Read, Unreadable, NotAFile };

struct DiskImage {
    DiskState state = DiskState::Missing;
    FileId id;
    std::vector<uint8_t> bytes;
    RegistryHiveDamage damage;
    CRegistryHive hive;
};

struct Change {
    bool bKeyOnly = false;
    std::string path;
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

RegStatus StatusFromErrno(int err)
{
    switch (err) {
    case ENOSPC:
    case EDQUOT:
        return TREG_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ENOTDIR:
    case ENOENT:
        return TREG_ACCESS_DENIED;
    case ENOMEM:
        return TREG_NOT_ENOUGH_MEMORY;
    default:
        return TREG_WRITE_FAULT;
    }
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
}

std::string BaseOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates the folder and its parents, owner-only; 0 or an errno.
int MakeFolders(const std::string& folder)
{
    if (folder.empty())
        return ENOENT;
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/')
            continue;
        std::string part = folder.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat st;
    if (stat(folder.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// A hive reached through a symbolic link is replaced where the link points, so the link
// (e.g. into a folder of shared dotfiles) survives the save.
std::string WriteTarget(const std::string& hivePath)
{
    struct stat st;
    if (lstat(hivePath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = realpath(hivePath.c_str(), nullptr);
        if (real) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return hivePath;
}

// Never blocks: the type is checked before the open, and a FIFO swapped in between is
// opened non-blocking and refused by the second check.
DiskImage ReadDisk(const std::string& path)
{
    DiskImage img;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        img.state = errno == ENOENT ? DiskState::Missing : DiskState::Unreadable;
        return img;
    }
    img.id = IdOf(st);
    if (!S_ISREG(st.st_mode)) {
        img.state = DiskState::NotAFile;
        return img;
    }
    if (st.st_size > kMaxHiveBytes) {
        img.state = DiskState::Unreadable;
        return img;
    }
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        img.state = DiskState::Unreadable;
        return img;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        img.state = DiskState::NotAFile;
        close(fd);   // read-only, and we are done with it either way
        return img;
    }
    img.id = IdOf(st);
    img.state = DiskState::Read;
    uint8_t chunk[8192];
    while (true) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || off_t(img.bytes.size()) + n > kMaxHiveBytes) {
            img.state = DiskState::Unreadable;
            img.bytes.clear();
            break;
        }
        if (n == 0)
            break;
        img.bytes.insert(img.bytes.end(), chunk, chunk + n);
    }
    close(fd);   // read-only: nothing to lose if close reports an error
    if (img.state == DiskState::Read)
        img.damage = img.hive.Parse(img.bytes.data(), img.bytes.size());
    return img;
}

void SyncFolder(const std::string& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    // The rename is done either way; this only makes it outlast a power cut, and there
    // is nothing better to do when the folder cannot be synced.
    (void)fsync(fd);
    close(fd);   // a folder opened for reading holds nothing to flush
}

// Writes text to a unique file beside target, flushes it to disk and renames it over
// target: readers see the old file or the new one, never a part.
RegStatus ReplaceFile(const std::string& target, const std::string& text)
{
    static unsigned counter = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        // The time only spreads the names; the pid and counter already make them unique.
        timespec now{};
        (void)clock_gettime(CLOCK_MONOTONIC, &now);
        char tag[64];
        std::snprintf(tag, sizeof tag, "%s%ld-%u-%lx", kTempTag, long(getpid()), ++counter,
                      static_cast<unsigned long>(now.tv_nsec));
        temp = target + tag;
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST)
            return StatusFromErrno(errno);
    }
    if (fd < 0)
        return TREG_WRITE_FAULT;
    // The umask can only take bits away from 0600; this keeps the owner's read and
    // write even under an odd umask. Failing it leaves the file owner-only anyway.
    (void)fchmod(fd, 0600);

    int err = 0;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0 && !err) {
        ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno != EINTR)
                err = errno;
            continue;
        }
        p += n;
        left -= size_t(n);
    }
    if (!err && fsync(fd) != 0)
        err = errno;
    if (close(fd) != 0 && !err)
        err = errno;
    if (!err && rename(temp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err) {
        // Best effort: a leftover is removed at the next start.
        (void)unlink(temp.c_str());
        return StatusFromErrno(err);
    }
    SyncFolder(FolderOf(target));
    return TREG_SUCCESS;
}

// Keeps what the user had before a save replaces a hive we could not fully read.
RegStatus KeepDamagedCopy(const std::string& target, const DiskImage& img)
{
    char stamp[32];
    time_t now = time(nullptr);
    struct tm tmNow {};
    if (!localtime_r(&now, &tmNow) || !strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tmNow))
        std::snprintf(stamp, sizeof stamp, "%ld", long(now));
    for (int n = 1; n < 100; ++n) {
        std::string name = target + ".damaged-" + stamp;
        if (n > 1)
            name += "-" + std::to_string(n);
        // A hard link keeps the very bytes and needs no read permission.
        if (link(target.c_str(), name.c_str()) == 0)
            return TREG_SUCCESS;
        if (errno == EEXIST)
            continue;
        if (img.state != DiskState::Read)
            return StatusFromErrno(errno);
        struct stat st;
        if (lstat(name.c_str(), &st) == 0)
            continue;
        return ReplaceFile(name, std::string(img.bytes.begin(), img.bytes.end()));
    }
    return TREG_WRITE_FAULT;
}

// Only call with the lock held: then every temporary file is a dead writer's.
void RemoveStaleTemps(const std::string& target)
{
    std::string folder = FolderOf(target);
    std::string base = BaseOf(target);
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (std::strncmp(name, base.c_str(), base.size()) == 0 && std::strstr(name, kTempTag))
            (void)unlinkat(dirfd(dir), name, 0);   // gone already, or not ours to remove
    }
    closedir(dir);   // only read from
}

class CLockFile {
public:
    // Blocks until held when bWait; otherwise tries once.
    int Acquire(const std::string& path, bool bCreate, bool bWait)
    {
        m_fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (bCreate ? O_CREAT : 0), 0600);
        if (m_fd < 0)
            return errno;
        while (flock(m_fd, LOCK_EX | (bWait ? 0 : LOCK_NB)) != 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            close(m_fd);   // never locked: nothing to release or lose
            m_fd = -1;
            return err;
        }
        return 0;
    }
    ~CLockFile()
    {
        if (m_fd >= 0)
            close(m_fd);   // releases the lock; an empty lock file has nothing to lose
    }

private:
    int m_fd = -1;
};

class CHiveStore {
public:
    std::mutex m_mutex;

    bool IsHandle(RegKey key) const { return m_handles.count(key) != 0; }

    // The path a handle stands for, "" for an unknown one.
    std::string PathOf(RegKey key) const
    {
        if (key == TREG_HKEY_CURRENT_USER)
            return kRoot;
        return IsHandle(key) ? key->path : std::string();
    }

    RegKey NewHandle(const std::string& path, uint32_t access)
    {
        RegKey h = new RegKeyObject;
        h->path = path;
        h->access = access;
        m_handles.insert(h);
        return h;
    }

    void Refresh()
    {
        Locate();
        if (m_hivePath.empty())
            return;
        // Once per process, forked ones included: a start is when leftovers can be.
        if (m_cleanedPid != getpid()) {
            m_cleanedPid = getpid();
            CLockFile lock;
            // No lock file means no save ever ran here, so nothing to clean: a load
            // creates nothing.
            if (lock.Acquire(LockPath(), false, false) == 0)
                RemoveStaleTemps(WriteTarget(m_hivePath));
        }
        struct stat st;
        bool bExists = stat(m_hivePath.c_str(), &st) == 0;
        if (m_bCached && bExists == m_bCachedExists && (!bExists || IdOf(st) == m_cachedId))
            return;
        DiskImage img = ReadDisk(m_hivePath);
        TakeDisk(img);
    }

    // 0 when a save could replace the hive, else the status a writer gets.
    RegStatus CheckWritable()
    {
        Locate();
        if (m_hivePath.empty())
            return TREG_ACCESS_DENIED;
        if (int err = MakeFolders(m_folder))
            return StatusFromErrno(err);
        struct stat st;
        if (stat(m_hivePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return TREG_ACCESS_DENIED;
        if (access(FolderOf(WriteTarget(m_hivePath)).c_str(), W_OK) != 0)
            return StatusFromErrno(errno);
        return TREG_SUCCESS;
    }

    void Record(Change change)
    {
        if (change.bKeyOnly)
            m_tree.CreateKey(change.path);
        else
            m_tree.SetValue(change.path, change.name, change.type, change.data.data(), change.data.size());
        m_pending.push_back(std::move(change));
    }

    // Writes the pending changes over what the hive holds now.
    RegStatus Flush()
    {
        if (m_pending.empty())
            return TREG_SUCCESS;
        RegStatus status = FlushUnderLock();
        if (status != TREG_SUCCESS) {
            // Nothing was stored: forget the changes and read the disk again, so later
            // loads show what the hive really holds.
            m_pending.clear();
            m_bCached = false;
        }
        return status;
    }

    CRegistryHive m_tree;
    std::set<RegKey> m_handles;

private:
    void Locate()
    {
        std::string folder = TessarinConfigFolder();
        if (folder == m_folder && m_bLocated)
            return;
        m_bLocated = true;
        m_folder = folder;
        m_hivePath = folder.empty() ? std::string() : folder + "/" + kHiveName;
        m_tree.Clear();
        m_pending.clear();
        m_bCached = false;
        m_cleanedPid = 0;
    }

    std::string LockPath() const { return m_hivePath + ".lock"; }

    void TakeDisk(const DiskImage& img)
    {
        if (img.state == DiskState::Read)
            m_tree = img.hive;
        else
            m_tree.Clear();
        ApplyPending(m_tree);
        m_bCached = img.state == DiskState::Read || img.state == DiskState::Missing;
        m_bCachedExists = img.state != DiskState::Missing;
        m_cachedId = img.id;
    }

    void ApplyPending(CRegistryHive& hive) const
    {
        for (const auto& c : m_pending) {
            if (c.bKeyOnly)
                hive.CreateKey(c.path);
            else
                hive.SetValue(c.path, c.name, c.type, c.data.data(), c.data.size());
        }
    }

    RegStatus FlushUnderLock()
    {
        if (int err = MakeFolders(m_folder))
            return StatusFromErrno(err);
        CLockFile lock;
        if (int err = lock.Acquire(LockPath(), true, true))
            return StatusFromErrno(err);
        const std::string target = WriteTarget(m_hivePath);
        RemoveStaleTemps(target);

        // Another process may have saved since we read: merge onto what is there now.
        DiskImage img = ReadDisk(target);
        if (img.state == DiskState::NotAFile)
            return TREG_ACCESS_DENIED;
        CRegistryHive merged;
        if (img.state == DiskState::Read)
            merged = img.hive;
        ApplyPending(merged);

        bool bKeepOld =
            img.state == DiskState::Unreadable || (img.state == DiskState::Read && img.damage.Any());
        if (bKeepOld) {
            RegStatus status = KeepDamagedCopy(target, img);
            if (status != TREG_SUCCESS)
                return status;
        }
        RegStatus status = ReplaceFile(target, merged.Write());
        if (status != TREG_SUCCESS)
            return status;

        m_tree = merged;
        m_pending.clear();
        struct stat st;
        m_bCached = stat(m_hivePath.c_str(), &st) == 0;
        m_bCachedExists = m_bCached;
        if (m_bCached)
            m_cachedId = IdOf(st);
        return TREG_SUCCESS;
    }

    bool m_bLocated = false;
    std::string m_folder;
    std::string m_hivePath;
    pid_t m_cleanedPid = 0;
    bool m_bCached = false;
    bool m_bCachedExists = false;
    FileId m_cachedId;
    std::vector<Change> m_pending;
};

CHiveStore& Store()
{
    static CHiveStore store;
    return store;
}

// Win32 refuses a path that starts with a backslash; control characters would break
// the hive's key lines.
bool IsValidSubKey(const char* subKey)
{
    if (!subKey)
        return true;
    if (subKey[0] == '\\')
        return false;
    for (const char* p = subKey; *p; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20)
            return false;
    }
    return true;
}

// The arguments an open or a create is refused for, in the registry's order; the
// parent's path on success.
RegStatus CheckKeyArguments(CHiveStore& s, RegKey parent, const char* subKey, const RegKey* result,
                            std::string* parentPath)
{
    *parentPath = s.PathOf(parent);
    if (parentPath->empty())
        return TREG_INVALID_HANDLE;
    if (!result)
        return TREG_INVALID_PARAMETER;
    if (!IsValidSubKey(subKey))
        return TREG_BAD_PATHNAME;
    return TREG_SUCCESS;
}

}   // namespace

RegStatus RegistryOpenKey(RegKey parent, const char* subKey, uint32_t /*options*/, uint32_t access,
                          RegKey* result)
{
    CHiveStore& s = Store();
    std::lock_guard<std::mutex> guard(s.m_mutex);
    std::string parentPath;
    const RegStatus status = CheckKeyArguments(s, parent, subKey, result, &parentPath);
    if (status != TREG_SUCCESS)
        return status;
    if (parent == TREG_HKEY_CURRENT_USER && (!subKey || !*subKey)) {
        *result = TREG_HKEY_CURRENT_USER;
        return TREG_SUCCESS;
    }
    s.Refresh();
    std::string path = CRegistryHive::JoinPath(parentPath, subKey);
    if (!s.m_tree.HasKey(path))
        return TREG_FILE_NOT_FOUND;
    *result = s.NewHandle(path, access);
    return TREG_SUCCESS;
}

RegStatus RegistryCreateKey(RegKey parent, const char* subKey, uint32_t /*reserved*/, char* /*keyClass*/,
                            uint32_t /*options*/, uint32_t access, void* /*securityAttributes*/,
                            RegKey* result, uint32_t* disposition)
{
    CHiveStore& s = Store();
    std::lock_guard<std::mutex> guard(s.m_mutex);
    std::string parentPath;
    const RegStatus status = CheckKeyArguments(s, parent, subKey, result, &parentPath);
    if (status != TREG_SUCCESS)
        return status;
    s.Refresh();
    std::string path = CRegistryHive::JoinPath(parentPath, subKey);
    bool bNew = !s.m_tree.HasKey(path);
    bool bWrites = bNew || (access & (TREG_KEY_SET_VALUE | TREG_KEY_CREATE_SUB_KEY)) != 0;
    if (bWrites) {
        const RegStatus writable = s.CheckWritable();
        if (writable != TREG_SUCCESS)
            return writable;
    }
    RegKey h = s.NewHandle(path, access);
    if (bNew) {
        Change c;
        c.bKeyOnly = true;
        c.path = path;
        s.Record(std::move(c));
        h->bChanged = true;
    }
    *result = h;
    if (disposition)
        *disposition = bNew ? TREG_CREATED_NEW_KEY : TREG_OPENED_EXISTING_KEY;
    return TREG_SUCCESS;
}

RegStatus RegistryQueryValue(RegKey key, const char* valueName, uint32_t* /*reserved*/, uint32_t* type,
                             uint8_t* data, uint32_t* dataLength)
{
    CHiveStore& s = Store();
    std::lock_guard<std::mutex> guard(s.m_mutex);
    std::string path = s.PathOf(key);
    if (path.empty())
        return TREG_INVALID_HANDLE;
    if (key != TREG_HKEY_CURRENT_USER && !(key->access & TREG_KEY_QUERY_VALUE))
        return TREG_ACCESS_DENIED;
    if (data && !dataLength)
        return TREG_INVALID_PARAMETER;
    if (key == TREG_HKEY_CURRENT_USER)
        s.Refresh();
    const RegistryHiveValue* v = s.m_tree.FindValue(path, valueName ? valueName : "");
    if (!v)
        return TREG_FILE_NOT_FOUND;
    if (type)
        *type = v->type;
    const uint32_t size = uint32_t(v->data.size());
    if (!data) {
        if (dataLength)
            *dataLength = size;
        return TREG_SUCCESS;
    }
    if (size > *dataLength) {
        *dataLength = size;
        return TREG_MORE_DATA;
    }
    if (size)
        std::memcpy(data, v->data.data(), size);
    // As Win32 does: a string stored without its NUL gets one when there is room.
    bool bString = v->type == TREG_SZ || v->type == TREG_EXPAND_SZ || v->type == TREG_MULTI_SZ;
    if (bString && size > 0 && size < *dataLength && data[size - 1] != 0)
        data[size] = 0;
    *dataLength = size;
    return TREG_SUCCESS;
}

RegStatus RegistrySetValue(RegKey key, const char* valueName, uint32_t /*reserved*/, uint32_t type,
                           const uint8_t* data, uint32_t dataLength)
{
    CHiveStore& s = Store();
    std::lock_guard<std::mutex> guard(s.m_mutex);
    std::string path = s.PathOf(key);
    if (path.empty())
        return TREG_INVALID_HANDLE;
    const bool bRoot = key == TREG_HKEY_CURRENT_USER;
    if (!bRoot && !(key->access & TREG_KEY_SET_VALUE))
        return TREG_ACCESS_DENIED;
    if (!data && dataLength)
        return TREG_INVALID_PARAMETER;
    if (bRoot) {
        RegStatus status = s.CheckWritable();
        if (status != TREG_SUCCESS)
            return status;
        s.Refresh();
    }
    Change c;
    c.path = path;
    c.name = valueName ? valueName : "";
    c.type = type;
    if (dataLength)
        c.data.assign(data, data + dataLength);
    s.Record(std::move(c));
    // The root is never closed, so its values are written at once.
    if (bRoot)
        return s.Flush();
    key->bChanged = true;
    return TREG_SUCCESS;
}

RegStatus RegistryCloseKey(RegKey key)
{
    CHiveStore& s = Store();
    std::lock_guard<std::mutex> guard(s.m_mutex);
    if (key == TREG_HKEY_CURRENT_USER)
        return TREG_SUCCESS;
    if (!s.IsHandle(key))
        return TREG_INVALID_HANDLE;
    bool bChanged = key->bChanged;
    s.m_handles.erase(key);
    delete key;
    return bChanged ? s.Flush() : TREG_SUCCESS;
}
