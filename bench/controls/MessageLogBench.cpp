// Message Log at 1, 100 000 and 1 000 000 rows (and any counts given as arguments, such
// as 100000000): one full paint, one append, and the memory a row costs against its
// text. Needs a display (run under xvfb-run; GDK_SCALE=2 for a high-resolution screen).

#include "bench/controls/PumpEvents.h"
#include "controls/MessageLogCtrl.h"

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/panel.h>
#include <wx/utils.h>

#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t ResidentBytes()
{
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(f);
    return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// A log line in tab form as the main window hands it over: time, direction, address,
// padded name and a varying number of data bytes.
std::string Line(int i)
{
    static const char* const names[] = {"REF_REQ            ", "BLIND_NODE_FIND_RSP", "XY_RSSI_RSP        ",
                                        "PING_RESPONSE      "};
    char head[64];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d\t|-->|\t0x%04X\t%s\t", (i / 3600) % 24,
                  (i / 60) % 60, i % 60, i % 1000, 0x1000 + i % 97, names[i % 4]);
    std::string s = head;
    const int bytes = 4 + i % 20;
    for (int b = 0; b < bytes; ++b) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", (i + b) & 0xFF);
        s += hex;
    }
    return s;
}

struct Figures {
    int rows;
    double paintFollowUs, paintFollowCpuUs, paintRowsCpuUs, paintMiddleUs, appendUs, appendStringUs,
        appendAloneUs, bytesPerRow, textPerRow, residentPerRow, clearMs;
};

double ThreadCpuMicros()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

struct PaintCost {
    double wallUs, cpuUs;
};

// Times paints: Update() paints synchronously; the count proves each one ran. Wall time
// includes waiting for the X server; CPU time is this thread's alone. `area` is the
// part invalidated, the whole control when empty.
PaintCost TimePaint(CMessageLogCtrl* log, int* paints, const wxRect& area = wxRect())
{
    const int rounds = 200;
    auto refresh = [&] {
        if (area.IsEmpty())
            log->Refresh();
        else
            log->RefreshRect(area, false);
        log->Update();
    };
    for (int i = 0; i < 10; ++i)
        refresh();
    const int before = *paints;
    const double cpu0 = ThreadCpuMicros();
    const auto t0 = Clock::now();
    for (int i = 0; i < rounds; ++i)
        refresh();
    const PaintCost cost{Micros(Clock::now() - t0) / rounds, (ThreadCpuMicros() - cpu0) / rounds};
    if (*paints - before != rounds)
        std::fprintf(stderr, "warning: %d paints for %d refreshes\n", *paints - before, rounds);
    return cost;
}

