// tessarin-capture: a capture without a window. It runs a capture exactly as the
// window's Start does, prints every line it takes from the Data Buffer on standard
// output and takes node commands on standard input.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "link/DataBuffer.h"
#include "link/DongleLink.h"
#include "link/LinkNotify.h"
#include "tools/CaptureCommands.h"

namespace {

using Clock = std::chrono::steady_clock;

const char PROGRAM[] = "tessarin-capture";
const char PING_FAILED[] =
    "Not able to send PING!\nNote that \"Capture\" should be started before PING can be sent.";

int g_nSignalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const int saved = errno;
    const char c = 1;
    // A byte already waiting says the same; a full pipe loses nothing.
    if (write(g_nSignalPipe[1], &c, 1) < 0) {
    }
    errno = saved;
}

bool MakePipe(int fds[2])
{
    if (pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        const int flags = fcntl(fds[i], F_GETFL);
        if (flags < 0 || fcntl(fds[i], F_SETFL, flags | O_NONBLOCK) != 0)
            return false;
        (void)fcntl(fds[i], F_SETFD, FD_CLOEXEC);   // only matters if we ever start a child
    }
    return true;
}

void DrainPipe(int fd)
{
    char sink[64];
    while (read(fd, sink, sizeof sink) > 0) {
    }
}

// One announcement per queued line, counted; the main thread is woken only when the
// count leaves zero, so a burst of lines costs one wake-up, and nothing here can block.
class CLineReadyPipe : public ILineReadyNotify {
public:
    bool Open() { return MakePipe(m_fds); }
    int WakeFd() const { return m_fds[0]; }

    void PostLineReady() override
    {
        if (m_nPending.fetch_add(1) == 0) {
            const char c = 1;
            // Full means a wake-up is already on its way.
            if (write(m_fds[1], &c, 1) < 0) {
            }
        }
    }

    // The announcements since the last call; the caller takes that many lines.
    int Take()
    {
        DrainPipe(m_fds[0]);
        return m_nPending.exchange(0);
    }

private:
    int m_fds[2] = {-1, -1};
    std::atomic<int> m_nPending{0};
};

class CStderrWarnings : public IWarningSink {
public:
    void ShowWarning(const char* text) override
    {
        // One call per warning: stderr is unbuffered and locked per call, so warnings from
        // two threads never mix.
        std::fprintf(stderr, "%s: %s\n", PROGRAM, text);
    }
};

void PrintUsage(FILE* out)
{
    std::fprintf(out,
                 "Usage: %s COMn [--log FILE] [--append] [--seconds S]\n"
                 "\n"
                 "Captures from the Location Dongle on COMn as the window's Start does (the\n"
                 "capture, then a PING). Every log line goes to standard output and to the log\n"
                 "file (default \"Tessarin.log\"; emptied first unless --append).\n"
                 "Stops at the end of standard input plus one second, on SIGINT, SIGTERM or\n"
                 "SIGHUP, after S seconds, or when the port goes away (a dongle unplugged).\n"
                 "To capture with no commands to give, keep standard input open or give\n"
                 "--seconds.\n"
                 "Exit status: 0 when a capture ran, 1 when it could not start.\n"
                 "\n%s",
                 PROGRAM, CAPTURE_COMMAND_HELP);
}

struct Options {
    std::string strPort;
    std::string strLogFile = "Tessarin.log";
    bool bAppend = false;
    double dSeconds = 0;   // 0: no limit
};

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            PrintUsage(stdout);
            std::exit(0);
        } else if (arg == "--log") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s: --log needs a file name\n", PROGRAM);
                return false;
            }
            o.strLogFile = argv[++i];
        } else if (arg == "--append") {
            o.bAppend = true;
        } else if (arg == "--seconds") {
            char* end = nullptr;
            const char* text = i + 1 < argc ? argv[i + 1] : "";
            errno = 0;
            o.dSeconds = std::strtod(text, &end);
            if (!*text || *end || errno != 0 || !(o.dSeconds > 0) || o.dSeconds > 1e9) {
                std::fprintf(stderr, "%s: --seconds needs a number of seconds above 0\n", PROGRAM);
                return false;
            }
            ++i;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "%s: unknown option %s\n", PROGRAM, arg.c_str());
            return false;
        } else if (o.strPort.empty()) {
            o.strPort = arg;
        } else {
            std::fprintf(stderr, "%s: one port only (%s, then %s)\n", PROGRAM,
                         o.strPort.c_str(), arg.c_str());
            return false;
        }
    }
    if (o.strPort.empty()) {
        std::fprintf(stderr, "%s: which port? (e.g. COM21)\n", PROGRAM);
        return false;
    }
    return true;
}

void CatchStopSignals()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        // Started under nohup (SIGHUP ignored): stay ignored, as the user asked.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN && sig == SIGHUP)
            continue;
        sigaction(sig, &sa, nullptr);
    }
    // A closed standard output shows as a failed write, handled where it happens.
    signal(SIGPIPE, SIG_IGN);
}

class CCaptureTool {
public:
    explicit CCaptureTool(const Options& options) : m_options(options) {}

