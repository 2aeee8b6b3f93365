#include "tests/support/PosixPeers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <filesystem>
#include <fcntl.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

CPtyPeer::CPtyPeer(const char* comName) : m_strComName(comName)
{
    int slave = -1;
    char name[128];
    if (openpty(&m_nMaster, &slave, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed";
        return;
    }
    close(slave);   // the device stays while our side is open
    m_strSlave = name;
    if (!m_strComName.empty())
        LinkComName(m_strComName, m_strSlave);
}

CPtyPeer::~CPtyPeer()
{
    HangUp();
    if (!m_strComName.empty())
        UnlinkComName(m_strComName);
}

CUsbDongle::CUsbDongle(const std::string& id, const std::string& node)
    : m_strNode(DeviceFolder() + "/" + node), m_strIdLink(DeviceFolder() + "/serial/by-id/" + id)
{
    std::error_code error;
    std::filesystem::create_directories(DeviceFolder() + "/serial/by-id", error);
    std::filesystem::create_symlink(m_peer.SlavePath(), m_strNode, error);
    if (!error)
        std::filesystem::create_symlink("../../" + node, m_strIdLink, error);
    EXPECT_FALSE(error) << "plug " << id << ": " << error.message();
}

CUsbDongle::~CUsbDongle()
{
    m_peer.HangUp();
    std::error_code ignored;
    std::filesystem::remove(m_strIdLink, ignored);
    std::filesystem::remove(m_strNode, ignored);
}

bool CPtyPeer::Send(const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_nMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
    return true;
}

Bytes CPtyPeer::Receive(size_t want, int timeoutMs)
{
    Bytes got(want);
    size_t have = 0;
    const auto start = Clock::now();
    for (long long left = timeoutMs; have < want && left > 0; left = timeoutMs - MsSince(start)) {
        pollfd pfd = {m_nMaster, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = read(m_nMaster, &got[have], want - have);
        if (n < 0 && errno == EIO) {
            usleep(2000);   // no opener at the far end yet (a capture that reconnects)
            continue;
        }
        if (n <= 0)
            break;
        have += static_cast<size_t>(n);
    }
    got.resize(have);
    return got;
}

Bytes CPtyPeer::ReceiveAll(int timeoutMs, int quietMs)
{
    Bytes got;
    pollfd pfd = {m_nMaster, POLLIN, 0};
    while (poll(&pfd, 1, got.empty() ? timeoutMs : quietMs) > 0 && (pfd.revents & POLLIN)) {
        uint8_t chunk[512];
        const ssize_t n = read(m_nMaster, chunk, sizeof chunk);
        if (n <= 0)
            break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

void CPtyPeer::HangUp()
{
    if (m_nMaster >= 0)
        close(m_nMaster);
    m_nMaster = -1;
}

namespace {

// Forks a child that never outlives a test that crashed, with the given descriptors as
// its standard input, output and error (-1 keeps its own), and runs program in it.
pid_t Spawn(const std::string& program, const Texts& args, const std::string& cwd,
            std::initializer_list<int> stdFds)
{
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int target = 0;
        for (int fd : stdFds)
            if (int to = target++; fd >= 0)
                dup2(fd, to);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int Wait(pid_t pid)
{
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid)
        return -1;
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : WIFSIGNALED(wstatus) ? 128 + WTERMSIG(wstatus) : -1;
}

}   // namespace

const char* SimPath()
{
    return TESSARIN_SIM_PATH;
}
const char* CapturePath()
{
    return TESSARIN_CAPTURE_PATH;
}

bool CSimProcess::Start(const std::vector<std::string>& options)
{
    // Ready once its first line ("<device> COM<n>") is out.
    const std::string out = m_folder / "out";
    unlink(out.c_str());   // a run before this one's line must not count
    m_child.Start(SimPath(), options, out, false);
    std::string first;
    const bool ready = WaitUntil([&] {
        first = ReadFile(out);
        return first.find('\n') != std::string::npos;
    });
    m_strDevice = first.substr(0, first.find(' '));
    return ready;
}

int FreeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0;
    close(fd);
    return bound ? ntohs(addr.sin_port) : 0;
}

void CChildProcess::Start(const std::string& program, const Texts& args, const std::string& outFile,
                          bool errorsToo)
{
    Stop();
    const int fd = open(outFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    m_pid = errorsToo ? Spawn(program, args, "", {-1, fd, fd}) : Spawn(program, args, "", {-1, fd});
    close(fd);
}

int CChildProcess::Stop()
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    const pid_t pid = m_pid;
    m_pid = -1;
    return Wait(pid);
}

void CChildProcess::Kill()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        Wait(m_pid);
    }
    m_pid = -1;
}

ToolResult RunProgram(const std::string& program, const Texts& args, const std::string& cwd,
                      const std::string& input, bool keepInputOpen, double termAfterSeconds)
{
    // Output goes to files, so that no pipe can fill and hold the program; so does
    // input, of any size, unless it must stay open (then it must fit a pipe).
    CScratchFolder folder("run");
    int in[2] = {-1, -1};
    if (keepInputOpen) {
        if (pipe2(in, O_CLOEXEC) != 0 || write(in[1], input.data(), input.size()) < 0)
            ADD_FAILURE() << "no input pipe";
    } else {
        WriteText(folder / "in", input);
        in[0] = open((folder / "in").c_str(), O_RDONLY | O_CLOEXEC);
    }
    const int out = open((folder / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int err = open((folder / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = Spawn(program, args, cwd, {in[0], out, err});
    for (int fd : {in[0], out, err})
        close(fd);

    const auto start = Clock::now();
    bool termSent = false;
    int wstatus = 0;
    struct rusage usage = {};
    while (wait4(pid, &wstatus, WNOHANG, &usage) == 0) {
        if (termAfterSeconds > 0 && !termSent && MsSince(start) >= termAfterSeconds * 1000)
            termSent = kill(pid, SIGTERM) == 0;
        if (MsSince(start) > 30000)
            kill(pid, SIGKILL);
        usleep(10000);
    }
    if (in[1] >= 0)
        close(in[1]);
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), usage.ru_maxrss,
            ReadFile(folder / "out"), ReadFile(folder / "err")};
}

int AsOrdinaryUser(const std::function<int()>& body)
{
    return InChild([&] {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            return 255;
        return body();
    });
}

int InChild(const std::function<int()>& body, unsigned seconds)
{
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);   // a hang ends as SIGALRM
        _exit(body());
    }
    return child < 0 ? -1 : Wait(child);
}
