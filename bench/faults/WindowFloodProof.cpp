// The window under a flood: the main window captures from COM21 (the simulator, started
// by scripts/prove-flood) until its log file holds the given number of lines, then
// stops. Prints the lines logged, the lines the Data Buffer refused, the rows the window
// holds, the rate, and the resident memory after the warm-up (a tenth of the lines) and
// at the end against what the rows added since take.
//   tessarin-prove-window-flood --log FILE --lines N [--timeout S] [--no-refusals]
// Exits 1 when the window's memory grew by more than its rows, when the lines stopped
// coming, or, with --no-refusals, when any line was refused.

#include <wx/app.h>
#include <wx/choice.h>
#include <wx/listbox.h>
#include <wx/timer.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/resource.h>

#include "app/TessarinDlg.h"
#include "app/settings/TessarinSettings.h"
#include "res/Resources.h"

namespace {

long RssKb()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld", &kb) == 1)
            break;
    std::fclose(f);   // read only
    return kb;
}

// Counts the lines and bytes a growing file holds, reading only what is new.
class CLineCounter {
public:
    explicit CLineCounter(const std::string& path) : m_strPath(path) {}
    long Lines()
    {
        if (m_pFile == nullptr)
            m_pFile = std::fopen(m_strPath.c_str(), "rb");
        if (m_pFile == nullptr)
            return 0;
        std::clearerr(m_pFile);
        char chunk[1 << 16];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, m_pFile)) > 0;) {
            m_nBytes += static_cast<long>(n);
            for (size_t i = 0; i < n; ++i)
                m_nLines += chunk[i] == '\n';
        }
        return m_nLines;
    }
    long Bytes() const { return m_nBytes; }
    ~CLineCounter()
    {
        if (m_pFile)
            std::fclose(m_pFile);   // read only
    }

private:
    std::string m_strPath;
    FILE* m_pFile = nullptr;
    long m_nLines = 0;
    long m_nBytes = 0;
};

using Clock = std::chrono::steady_clock;