Figures Measure(wxWindow* parent, int rows)
{
    Figures f{};
    f.rows = rows;

    auto* log = new CMessageLogCtrl(parent, wxID_ANY, wxPoint(10, 10), wxSize(600, 420));
    const char* titles[] = {"Time", "Dir", "Addr", "Message", "Payload"};
    const int widths[] = {80, 30, 50, 140, 0};
    for (int i = 0; i < 5; ++i)
        log->InsertColumn(titles[i], widths[i], i);
    int paints = 0;
    log->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& e) {
        ++paints;
        e.Skip();
    });
    Pump(300);

    const size_t heap0 = HeapInUse();
    const size_t rss0 = ResidentBytes();
    size_t textBytes = 0;
    std::string line;
    for (int i = 0; i < rows; ++i) {
        line = Line(i);
        textBytes += line.size();
        log->InsertRow(line.c_str(), -1);
    }
    f.bytesPerRow = double(HeapInUse() - heap0) / rows;
    f.residentPerRow = double(ResidentBytes() - rss0) / rows;
    f.textPerRow = double(textBytes) / rows;
    Pump(100);

    const PaintCost follow = TimePaint(log, &paints);
    f.paintFollowUs = follow.wallUs;
    f.paintFollowCpuUs = follow.cpuUs;
    const wxSize cs = log->GetClientSize();
    f.paintRowsCpuUs =
        TimePaint(log, &paints,
                  wxRect(0, CMessageLogCtrl::kHeaderHeight, cs.x, cs.y - CMessageLogCtrl::kHeaderHeight))
            .cpuUs;
    log->SetCurSel(rows / 2);
    Pump(50);
    f.paintMiddleUs = TimePaint(log, &paints).wallUs;

    // A burst of appends at the end, as in a capture: paints and the scroll bar follow
    // at most once per interval.
    const int appends = 20000;
    const std::string extra = Line(rows);
    const auto t0 = Clock::now();
    for (int i = 0; i < appends; ++i)
        log->InsertRow(extra.c_str(), -1);
    f.appendUs = Micros(Clock::now() - t0) / appends;
    const wxString wide = wxString::FromUTF8(extra.c_str());
    const auto t1 = Clock::now();
    for (int i = 0; i < appends; ++i)
        log->InsertRow(wide, -1);
    f.appendStringUs = Micros(Clock::now() - t1) / appends;
    Pump(100);

    // A row after a pause goes to the scroll bar and the screen at once. The pause must
    // outlast the longest repaint interval of a stream.
    Pump(400);
    const int alone = 40;
    double aloneUs = 0;
    for (int i = 0; i < alone; ++i) {
        const auto t = Clock::now();
        log->InsertRow(extra.c_str(), -1);
        aloneUs += Micros(Clock::now() - t);
        Pump(60);
    }
    f.appendAloneUs = aloneUs / alone;

    const auto t2 = Clock::now();
    log->DeleteAllRows();
    f.clearMs = Micros(Clock::now() - t2) / 1000.0;
    log->Destroy();
    Pump(50);
    return f;
}
double CpuSeconds()
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Rows arriving as in a capture, a few every 10 ms, with the event loop running:
// paints per second and this process's CPU share.
void Stream(wxWindow* parent, int rowsPerSecond)
{
    auto* log = new CMessageLogCtrl(parent, wxID_ANY, wxPoint(10, 10), wxSize(600, 420));
    const char* titles[] = {"Time", "Dir", "Addr", "Message", "Payload"};
    const int widths[] = {80, 30, 50, 140, 0};
    for (int i = 0; i < 5; ++i)
        log->InsertColumn(titles[i], widths[i], i);
    int paints = 0;
    log->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& e) {
        ++paints;
        e.Skip();
    });
    Pump(300);
    const int seconds = 3;
    const int perTick = rowsPerSecond / 100;
    int rows = 0;
    paints = 0;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    auto next = t0;
    while (Clock::now() - t0 < std::chrono::seconds(seconds)) {
        next += std::chrono::milliseconds(10);
        for (int i = 0; i < perTick; ++i, ++rows)
            log->InsertRow(Line(rows).c_str(), -1);
        while (Clock::now() < next) {
            wxTheApp->Yield(true);
            wxMilliSleep(1);
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("stream %5d rows/s: %4.0f paints/s, %3.0f%% CPU\n", rowsPerSecond, paints / elapsed,
                100 * (CpuSeconds() - cpu0) / elapsed);
    log->Destroy();
    Pump(50);
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
    auto* panel = new wxPanel(frame);
    frame->Show();
    Pump(300);

    std::printf("%9s %12s %11s %11s %12s %10s %12s %12s %11s %10s %11s %9s\n", "rows", "paint end", "cpu",
                "rows cpu", "paint mid", "append", "append wx", "append alone", "heap/row", "text/row",
                "rss/row", "clear");
    std::vector<int> counts = {1, 100000, 1000000};
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    for (int rows : counts) {
        const Figures f = Measure(panel, rows);
        std::printf(
            "%9d %9.1f us %8.1f us %8.1f us %9.1f us %7.2f us %9.2f us %9.2f us "
            "%8.1f B %8.1f B %9.1f B %6.1f ms\n",
            f.rows, f.paintFollowUs, f.paintFollowCpuUs, f.paintRowsCpuUs, f.paintMiddleUs, f.appendUs,
            f.appendStringUs, f.appendAloneUs, f.bytesPerRow, f.textPerRow, f.residentPerRow, f.clearMs);
    }
    for (int rate : {100, 1000})
        Stream(panel, rate);
    std::printf(
        "paint: Refresh + Update of the whole control, 600 x 420, the view at the end or\n"
        "in the middle, wall time; cpu: the same paint's thread CPU; rows cpu: the rows\n"
        "alone, without the header; append: InsertRow at the end of the full control, UTF-8 or\n"
        "wxString; heap/row: heap growth while filling over rows (one row shows a\n"
        "whole 256 KiB text block); text/row: the row's bytes without its NUL.\n");
    frame->Destroy();
    Pump(50);
    wxEntryCleanup();
    return 0;
}
