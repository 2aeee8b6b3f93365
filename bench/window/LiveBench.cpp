// Live capture in the main window against the simulator's flood on a pseudo-terminal:
// rows shown per second, lines lost, the longest time the window's event loop goes
// without running a timer, memory after a million rows and CPU at the dongle's line rate.
// Run under a display: xvfb-run -a tessarin-bench-live [--rows N] [--cpu-seconds S]
//   [--only TEXT] (the runs whose title holds TEXT) [--hide-log] (no Message Log painting)

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <memory>
#include <malloc.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/TessarinDlg.h"
#include "app/settings/TessarinSettings.h"
#include "res/Resources.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// CPU of the calling thread: the window's, when called from the event loop.
double ThreadCpuSeconds()
{
    timespec t;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0)
        return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double CpuSeconds()
{
    rusage use;
    if (getrusage(RUSAGE_SELF, &use) != 0)
        return 0;
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Resident memory of this process in bytes, from /proc.
long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Bytes a process has written (the simulator's frames on the pty, and its one line).
long WrittenBytes(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:")
            return value;
    }
    return 0;
}

long HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>(info.uordblks + info.hblkhd);
}

long CountLines(const std::string& file)
{
    std::ifstream in(file);
    return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
}

class CSim {
public:
    bool Start(std::vector<std::string> options)
    {
        int out[2];
        if (pipe(out) != 0)
            return false;
        const std::string program = TESSARIN_SIM_PATH;
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& o : options)
            argv.push_back(&o[0]);
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            // Ends with the benchmark, however that ends.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        char c = 0;
        pollfd pfd = {out[0], POLLIN, 0};
        // The first line says the link is in place.
        while (poll(&pfd, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
        }
        close(out[0]);
        return m_pid > 0 && c == '\n';
    }
    long Written() const { return m_pid > 0 ? WrittenBytes(m_pid) : 0; }
    void Stop()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        int status;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    ~CSim() { Stop(); }

private:
    pid_t m_pid = -1;
};

// Runs the window's event loop; a 1 ms timer measures how long the loop goes without
// getting to a timer, and a 50 ms check decides when the run is over.
class CLoopProbe : public wxEvtHandler {
public:
    explicit CLoopProbe(std::function<bool()> done) : m_done(std::move(done))
    {
        m_tick.SetOwner(this, 1);
        m_check.SetOwner(this, 2);
        Bind(wxEVT_TIMER, &CLoopProbe::OnTick, this, 1);
        Bind(wxEVT_TIMER, &CLoopProbe::OnCheck, this, 2);
    }

    // With probe false only the check runs: a 1 ms timer costs CPU of its own.
    void Run(bool probe)
    {
        m_last = m_start = Clock::now();
        if (probe)
            m_tick.Start(1);
        m_check.Start(50);
        wxGUIEventLoop loop;
        m_pLoop = &loop;
        loop.Run();
        m_pLoop = nullptr;
        m_tick.Stop();
        m_check.Stop();
    }

    double MaxGapMs() const { return m_maxGap * 1e3; }
    // The same once the run is a second old: the start of a capture has one-off work
    // (first paints, scroll bars appearing, the first nodes) that this leaves out.
    double MaxSettledGapMs() const { return m_maxSettledGap * 1e3; }
    // Share of the run's gaps above 5 ms.
    long GapsOver5Ms() const { return m_nOver5; }
    long Ticks() const { return m_nTicks; }

private:
    void OnTick(wxTimerEvent&)
    {
        const Clock::time_point now = Clock::now();
        const double gap = Seconds(now - m_last);
        m_last = now;
        m_maxGap = std::max(m_maxGap, gap);
        if (Seconds(now - m_start) > 1.0)
            m_maxSettledGap = std::max(m_maxSettledGap, gap);
        if (gap > 0.005)
            ++m_nOver5;
        ++m_nTicks;
    }
    void OnCheck(wxTimerEvent&)
    {
        if (m_pLoop && m_done())
            m_pLoop->Exit();
    }

    std::function<bool()> m_done;
    wxTimer m_tick, m_check;
    wxGUIEventLoop* m_pLoop = nullptr;
    Clock::time_point m_last, m_start;
    double m_maxGap = 0;
    double m_maxSettledGap = 0;
    long m_nOver5 = 0;
    long m_nTicks = 0;
};

struct RunResult {
    long logged = 0;      // lines in the log file: every line the engine formed
    long rows = 0;        // rows in the Message Log
    long announced = 0;   // lines the engine queued for the window
    long bytes = 0;       // bytes the simulator wrote to the line
    double seconds = 0;   // from Start to the last row
    double cpuSeconds = 0;
    double windowCpuSeconds = 0;
    double maxGapMs = 0;
    double maxSettledGapMs = 0;
    long gapsOver5 = 0;
    long ticks = 0;
    long rssBefore = 0, rssAfter = 0;
    long heapBefore = 0, heapAfter = 0;   // bytes the heap hands out
};