    // The exit status.
    int Run()
    {
        if (!m_notify.Open()) {
            std::fprintf(stderr, "%s: cannot make a pipe: %s\n", PROGRAM, std::strerror(errno));
            return 1;
        }
        m_link.SetWarningSink(&m_warnings);
        m_link.SetNotifyWindow(&m_notify);
        m_link.GetDataBuffer(&m_pDataBuffer);

        if (!m_link.StartCapture(m_options.strPort.c_str(), m_options.strLogFile.c_str(),
                                 m_options.bAppend ? 1 : 0)) {
            TakeLines();   // nothing can be queued, but never leave an announced line behind
            return 1;
        }
        Send(DongleMessage());   // the PING that every start sends
        Loop();
        m_link.StopCapture();
        TakeLines();
        m_link.SetNotifyWindow(nullptr);
        return 0;
    }

private:
    void Loop()
    {
        const Clock::time_point start = Clock::now();
        Clock::time_point deadline = Clock::time_point::max();
        if (m_options.dSeconds > 0)
            deadline = start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(m_options.dSeconds));
        bool stdinOpen = true;
        while (!m_bQuit) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                break;
            if (m_link.IsDeviceGone()) {
                // Nothing more can come; a script that restarts us can do better than waiting.
                std::fprintf(stderr, "%s: %s has gone away (unplugged or hung up); stopping\n",
                             PROGRAM, m_options.strPort.c_str());
                break;
            }
            // Wakes now and then to notice a device that has gone.
            int timeout = 250;
            if (deadline != Clock::time_point::max())
                timeout = static_cast<int>(std::min<long long>(
                    timeout, std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));

            pollfd fds[3] = {{m_notify.WakeFd(), POLLIN, 0},
                             {g_nSignalPipe[0], POLLIN, 0},
                             {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
            const int ready = poll(fds, 3, timeout);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                std::fprintf(stderr, "%s: poll: %s\n", PROGRAM, std::strerror(errno));
                break;
            }
            if (fds[0].revents)
                TakeLines();
            if (fds[1].revents)
                break;
            if (fds[2].revents && !ReadCommands()) {
                stdinOpen = false;
                // A moment for the answers to the last commands.
                const Clock::time_point grace = Clock::now() + std::chrono::seconds(1);
                if (grace < deadline)
                    deadline = grace;
            }
        }
    }

    // False at the end of input.
    bool ReadCommands()
    {
        char chunk[4096];
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0)
            return errno == EINTR || errno == EAGAIN;
        if (n == 0) {
            if (!m_strPartial.empty())
                Command(m_strPartial);   // a last line without its line end
            m_strPartial.clear();
            return false;
        }
        m_strPartial.append(chunk, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t end; (end = m_strPartial.find('\n', start)) != std::string::npos;
             start = end + 1)
            Command(m_strPartial.substr(start, end - start));
        m_strPartial.erase(0, start);
        if (m_strPartial.size() > 64 * 1024) {
            std::fprintf(stderr, "%s: command line too long, ignored\n", PROGRAM);
            m_strPartial.clear();
        }
        return true;
    }

    void Command(const std::string& line)
    {
        DongleMessage msg;
        std::string error;
        switch (ParseCaptureCommand(line, msg, error)) {
        case CaptureCommand::SEND:
            Send(msg);
            break;
        case CaptureCommand::HELP:
            std::fputs(CAPTURE_COMMAND_HELP, stderr);
            break;
        case CaptureCommand::QUIT:
            m_bQuit = true;
            break;
        case CaptureCommand::INVALID:
            std::fprintf(stderr, "%s: %s\n", PROGRAM, error.c_str());
            break;
        case CaptureCommand::NONE:
            break;
        }
    }

    void Send(const DongleMessage& msg)
    {
        if (m_link.SendDongleMessage(msg))
            return;
        if (msg.word[0] == MSG_PING_REQUEST)
            std::fprintf(stderr, "%s: %s\n", PROGRAM, PING_FAILED);
        else
            std::fprintf(stderr, "%s: the message was not sent\n", PROGRAM);
    }

    // Exactly one line per announcement, as the window takes them.
    void TakeLines()
    {
        const int count = m_notify.Take();
        char line[CDataBuffer::SLOT_SIZE];
        for (int i = 0; i < count; ++i) {
            if (m_pDataBuffer->Get(line) != CDataBuffer::DONE) {
                std::fprintf(stderr, "%s: Not able to read Data Buffer!\n", PROGRAM);
                continue;
            }
            if (m_bStdoutGone)
                continue;
            std::fputs(line, stdout);
            std::fputc('\n', stdout);
        }
        if (count > 0 && !m_bStdoutGone && std::fflush(stdout) != 0) {
            if (errno == EPIPE) {
                // Whoever read our output has gone (| head): there is no one to serve.
                m_bStdoutGone = true;
                m_bQuit = true;
            } else if (!m_bStdoutWarned) {
                // The log file still has every line; say so once, not per line.
                std::fprintf(stderr, "%s: standard output: %s (the log file goes on)\n",
                             PROGRAM, std::strerror(errno));
                m_bStdoutWarned = true;
                std::clearerr(stdout);
            } else {
                std::clearerr(stdout);
            }
        }
    }

    Options m_options;
    CDongleLink m_link;
    CLineReadyPipe m_notify;
    CStderrWarnings m_warnings;
    CDataBuffer* m_pDataBuffer = nullptr;
    std::string m_strPartial;
    bool m_bQuit = false;
    bool m_bStdoutGone = false;
    bool m_bStdoutWarned = false;
};

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "Try %s --help\n", PROGRAM);
        return 1;
    }
    if (!MakePipe(g_nSignalPipe)) {
        std::fprintf(stderr, "%s: cannot make a pipe: %s\n", PROGRAM, std::strerror(errno));
        return 1;
    }
    CatchStopSignals();
    CCaptureTool tool(options);
    return tool.Run();
}