double CpuSeconds()
{
    struct rusage usage;
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return 0;
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class CFloodApp : public wxApp {
public:
    bool OnInit() override
    {
        for (int i = 1; i < argc; ++i) {
            const std::string opt = argv[i].utf8_string();
            const std::string value = i + 1 < argc ? argv[i + 1].utf8_string() : std::string();
            if (opt == "--log")
                m_strLog = value, ++i;
            else if (opt == "--lines")
                m_nWant = std::atol(value.c_str()), ++i;
            else if (opt == "--timeout")
                m_nTimeout = std::atol(value.c_str()), ++i;
            else if (opt == "--no-refusals")
                m_bNoRefusals = true;
            else {
                std::fprintf(stderr,
                             "usage: tessarin-prove-window-flood --log FILE --lines N "
                             "[--timeout S] [--no-refusals]\n");
                return false;
            }
        }
        return !m_strLog.empty() && m_nWant > 0;
    }

    int OnRun() override
    {
        CLineCounter counter(m_strLog);
        m_pCounter = &counter;
        {
            StoreLogFile();
            CTessarinDlg dlg;
            m_pDlg = &dlg;
            SetTopWindow(&dlg);
            CallAfter([this] { Begin(); });
            dlg.DoModal();
            SetTopWindow(nullptr);
        }
        DeletePendingObjects();
        return Report();
    }

private:
    // The window takes its log file from the settings, as at a start of the program.
    void StoreLogFile()
    {
        CTessarinSettings settings;
        settings.Load();
        std::snprintf(settings.m_szLogFile, sizeof settings.m_szLogFile, "%s", m_strLog.c_str());
        settings.m_nAppendToLogFile = 0;
        if (!settings.Save())
            std::fprintf(stderr, "the settings could not be saved\n");
    }

    void Begin()
    {
        m_pDlg->OnRefreshComPorts();
        m_pDlg->GetComPortCombo()->SetStringSelection("COM21");
        m_pDlg->OnComPortSelChange();
        m_start = Clock::now();
        m_dStartCpu = CpuSeconds();
        m_pDlg->OnStartCapture();
        m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Check(); });
        m_timer.Start(100);
    }

    void Check()
    {
        const long lines = m_pCounter->Lines();
        const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        if (m_nWarmRss == 0 && lines >= m_nWant / 10) {
            m_nWarmRss = RssKb();
            m_nWarmRows = m_pDlg->GetMessageLog().GetRowCount();
        }
        if (lines == m_nLastLines && lines > 0)
            ++m_nStill;
        else
            m_nStill = 0;
        m_nLastLines = lines;
        const bool done = lines >= m_nWant;
        if (!done && m_nStill < 300 && seconds < m_nTimeout)
            return;
        m_timer.Stop();
        m_bComplete = done;
        m_dSeconds = seconds;
        m_nEndRss = RssKb();
        m_dCpuSeconds = CpuSeconds() - m_dStartCpu;
        m_nLines = lines;
        m_nCounted = m_pDlg->GetLink().GetLineCounter();
        m_nRows = m_pDlg->GetMessageLog().GetRowCount();
        const auto* nodeList = dynamic_cast<wxListBox*>(m_pDlg->FindWindow(IDC_NODE_LIST));
        m_nNodes = nodeList ? static_cast<long>(nodeList->GetCount()) : 0;
        m_pDlg->OnStopCapture();
        m_pDlg->EndDialog(wxID_OK);
    }

    int Report()
    {
        const long refused = m_nLines - m_nCounted;
        const long rowsAdded = m_nRows - m_nWarmRows;
        const double bytesPerRow = m_nLines > 0 ? double(m_pCounter->Bytes()) / m_nLines : 0;
        // A row costs its text and NUL, and a pointer that a doubling array may hold twice.
        const long rowKb = static_cast<long>(rowsAdded * (bytesPerRow + 16) / 1024);
        const long growthKb = m_nEndRss - m_nWarmRss;
        const long slackKb = 8 * 1024;
        std::printf(
            "%ld lines logged in %.1f s (%.0f lines/s), %ld handed to the window, %ld refused; "
            "%ld rows, %ld nodes\n",
            m_nLines, m_dSeconds, m_nLines / (m_dSeconds > 0 ? m_dSeconds : 1), m_nCounted, refused, m_nRows,
            m_nNodes);
        std::printf("CPU %.1f s in all, %.0f us per line logged (capture thread and window)\n", m_dCpuSeconds,
                    m_nLines > 0 ? m_dCpuSeconds * 1e6 / m_nLines : 0.0);
        std::printf(
            "RSS %ld kB after warm-up, %ld kB at the end: grew %ld kB for %ld rows added "
            "(their text and pointers take %ld kB)\n",
            m_nWarmRss, m_nEndRss, growthKb, rowsAdded, rowKb);
        int status = 0;
        if (!m_bComplete) {
            std::printf("FAILED: the lines stopped at %ld of %ld\n", m_nLines, m_nWant);
            status = 1;
        }
        if (m_nRows != m_nCounted) {
            std::printf("FAILED: %ld rows for %ld lines handed over\n", m_nRows, m_nCounted);
            status = 1;
        }
        if (m_bNoRefusals && refused != 0) {
            std::printf("FAILED: lines were refused although the window was to keep up\n");
            status = 1;
        }
        if (growthKb > rowKb + slackKb) {
            std::printf("FAILED: memory grew by more than the rows take\n");
            status = 1;
        }
        return status;
    }

    std::string m_strLog;
    long m_nWant = 0;
    long m_nTimeout = 3600;
    bool m_bNoRefusals = false;
    CTessarinDlg* m_pDlg = nullptr;
    CLineCounter* m_pCounter = nullptr;
    wxTimer m_timer;
    Clock::time_point m_start;
    long m_nWarmRss = 0;
    long m_nWarmRows = 0;
    long m_nEndRss = 0;
    long m_nLastLines = -1;
    int m_nStill = 0;
    bool m_bComplete = false;
    double m_dSeconds = 0;
    double m_dStartCpu = 0;
    double m_dCpuSeconds = 0;
    long m_nLines = 0;
    long m_nCounted = 0;
    long m_nRows = 0;
    long m_nNodes = 0;
};

}   // namespace

wxIMPLEMENT_APP(CFloodApp);
