#include "tests/e2e/E2eSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

void RemoveTree(const std::string& path)
{
    // Only folders of our own making, with plain names: a shell is simplest.
    const std::string cmd = "rm -rf '" + path + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
}

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int StatusOf(int wstatus)
{
    if (WIFEXITED(wstatus))
        return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus))
        return 128 + WTERMSIG(wstatus);
    return -1;
}

}  // namespace

CTestFolder::CTestFolder()
{
    char pattern[] = "/tmp/tessarin-e2e-XXXXXX";
    const char* made = mkdtemp(pattern);
    m_strPath = made ? made : "/tmp";
    mkdir((m_strPath + "/config").c_str(), 0700);
    mkdir((m_strPath + "/dev").c_str(), 0700);
    setenv("XDG_CONFIG_HOME", (m_strPath + "/config").c_str(), 1);
    setenv("TESSARIN_DEVICE_DIR", (m_strPath + "/dev").c_str(), 1);
}

CTestFolder::~CTestFolder()
{
    if (m_strPath != "/tmp")
        RemoveTree(m_strPath);
}

bool CSimProcess::Start(const std::vector<std::string>& options)
{
    int out[2];
    if (pipe(out) != 0)
        return false;
    const std::string program = TESSARIN_SIM_PATH;
    std::vector<char*> argv = Argv(program, options);
    m_pid = fork();
    if (m_pid == 0) {
        // Never outlive a test that crashed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    if (m_pid < 0) {
        close(out[0]);
        return false;
    }
    m_strFirstLine.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd = {out[0], POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        if (read(out[0], &c, 1) != 1)
            break;
        if (c == '\n') {
            close(out[0]);
            return true;
        }
        m_strFirstLine += c;
    }
    close(out[0]);
    return false;
}

int CSimProcess::Stop()
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGCONT);   // a paused simulator cannot act on SIGTERM
    kill(m_pid, SIGTERM);
    int wstatus = 0;
    const pid_t pid = m_pid;
    m_pid = -1;
    if (waitpid(pid, &wstatus, 0) != pid)
        return -1;
    return StatusOf(wstatus);
}

void CSimProcess::Kill()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    int wstatus;
    waitpid(m_pid, &wstatus, 0);
    m_pid = -1;
}

void CSimProcess::Pause()
{
    if (m_pid > 0)
        kill(m_pid, SIGSTOP);
}

void CSimProcess::Resume()
{
    if (m_pid > 0)
        kill(m_pid, SIGCONT);
}

ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::string& input, bool keepInputOpen,
                      double termAfterSeconds)
{
    ToolResult result;
    // A program that ends before reading its input must not take the test with it.
    signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
        return result;
    std::vector<char*> argv = Argv(program, args);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // The commands are short: they fit the pipe at once.
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
    }
    if (!keepInputOpen) {
        close(in[1]);
        in[1] = -1;
    }
    const auto start = std::chrono::steady_clock::now();
    bool termSent = false;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (termAfterSeconds > 0 && !termSent && elapsed >= termAfterSeconds) {
            kill(pid, SIGTERM);
            termSent = true;
        }
        if (elapsed > 30) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, 50) <= 0)
            continue;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents)
                continue;
            const ssize_t n = read(i == 0 ? out[0] : err[0], buffer, sizeof buffer);
            if (n <= 0)
                (i == 0 ? outOpen : errOpen) = false;
            else
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = StatusOf(wstatus);
    for (int fd : {in[1], out[0], err[0]})
        if (fd >= 0)
            close(fd);
    return result;
}

std::vector<std::string> ReadLines(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

void WriteText(const std::string& file, const std::string& text)
{
    std::ofstream(file) << text;
}

bool FileExists(const std::string& file)
{
    struct stat st;
    return stat(file.c_str(), &st) == 0;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string WithoutTime(const std::string& line)
{
    return line.size() > 12 ? line.substr(12) : std::string();
}

bool IsLogLine(const std::string& line)
{
    static const std::regex form(
        R"(([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]:[0-9]{3} \|(<--|-->)\| 0x[0-9A-F]{4} \|.{19}\|([0-9A-F]{2} )*)");
    size_t bars = 0;
    for (char c : line)
        bars += c == '|';
    return bars == 4 && line.size() <= 255 && std::regex_match(line, form);
}
