// The Message Log's filter at 1 000 000 rows: how long a new filter takes to show its
// first page and to know its whole count, the longest hold of the event loop on the way,
// and the paint of a filtered view. Needs a display (run under xvfb-run).

#include "bench/controls/PumpEvents.h"
#include "controls/MessageLogCtrl.h"

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/panel.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {
using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A log line in tab form as the main window hands it over: 97 nodes, four kinds, both
// directions, 4 to 23 data bytes.
std::string Line(int i)
{
    static const char* const names[] = {"REF_RSP            ", "BLIND_RSP          ", "XY_RSSI_REQ        ",
                                        "PING_RESPONSE      "};
    char head[80];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d:%03d \t%s\t 0x%04X \t%s\t", (i / 3600000) % 24,
                  (i / 60000) % 60, (i / 1000) % 60, i % 1000, i % 5 ? "-->" : "<--", 0x1000 + i % 97,
                  names[i % 4]);
    std::string s = head;
    for (int b = 0; b < 4 + i % 20; ++b) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", (i * 7 + b) & 0xFF);
        s += hex;
    }
    return s;
}

struct FilterFigures {
    double firstPageMs, countMs, longestStepMs, paintUs;
    int matches;
};

FilterFigures Filter(CMessageLogCtrl* log, int* paints, const char* query)
{
    FilterFigures f{};
    // From the user's keystroke to the first page on screen: the filter's first slice
    // and one paint.
    const int before = *paints;
    const auto t0 = Clock::now();
    log->SetFilter(query);
    log->Update();
    f.firstPageMs = Millis(Clock::now() - t0);
    if (*paints == before)
        std::fprintf(stderr, "warning: no paint after the filter\n");
    // The rest comes in idle time; each step is a hold of the event loop.
    while (log->IsFiltering()) {
        const auto s = Clock::now();
        wxTheApp->ProcessIdle();
        f.longestStepMs = std::max(f.longestStepMs, Millis(Clock::now() - s));
        wxTheApp->Yield(true);
    }
    f.countMs = Millis(Clock::now() - t0);
    f.matches = log->GetRowCount();

    const int rounds = 100;
    const auto p0 = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        log->Refresh();
        log->Update();
    }
    f.paintUs = Millis(Clock::now() - p0) * 1000 / rounds;
    return f;
}
}   // namespace

int main(int argc, char** argv)
{
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    auto* frame = new wxFrame(nullptr, wxID_ANY, "bench", wxPoint(0, 0), wxSize(700, 500));
    auto* log = new CMessageLogCtrl(new wxPanel(frame), wxID_ANY, wxPoint(10, 10), wxSize(600, 420));
    const char* titles[] = {"Time", "Dir", "Addr", "Message", "Payload"};
    const int widths[] = {80, 30, 50, 140, 0};
    for (int i = 0; i < 5; ++i)
        log->InsertColumn(titles[i], widths[i], i);
    int paints = 0;
    log->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& e) {
        ++paints;
        e.Skip();
    });
    frame->Show();
    Pump(300);
    const int rows = 1000000;
    for (int i = 0; i < rows; ++i)
        log->InsertRow(Line(i).c_str(), -1);
    Pump(300);

    std::printf("%-32s %9s %11s %10s %11s %10s\n", "filter (1 000 000 rows)", "matches", "first page",
                "count", "longest step", "paint");
    for (const char* query :
         {"node:0x1010", "msg:ping", "dir:out", "\"A5 AC\"", "node:0x1010 \"F0 F1\"", "node:0xFFFF", ""}) {
        const FilterFigures f = Filter(log, &paints, query);
        std::printf("%-32s %9d %8.1f ms %7.1f ms %9.1f ms %7.0f us\n", *query ? query : "(none)", f.matches,
                    f.firstPageMs, f.countMs, f.longestStepMs, f.paintUs);
    }
    std::printf(
        "first page: SetFilter and the paint that follows; count: until every row was\n"
        "looked at, the event loop running; longest step: the longest idle slice of that;\n"
        "paint: Refresh + Update of the filtered control, 600 x 420, wall time.\n");
    frame->Destroy();
    Pump(50);
    wxEntryCleanup();
    return 0;
}
