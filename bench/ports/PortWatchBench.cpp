// The port watch in a window at rest: the process's CPU time over an idle stretch of its
// event loop (the status timer's ticks included, the watch sleeping in the kernel), then
// over the same stretch while another process makes and removes names in the device
// folder that the watch must ignore; and, for a port that comes and goes, the time
// until the list shows it (the watch's quiet time of 150 ms included).
// Needs a display: xvfb-run -a build/bench/ports/tessarin-bench-port-watch [seconds]

#include <wx/app.h>
#include <wx/choice.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/timer.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/TessarinDlg.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Runs the window's event loop until the condition holds (looked at every periodMs) or
// the time is up.
void RunUntil(const std::function<bool()>& done, double seconds, int periodMs)
{
    wxGUIEventLoop loop;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (done() || Clock::now() >= end)
            loop.Exit();
    });
    timer.Start(periodMs);
    loop.Run();
}

// Another process makes and removes names no serial device has, 100 a second, in the
// folder, until killed; its own CPU time is not ours.
pid_t Churn(const std::string& folder)
{
    const pid_t pid = fork();
    if (pid == 0) {
        for (int n = 0;; ++n) {
            const std::string name = folder + "/snd" + std::to_string(n % 8);
            if (rmdir(name.c_str()) != 0)
                mkdir(name.c_str(), 0755);
            usleep(10000);
        }
    }
    return pid;
}

}   // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10;
    char scratch[] = "/tmp/tessarin-bench-ports-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = scratch, devices = root + "/dev", links = root + "/tessarin/ports";
    std::filesystem::create_directories(devices);
    std::filesystem::create_directories(links);
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("TESSARIN_DEVICE_DIR", devices.c_str(), 1);

    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets: is there a display?\n");
        return 1;
    }
    auto* dlg = new CTessarinDlg;
    if (!dlg->Create()) {
        std::fprintf(stderr, "cannot create the window\n");
        return 1;
    }
    dlg->Show();
    const auto never = [] { return false; };
    RunUntil(never, 1, 100);   // shown and settled

    double cpu = CpuMs();
    RunUntil(never, seconds, 1000);
    const double idle = (CpuMs() - cpu) / seconds;

    const pid_t churn = Churn(devices);
    cpu = CpuMs();
    RunUntil(never, seconds, 1000);
    const double busy = (CpuMs() - cpu) / seconds;
    kill(churn, SIGKILL);
    waitpid(churn, nullptr, 0);

    int master = -1, slave = -1;
    char pty[128];
    if (openpty(&master, &slave, pty, nullptr, nullptr) != 0)
        return 1;
    std::vector<double> shown;
    for (int i = 0; i < 20; ++i) {
        const bool plug = i % 2 == 0;
        const Clock::time_point start = Clock::now();
        std::error_code ignored;
        if (plug)
            std::filesystem::create_symlink(pty, links + "/COM27", ignored);
        else
            std::filesystem::remove(links + "/COM27", ignored);
        RunUntil([&] { return (dlg->GetComPortCombo()->FindString("COM27") != wxNOT_FOUND) == plug; }, 5, 1);
        shown.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(shown.begin(), shown.end());

    std::printf("window at rest, watch on: %.2f ms CPU a second (%.3f%% of a core)\n", idle, idle / 10);
    std::printf("with 100 unrelated device names a second: %.2f ms CPU a second\n", busy);
    std::printf("a port plugged or unplugged, until the list shows it: median %.0f ms, max %.0f ms\n",
                shown[shown.size() / 2], shown.back());
    delete dlg;
    wxEntryCleanup();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
