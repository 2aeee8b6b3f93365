#include "tests/e2e/E2eSupport.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Forks a child that never outlives a test that crashed, with the given descriptors as
// its standard input, output and error (-1 keeps its own), and runs program in it.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
            std::initializer_list<int> stdFds, std::initializer_list<int> closeFds)
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
        for (int fd : closeFds)
            close(fd);
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

}  // namespace

CTestFolder::CTestFolder()
{
    char pattern[] = "/tmp/tessarin-e2e-XXXXXX";
    m_strPath = mkdtemp(pattern) ? pattern : "/tmp";
    std::filesystem::create_directory(m_strPath + "/config");
    std::filesystem::create_directory(m_strPath + "/dev");
    setenv("XDG_CONFIG_HOME", (m_strPath + "/config").c_str(), 1);
    setenv("TESSARIN_DEVICE_DIR", (m_strPath + "/dev").c_str(), 1);
}

CTestFolder::~CTestFolder()
{
    std::error_code ignored;
    if (m_strPath != "/tmp")
        std::filesystem::remove_all(m_strPath, ignored);
}

bool CSimProcess::Start(const std::vector<std::string>& options)
{
    int out[2];
    if (pipe(out) != 0)
        return false;
    m_pid = Spawn(TESSARIN_SIM_PATH, options, "", {-1, out[1]}, {out[0], out[1]});
    close(out[1]);
    // Ready once its first line is out.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    char c = 0;
    while (m_pid > 0 && c != '\n' && Clock::now() < deadline) {
        pollfd pfd = {out[0], POLLIN, 0};
        if (poll(&pfd, 1, 100) > 0 && read(out[0], &c, 1) != 1)
            break;
    }
    close(out[0]);
    return c == '\n';
}

int CSimProcess::Stop()
{
    if (m_pid <= 0)
        return -1;
    kill(m_pid, SIGTERM);
    const pid_t pid = m_pid;
    m_pid = -1;
    return Wait(pid);
}

void CSimProcess::Kill()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        Wait(m_pid);
    }
    m_pid = -1;
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
    const pid_t pid = Spawn(program, args, cwd, {in[0], out[1], err[1]}, {in[0], in[1], out[0], out[1], err[0], err[1]});
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // The commands are short: they fit the pipe at once. A program that ended already
    // takes none, and that is for the test to judge by its output.
    const ssize_t written = input.empty() ? 0 : write(in[1], input.data(), input.size());
    (void)written;
    if (!keepInputOpen) {
        close(in[1]);
        in[1] = -1;
    }
    const auto start = Clock::now();
    bool termSent = false;
    int open[2] = {out[0], err[0]};
    std::string* text[2] = {&result.out, &result.err};
    while (open[0] >= 0 || open[1] >= 0) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (termAfterSeconds > 0 && !termSent && elapsed >= termAfterSeconds)
            termSent = kill(pid, SIGTERM) == 0;
        if (elapsed > 30) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{open[0], POLLIN, 0}, {open[1], POLLIN, 0}};
        if (poll(fds, 2, 50) <= 0)
            continue;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!fds[i].revents)
                continue;
            const ssize_t n = read(open[i], buffer, sizeof buffer);
            if (n <= 0)
                open[i] = -1;
            else
                text[i]->append(buffer, static_cast<size_t>(n));
        }
    }
    result.status = Wait(pid);
    for (int fd : {in[1], out[0], err[0]})
        if (fd >= 0)
            close(fd);
    return result;
}

std::vector<std::string> ReadLines(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void WriteText(const std::string& file, const std::string& text)
{
    std::ofstream(file) << text;
}

bool FileExists(const std::string& file)
{
    return std::filesystem::exists(file);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
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
