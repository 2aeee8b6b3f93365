// Start-up time of the main window to its first paint: the toolkit's own start once,
// then, for each of several windows in turn, construction, creation (template, toolbar,
// status bar, Message Log, engine connection, COM port scan, settings, first layout)
// and showing, up to the first paint of the client area and of the Message Log.
// Needs a display: xvfb-run -a build/bench/window/tessarin-bench-window [runs]

#include <wx/app.h>
#include <wx/init.h>
#include <wx/panel.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/TessarinDlg.h"
#include "res/Resources.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Run {
    double create = 0;   // constructor and Create: the window exists, hidden
    double paint = 0;    // from the start to the first paint of both client and log
};

bool RunOnce(Run* run)
{
    const Clock::time_point start = Clock::now();
    auto* dlg = new CTessarinDlg;
    if (!dlg->Create()) {
        delete dlg;
        return false;
    }
    run->create = Ms(start, Clock::now());

    Clock::time_point clientPainted{}, logPainted{};
    dlg->FindWindow(IDC_MESSAGE_LOG_GROUP)->GetParent()->Bind(wxEVT_PAINT, [&](wxPaintEvent& e) {
        if (clientPainted == Clock::time_point{})
            clientPainted = Clock::now();
        e.Skip();
    });
    dlg->GetMessageLog().Bind(wxEVT_PAINT, [&](wxPaintEvent& e) {
        if (logPainted == Clock::time_point{})
            logPainted = Clock::now();
        e.Skip();
    });
    dlg->Show();
    const Clock::time_point deadline = start + std::chrono::seconds(10);
    while ((clientPainted == Clock::time_point{} || logPainted == Clock::time_point{}) &&
           Clock::now() < deadline) {
        wxTheApp->Yield(true);
        wxTheApp->ProcessIdle();
    }
    const bool painted = clientPainted != Clock::time_point{} && logPainted != Clock::time_point{};
    if (painted)
        run->paint = Ms(start, std::max(clientPainted, logPainted));
    delete dlg;
    // Let the toolkit finish with the old window before the next one is timed.
    for (int i = 0; i < 20; ++i)
        wxTheApp->Yield(true);
    return painted;
}

}   // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    // Settings and COM names in a scratch folder: no real port is probed.
    char scratch[] = "/tmp/tessarin-bench-window-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string devices = std::string(scratch) + "/dev";
    std::error_code ec;
    std::filesystem::create_directory(devices, ec);
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("TESSARIN_DEVICE_DIR", devices.c_str(), 1);

    const Clock::time_point toolkitStart = Clock::now();
    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets: is there a display?\n");
        return 1;
    }
    const double toolkit = Ms(toolkitStart, Clock::now());

    std::vector<Run> results;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!RunOnce(&run)) {
            std::fprintf(stderr, "run %d: the window did not paint within 10 s\n", i + 1);
            return 1;
        }
        results.push_back(run);
    }

    std::printf("toolkit start (once per process): %.1f ms\n", toolkit);
    std::printf("first window: created %.1f ms, first paint %.1f ms\n", results[0].create, results[0].paint);
    std::vector<double> paints, creates;
    for (const Run& r : results) {
        paints.push_back(r.paint);
        creates.push_back(r.create);
    }
    std::sort(paints.begin(), paints.end());
    std::sort(creates.begin(), creates.end());
    std::printf("over %d windows: created median %.1f ms; first paint min %.1f, median %.1f, max %.1f ms\n",
                runs, creates[creates.size() / 2], paints.front(), paints[paints.size() / 2], paints.back());
    std::printf("start-up to first paint, toolkit included: %.1f ms\n", toolkit + results[0].paint);

    wxEntryCleanup();
    std::filesystem::remove_all(scratch, ec);
    return 0;
}
