#include "sim/PtyLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/ComPortNames.h"

namespace {

std::string Reason(const char* what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// mkdir -p; the last error is what matters to the caller.
bool MakeFolders(const std::string& path)
{
    if (path.empty())
        return false;
    std::string part;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        part = path.substr(0, pos);
        if (part.empty())
            continue;
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}   // namespace

CPtyLink::~CPtyLink()
{
    RemoveLink();
    if (m_nClaim >= 0)
        close(m_nClaim);   // and with it the lock
    // Closing our side hangs the line up for a program still holding the device.
    if (m_nSlave >= 0)
        close(m_nSlave);
    if (m_nMaster >= 0)
        close(m_nMaster);
}

bool CPtyLink::Open(std::string& error)
{
    m_nMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_nMaster < 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    if (grantpt(m_nMaster) != 0 || unlockpt(m_nMaster) != 0) {
        error = std::string("cannot unlock the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(m_nMaster);
    if (!name) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    m_strDevice = name;

    // We keep the device side open for our whole life: the terminal then keeps its
    // settings between captures, and our side never sees the hang-up that follows the
    // program's close, so one simulator serves any number of captures.
    m_nSlave = open(name, O_RDWR | O_NOCTTY);
    if (m_nSlave < 0) {
        error = Reason("cannot open", m_strDevice);
        return false;
    }
    termios tio;
    if (tcgetattr(m_nSlave, &tio) != 0) {
        error = Reason("cannot read the settings of", m_strDevice);
        return false;
    }
    cfmakeraw(&tio);
    // The dongle's line settings, so that a look with stty shows what the program expects.
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_nSlave, TCSANOW, &tio) != 0) {
        error = Reason("cannot make raw", m_strDevice);
        return false;
    }

    const int flags = fcntl(m_nMaster, F_GETFL);
    if (flags < 0 || fcntl(m_nMaster, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = std::string("cannot make the pseudo-terminal non-blocking: ") + std::strerror(errno);
        return false;
    }
    // Not for our children: a program started by a test must not keep the line alive.
    fcntl(m_nMaster, F_SETFD, FD_CLOEXEC);
    fcntl(m_nSlave, F_SETFD, FD_CLOEXEC);
    return true;
}

bool CPtyLink::CreateLink(int comNumber, bool replaceLive, std::string& error)
{
    const std::string folder = ComPortLinkFolder();
    if (!MakeFolders(folder)) {
        error = Reason("cannot make the ports folder", folder);
        return false;
    }
    const std::string name = "COM" + std::to_string(comNumber);
    const std::string link = folder + "/" + name;

    // A simulator holds a lock on a claim file beside its link for as long as it runs,
    // with the device it linked written in it. A link left by a simulator that died can
    // then be told from a live one, and from a link the user made to a real device: a
    // terminal number of a dead simulator is soon given to someone else's terminal.
    const std::string claim = folder + "/." + name + ".sim";
    m_nClaim = open(claim.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_nClaim < 0) {
        error = Reason("cannot open", claim);
        return false;
    }
    const bool claimed = flock(m_nClaim, LOCK_EX | LOCK_NB) == 0;
    char before[512] = {};
    if (claimed && pread(m_nClaim, before, sizeof before - 1, 0) < 0)
        before[0] = '\0';   // unreadable: nothing known of an earlier simulator

    struct stat st;
    if (lstat(link.c_str(), &st) == 0 && !replaceLive) {
        char to[512] = {};
        const ssize_t n = readlink(link.c_str(), to, sizeof to - 1);
        const std::string target = n > 0 ? std::string(to, static_cast<size_t>(n)) : "";
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a link; not touching it";
            return false;
        }
        if (!claimed) {
            error = link + " belongs to a running simulator (leads to " + target +
                    "); choose another --com or give --force";
            return false;
        }
        // Not one of ours: the user's link to a device, plugged in or not.
        if (target != before) {
            error = link + " leads to " + target + "; choose another --com or give --force";
            return false;
        }
    }

    // Made under a temporary name and renamed over, so the name never leads nowhere.
    const std::string temp = link + ".new." + std::to_string(getpid());
    unlink(temp.c_str());   // a leftover of an earlier run of ours, if any
    if (symlink(m_strDevice.c_str(), temp.c_str()) != 0) {
        error = Reason("cannot create", temp);
        return false;
    }
    if (rename(temp.c_str(), link.c_str()) != 0) {
        error = Reason("cannot create", link);
        unlink(temp.c_str());
        return false;
    }
    m_strLink = link;
    if (claimed) {
        // Only a claim we hold is ours to write; a failure just leaves it less useful.
        if (ftruncate(m_nClaim, 0) != 0 || pwrite(m_nClaim, m_strDevice.data(), m_strDevice.size(), 0) < 0) {
        }
    }
    return true;
}

void CPtyLink::RemoveLink()
{
    if (m_strLink.empty())
        return;
    // Another simulator may have taken the name over with --force: leave its link alone.
    char to[512] = {};
    const ssize_t n = readlink(m_strLink.c_str(), to, sizeof to - 1);
    if (n > 0 && m_strDevice == std::string(to, static_cast<size_t>(n)))
        unlink(m_strLink.c_str());   // gone already is as good
    m_strLink.clear();
}