bool g_bHideLog = false;   // --hide-log: tells the Message Log's painting from the rest

// A capture in a fresh main window against a flood of `frames` frames, at `rate` frames a
// second (0: as fast as the line takes them). Ends when the flood is in and shown, or two
// seconds after the last line (the rest was lost). With frames 0 the simulator only
// answers, and the run lasts quietSeconds. probeLoop runs the 1 ms gap probe. With
// stopAtRows above 0 the run ends once the Message Log holds that many rows.
RunResult Capture(const std::string& folder, long frames, long rate, bool probeLoop, double quietSeconds,
                  long stopAtRows, bool networkOnly)
{
    RunResult r;
    CSim sim;
    std::vector<std::string> options = {"--com", "21", "--seed", "5"};
    if (networkOnly)
        options.push_back("--network-only");
    if (frames > 0) {
        options.push_back("--flood");
        options.push_back(std::to_string(frames));
    } else {
        options.push_back("--quiet");
    }
    if (rate > 0) {
        options.push_back("--rate");
        options.push_back(std::to_string(rate));
    }
    if (!sim.Start(options)) {
        std::fprintf(stderr, "the simulator did not start\n");
        std::exit(1);
    }

    {
        // The window takes its log file from the settings, as at a start of the program.
        CTessarinSettings settings;
        settings.Load();
        std::snprintf(settings.m_szLogFile, sizeof settings.m_szLogFile, "%s/live.log", folder.c_str());
        settings.m_nAppendToLogFile = 0;
        if (!settings.Save())
            std::fprintf(stderr, "the settings could not be saved\n");
    }
    auto dlg = std::make_unique<CTessarinDlg>();
    if (!dlg->Create()) {
        std::fprintf(stderr, "the window was not created\n");
        std::exit(1);
    }
    dlg->Show();
    if (g_bHideLog)
        dlg->GetMessageLog().Hide();
    dlg->OnRefreshComPorts();
    if (dlg->GetComPort() != "COM21") {
        std::fprintf(stderr, "COM21 is not offered (\"%s\")\n", dlg->GetComPort().c_str());
        std::exit(1);
    }
    wxTheApp->Yield(true);

    r.rssBefore = ResidentBytes();
    r.heapBefore = HeapInUse();
    const long expected = frames + 4;   // PING, its answer, GET_DEVICE_INFO, its answer
    Clock::time_point lastChange = Clock::now();
    long lastCount = -1;
    long lastRows = -1;
    double lastCpu = 0;
    double lastWindowCpu = 0;
    CDongleLink& link = dlg->GetLink();
    CMessageLogCtrl& log = dlg->GetMessageLog();
    const double cpu0 = CpuSeconds();
    const double windowCpu0 = ThreadCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    CDataBuffer* buffer = nullptr;
    dlg->GetLink().GetDataBuffer(&buffer);
    auto done = [&] {
        const long count = link.GetLineCounter();
        if (count != lastCount || log.GetRowCount() != lastRows) {
            lastCount = count;
            lastRows = log.GetRowCount();
            lastChange = Clock::now();
            lastCpu = CpuSeconds();
            lastWindowCpu = ThreadCpuSeconds();
        }
        if (stopAtRows > 0 && log.GetRowCount() >= stopAtRows)
            return true;
        if (frames == 0) {
            lastChange = Clock::now();
            lastCpu = CpuSeconds();
            lastWindowCpu = ThreadCpuSeconds();
            return Seconds(lastChange - t0) >= quietSeconds;
        }
        const bool drained = log.GetRowCount() == count && buffer->GetCount() == 0;
        // Every line in, or none for two seconds (the rest was lost).
        return drained && (count >= expected || Seconds(Clock::now() - lastChange) > 2.0);
    };

    dlg->OnStartCapture();
    CLoopProbe probe(done);
    probe.Run(probeLoop);
    // Up to the last line shown: a lossy run ends with two quiet seconds.
    r.seconds = Seconds(lastChange - t0);
    r.cpuSeconds = lastCpu - cpu0;
    r.windowCpuSeconds = lastWindowCpu - windowCpu0;
    r.rows = log.GetRowCount();
    r.announced = link.GetLineCounter();
    r.bytes = sim.Written();
    r.maxGapMs = probe.MaxGapMs();
    r.maxSettledGapMs = probe.MaxSettledGapMs();
    r.gapsOver5 = probe.GapsOver5Ms();
    r.ticks = probe.Ticks();
    r.rssAfter = ResidentBytes();
    r.heapAfter = HeapInUse();
    dlg->OnStopCapture();
    sim.Stop();
    r.logged = CountLines(dlg->GetLogFile());
    dlg.reset();
    wxTheApp->Yield(true);
    return r;
}

void Print(const char* title, const RunResult& r)
{
    const long lost = r.logged - r.announced;
    std::printf("%s\n", title);
    std::printf("  rows shown: %ld of %ld lines in %.2f s: %.0f rows/s; lost (log file only): %ld\n", r.rows,
                r.logged, r.seconds, r.seconds > 0 ? static_cast<double>(r.rows) / r.seconds : 0.0, lost);
    if (r.ticks > 0)
        std::printf(
            "  event loop: longest gap %.1f ms (%.1f ms after the first second), %ld of %ld 1-ms ticks "
            "late by over 5 ms\n",
            r.maxGapMs, r.maxSettledGapMs, r.gapsOver5, r.ticks);
    const double perRow = r.rows > 0 ? 1e6 / static_cast<double>(r.rows) : 0.0;
    std::printf(
        "  CPU: window thread %.1f %% of a core (%.1f us per row), whole process %.1f %% (%.1f us per row)\n",
        r.seconds > 0 ? 100.0 * r.windowCpuSeconds / r.seconds : 0.0, r.windowCpuSeconds * perRow,
        r.seconds > 0 ? 100.0 * r.cpuSeconds / r.seconds : 0.0, r.cpuSeconds * perRow);
    std::printf(
        "  memory: %.1f MB resident before, %.1f MB after (+%.1f bytes per row, %.2f per byte received)\n",
        static_cast<double>(r.rssBefore) / 1e6, static_cast<double>(r.rssAfter) / 1e6,
        r.rows > 0 ? static_cast<double>(r.rssAfter - r.rssBefore) / static_cast<double>(r.rows) : 0.0,
        r.bytes > 0 ? static_cast<double>(r.rssAfter - r.rssBefore) / static_cast<double>(r.bytes) : 0.0);
    std::printf(
        "  heap: %+.1f MB (%+.1f bytes per row)\n", static_cast<double>(r.heapAfter - r.heapBefore) / 1e6,
        r.rows > 0 ? static_cast<double>(r.heapAfter - r.heapBefore) / static_cast<double>(r.rows) : 0.0);
    std::fflush(stdout);
}

}   // namespace

int main(int argc, char** argv)
{
    long millionRows = 1000000;
    double cpuSeconds = 20;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hide-log") == 0) {
            g_bHideLog = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (std::strcmp(argv[i], "--rows") == 0)
            millionRows = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--cpu-seconds") == 0)
            cpuSeconds = std::atof(argv[i + 1]);
        else if (std::strcmp(argv[i], "--only") == 0)
            only = argv[i + 1];
        ++i;
    }
    auto wanted = [&](const char* title) { return only.empty() || std::strstr(title, only.c_str()); };

    char scratch[] = "/tmp/tessarin-bench-live-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = scratch;
    std::error_code ec;
    std::filesystem::create_directory(folder + "/dev", ec);
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("TESSARIN_DEVICE_DIR", (folder + "/dev").c_str(), 1);
    setenv("GTK_OVERLAY_SCROLLING", "0", 1);

    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets: is there a display?\n");
        return 1;
    }

    // The dongle's own pace: 38400 baud carries about 300 short frames a second.
    const long lineRate = 300;
    struct Phase {
        const char* title;
        long frames, rate;
        bool probe;
        long stopAtRows;
        bool networkOnly = false;   // no odd frames from unknown addresses
    };
    const Phase phases[] = {
        {"CPU of a window that captures a quiet line", 0, 0, false, 0},
        {"CPU paced at the line rate (300 frames/s)", static_cast<long>(lineRate * cpuSeconds), lineRate,
         false, 0},
        {"CPU paced at the line rate, a network at work (300 frames/s)",
         static_cast<long>(lineRate * cpuSeconds), lineRate, false, 0, true},
        {"latency paced at the line rate (300 frames/s)", 3000, lineRate, true, 0},
        {"ten times the line rate, 1000000 frames at 3000 frames/s", 1000000, 3000, false, 0},
        {"latency paced at 5000 frames/s", 50000, 5000, true, 0},
        {"latency paced at 20000 frames/s", 100000, 20000, true, 0},
        {"latency in a flood at full speed, 1000000 frames", 1000000, 0, true, 0},
        {"a million rows, paced at 15000 frames/s", millionRows * 3 / 2, 15000, false, millionRows},
    };
    for (const Phase& p : phases) {
        if (wanted(p.title))
            Print(p.title,
                  Capture(folder, p.frames, p.rate, p.probe, cpuSeconds, p.stopAtRows, p.networkOnly));
    }

    wxEntryCleanup();
    std::filesystem::remove_all(folder, ec);   // a leftover scratch folder harms nothing
    return 0;
}
