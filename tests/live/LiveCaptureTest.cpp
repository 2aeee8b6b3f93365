// Live capture from the window against the dongle simulator, linked as a COM port on a
// pseudo-terminal: port list, Start, the PING sequence, rows and nodes, Clear, Stop.

#include "tests/live/LiveTestSupport.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/statbox.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "tests/e2e/E2eSupport.h"

namespace {

const char kPingMessage[] = "Not able to send PING!\nNote that \"Capture\" should be started before PING can be sent.";

void ExpectCapturing(CTessarinDlg& dlg, bool capturing)
{
    EXPECT_EQ(dlg.m_toolBar.GetToolEnabled(ID_START_CAPTURE), !capturing);
    EXPECT_EQ(dlg.m_toolBar.GetToolEnabled(ID_STOP_CAPTURE), capturing);
    EXPECT_EQ(dlg.m_toolBar.GetToolEnabled(ID_PING), capturing);
    EXPECT_TRUE(dlg.m_toolBar.GetToolEnabled(ID_CLEAR_LOG));
    EXPECT_TRUE(dlg.m_toolBar.GetToolEnabled(ID_REFRESH_COM_PORTS));
    EXPECT_TRUE(dlg.m_pComPortCombo->IsEnabled());
    for (wxWindow* w : {static_cast<wxWindow*>(dlg.m_xyRssiReq), static_cast<wxWindow*>(dlg.m_refConfReq),
                        static_cast<wxWindow*>(dlg.m_refConf), static_cast<wxWindow*>(dlg.m_blindConfReq),
                        static_cast<wxWindow*>(dlg.m_blindConf), static_cast<wxWindow*>(dlg.m_sendMessageGroup),
                        static_cast<wxWindow*>(dlg.m_blindFindReq)})
        EXPECT_EQ(w->IsEnabled(), capturing) << w->GetLabel();
    EXPECT_TRUE(dlg.m_showParameters->IsEnabled());
}

bool Send(CTessarinDlg& dlg, uint32_t type, uint16_t addr)
{
    DongleMessage msg;
    msg.word[0] = type;
    msg.word[1] = addr;
    return dlg.m_link.SendDongleMessage(msg) == 1;
}

// The message name of a row: its fourth cell without the padding.
std::string NameOf(const std::string& row)
{
    size_t start = 0;
    for (int i = 0; i < 3; ++i)
        start = row.find('\t', start) + 1;
    const std::string cell = row.substr(start, row.find('\t', start) - start);
    return cell.substr(0, cell.find_last_not_of(' ') + 1);
}

std::string Untabbed(std::string row)
{
    for (char& c : row) {
        if (c == '\t')
            c = '|';
    }
    return row;
}

// Holds a device as another program that locks it would.
class CPortHolder {
public:
    explicit CPortHolder(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        EXPECT_GE(m_fd, 0) << path;
        EXPECT_EQ(flock(m_fd, LOCK_EX | LOCK_NB), 0);
    }
    ~CPortHolder()
    {
        if (m_fd >= 0)
            close(m_fd);
    }

private:
    int m_fd;
};

// A warning box that the user leaves open until `until` holds; the event loop runs
// meanwhile, as under a real box.
class ExpectBoxLeftOpen : public wxExpectModalBase<wxMessageDialog, ExpectBoxLeftOpen> {
public:
    ExpectBoxLeftOpen(const wxString& text, std::function<bool()> until) : m_text(text), m_until(std::move(until)) {}

protected:
    int OnInvoked(wxMessageDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetMessage(), m_text);
        EXPECT_EQ(dlg->GetMessageDialogStyle() & wxICON_MASK, wxICON_EXCLAMATION);
        EXPECT_TRUE(PumpUntil(m_until, 20000));
        return wxID_OK;
    }
    wxString GetDefaultDescription() const override { return "message box \"" + m_text + "\" left open"; }

private:
    wxString m_text;
    std::function<bool()> m_until;
};

} // namespace

TEST(LiveCaptureTest, AWholeSessionAsAUserHasIt)
{
    CTestFolder folder;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet", "--short-addr", "0012", "--ieee", "1"}));
    const std::string logFile = folder / "session.log";
    auto dlg = MakeWindow(logFile);

    // The list offers the simulator's port and Start will use it.
    EXPECT_EQ(PortEntries(*dlg), std::vector<std::string>{"COM21"});
    EXPECT_EQ(dlg->m_strComPort, "COM21");
    EXPECT_EQ(StatusText(*dlg, 0), "Message count: 0");
    EXPECT_EQ(StatusText(*dlg, 2), "Dongle: Disconnected");
    ExpectCapturing(*dlg, false);

    // Start: the PING, its answer, the device-information request and its answer.
    EXPECT_NO_DIALOG(Press(*dlg, ID_START_CAPTURE));
    ExpectCapturing(*dlg, true);
    EXPECT_TRUE(PumpUntil([&] {
        return StatusText(*dlg, 2) == "Dongle: Connected, Short Addr: 0x0012, IEEE Addr: 0x0000000000000001";
    })) << StatusText(*dlg, 2);
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == 4; }));
    std::vector<std::string> rows = Rows(*dlg);
    const std::vector<std::string> names = {"PING_REQUEST", "PING_RESPONSE", "GET_DEVICE_INFO", "DEV_INFO_RSP"};
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(NameOf(rows[i]), names[i]) << rows[i];
        EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), '\t'), 4) << rows[i];
        EXPECT_EQ(rows[i].find('|'), std::string::npos) << rows[i];
    }
    EXPECT_NE(rows[0].find("\t<--\t 0x0000 \t"), std::string::npos) << rows[0];
    EXPECT_NE(rows[1].find("\t-->\t 0x0000 \t"), std::string::npos) << rows[1];

    // The nodes answer broadcasts: every reference node, then every blind node after
    // its collect time. The list is sorted and each entry carries its address; the
    // broadcasts themselves (to 0xFFFF) list nothing.
    ASSERT_TRUE(Send(*dlg, MSG_XY_RSSI_REQ, BROADCAST_ADDR));
    ASSERT_TRUE(Send(*dlg, MSG_BLIND_FIND_REQ, BROADCAST_ADDR));
    const std::vector<NodeEntry> nodes = {
        {"0x0000 COORD ", 0x0000}, {"0x0101 REF   ", 0x0101}, {"0x0102 REF   ", 0x0102},
        {"0x0103 REF   ", 0x0103}, {"0x0104 REF   ", 0x0104}, {"0x0105 REF   ", 0x0105},
        {"0x0201 BLIND ", 0x0201}, {"0x0202 BLIND ", 0x0202}, {"0x0203 BLIND ", 0x0203},
    };
    EXPECT_TRUE(PumpUntil([&] { return NodeEntries(*dlg) == nodes; }, 10000));
    EXPECT_EQ(NodeEntries(*dlg), nodes);

    // The status bar counts every line shown.
    const int count = dlg->m_link.GetLineCounter();
    EXPECT_EQ(count, 4 + 2 + 5 + 3);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), count);
    const wxString countText = wxString::Format("Message count: %d", count);
    EXPECT_TRUE(PumpUntil([&] { return StatusText(*dlg, 0) == countText; })) << StatusText(*dlg, 0);
    // Readable whole: not cut to "Message count:..." by a pane measured for a smaller font.
    wxRect pane;
    ASSERT_TRUE(dlg->m_statusBar.GetFieldRect(0, pane));
    EXPECT_GE(pane.width - 4, dlg->m_statusBar.GetTextExtent("Message count: 2147483647").x);
    EXPECT_EQ(dlg->m_statusBar.GetStatusWidth(1), 225);

    // The window shows exactly what the log file holds, in the same order.
    rows = Rows(*dlg);
    std::vector<std::string> logged = ReadLines(logFile);
    ASSERT_EQ(logged.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(Untabbed(rows[i]), logged[i]);

    // Clear empties both lists and forgets the picked node; the count stays, and goes on.
    dlg->m_nSelectedNode = 0x0101;
    Press(*dlg, ID_CLEAR_LOG);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);
    EXPECT_EQ(dlg->m_nodeList->GetCount(), 0u);
    EXPECT_EQ(dlg->m_nSelectedNode, 0);
    ExpectCapturing(*dlg, true);
    PumpFor(300);
    EXPECT_EQ(StatusText(*dlg, 0), countText);
    EXPECT_NO_DIALOG(Press(*dlg, ID_PING));
    EXPECT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == 4; }));
    EXPECT_TRUE(PumpUntil([&] { return StatusText(*dlg, 0) == wxString::Format("Message count: %d", count + 4); }))
        << StatusText(*dlg, 0);
    EXPECT_TRUE(PumpUntil([&] { return NodeEntries(*dlg) == std::vector<NodeEntry>{{"0x0000 COORD ", 0}}; }));

    // Stop: idle again without a word, and the next tick shows the dongle as gone.
    EXPECT_TRUE(PumpUntil([&] { return StatusText(*dlg, 2).StartsWith("Dongle: Connected"); }));
    EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
    ExpectCapturing(*dlg, false);
    dlg->OnTimer(ID_STATUS_TIMER);
    EXPECT_EQ(StatusText(*dlg, 2), "Dongle: Disconnected");
    // PING is not offered now; called anyway, it says why it cannot be sent.
    wxTEST_DIALOG(dlg->OnPing(), ExpectMessageBox(CTessarinDlg::AppTitle(), kPingMessage, dlg.get()));
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 4);
}

TEST(LiveCaptureTest, AnUnpluggedDongleShowsAsDisconnectedAndStopIsSilent)
{
    CTestFolder folder;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet"}));
    auto dlg = MakeWindow(folder / "unplugged.log");
    EXPECT_NO_DIALOG(Press(*dlg, ID_START_CAPTURE));
    ASSERT_TRUE(PumpUntil([&] { return StatusText(*dlg, 2).StartsWith("Dongle: Connected"); }));
    const int rows = dlg->m_messageLog.GetRowCount();

    // The dongle goes away mid-capture: the window must not go on showing it.
    sim.Kill();
    EXPECT_TRUE(PumpUntil([&] { return StatusText(*dlg, 2) == "Dongle: Disconnected"; }));
    ExpectCapturing(*dlg, true);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), rows);
    EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
    ExpectCapturing(*dlg, false);
}

TEST(LiveCaptureTest, AFullDiskShowsOneBoxAtATimeWhileTheCaptureGoesOn)
{
    CTestFolder folder;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--flood", "400", "--rate", "200"}));
    // Every line fails to reach the file. The PING's own line fails on the window thread,
    // which tells at once. Then the capture thread's first failure opens a box; while it
    // stays open the capture goes on, and the same failure at every later line adds no
    // box to it.
    auto dlg = MakeWindow("/dev/full");
    const wxString text = "Not able to add message to Log File";
    wxTEST_DIALOG(Press(*dlg, ID_START_CAPTURE), ExpectMessageBox(CTessarinDlg::AppTitle(), text, dlg.get()));
    const auto allShown = [&] { return dlg->m_messageLog.GetRowCount() == 404; };
    wxTEST_DIALOG(PumpUntil(allShown, 20000), ExpectBoxLeftOpen(text, allShown));
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 404);
    EXPECT_NO_DIALOG(PumpFor(300));
    EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
}

TEST(LiveCaptureTest, StartWithNoPortSaysSoAndStaysIdle)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "none.log");
    EXPECT_TRUE(PortEntries(*dlg).empty());
    EXPECT_EQ(dlg->m_strComPort, "");

    wxTEST_DIALOG(Press(*dlg, ID_START_CAPTURE),
                  ExpectMessageBox(CTessarinDlg::AppTitle(), "COM port not selected!", dlg.get()));
    ExpectCapturing(*dlg, false);
    EXPECT_FALSE(dlg->m_link.IsCapturing());
    EXPECT_FALSE(FileExists(folder / "none.log"));
}

TEST(LiveCaptureTest, StartOnAPortInUseShowsTheEngineMessageThenThePingMessageAndStopIsSilent)
{
    CTestFolder folder;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet"}));
    const std::string device = ComPortDevicePath("COM21");
    const wxString title = CTessarinDlg::AppTitle();

    // Held by another program when the list is made: offered with its mark, and the
    // whole text is what Start tries to open.
    {
        CPortHolder other(device);
        auto dlg = MakeWindow(folder / "held.log");
        EXPECT_EQ(PortEntries(*dlg), std::vector<std::string>{"COM21 (in use)"});
        EXPECT_EQ(dlg->m_strComPort, "COM21 (in use)");
        wxTEST_DIALOG(Press(*dlg, ID_START_CAPTURE),
                      ExpectMessageBox(title, "Not able to Open Com Port: COM21 (in use)", dlg.get()),
                      ExpectMessageBox(title, kPingMessage, dlg.get()));
        // The window shows a capture the engine does not run; Stop brings them together.
        ExpectCapturing(*dlg, true);
        EXPECT_FALSE(dlg->m_link.IsCapturing());
        EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
        ExpectCapturing(*dlg, false);
        EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);
    }

    // Free when listed, taken before Start.
    auto dlg = MakeWindow(folder / "taken.log");
    EXPECT_EQ(dlg->m_strComPort, "COM21");
    {
        CPortHolder other(device);
        wxTEST_DIALOG(Press(*dlg, ID_START_CAPTURE),
                      ExpectMessageBox(title, "Not able to Open Com Port: COM21", dlg.get()),
                      ExpectMessageBox(title, kPingMessage, dlg.get()));
        EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
    }
    // Once it is free again, the same window captures from it.
    EXPECT_NO_DIALOG(Press(*dlg, ID_START_CAPTURE));
    EXPECT_TRUE(dlg->m_link.IsCapturing());
    EXPECT_TRUE(PumpUntil([&] { return StatusText(*dlg, 2).StartsWith("Dongle: Connected"); }));
    EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
}

TEST(LiveCaptureTest, RefreshDuringACaptureMarksTheOwnPortInUseAndTheCaptureGoesOn)
{
    CTestFolder folder;
    CSimProcess first, second;
    ASSERT_TRUE(first.Start({"--com", "21", "--quiet"}));
    ASSERT_TRUE(second.Start({"--com", "23", "--quiet"}));
    const std::string device = ComPortDevicePath("COM21");

    // The probe leaves a port as it found it: settings unchanged, nothing held open.
    termios before{}, after{};
    {
        const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(tcgetattr(fd, &before), 0);
        close(fd);
    }
    auto dlg = MakeWindow(folder / "refresh.log");
    EXPECT_EQ(PortEntries(*dlg), (std::vector<std::string>{"COM21", "COM23"}));
    {
        const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << "the probe kept the port";
        ASSERT_EQ(tcgetattr(fd, &after), 0);
        close(fd);
    }
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));

    // A pick changes the port at once; Refresh goes back to the first entry.
    PickPort(*dlg, 1);
    EXPECT_EQ(dlg->m_strComPort, "COM23");
    Press(*dlg, ID_REFRESH_COM_PORTS);
    EXPECT_EQ(dlg->m_strComPort, "COM21");

    // During a capture on COM21 it is listed as in use, even though this program, as
    // root, holds it; the first entry is selected again.
    EXPECT_NO_DIALOG(Press(*dlg, ID_START_CAPTURE));
    EXPECT_TRUE(PumpUntil([&] { return StatusText(*dlg, 2).StartsWith("Dongle: Connected"); }));
    PickPort(*dlg, 1);
    Press(*dlg, ID_REFRESH_COM_PORTS);
    EXPECT_EQ(PortEntries(*dlg), (std::vector<std::string>{"COM21 (in use)", "COM23"}));
    EXPECT_EQ(dlg->m_strComPort, "COM21 (in use)");
    ExpectCapturing(*dlg, true);

    // The capture was not disturbed by the probe.
    const int rows = dlg->m_messageLog.GetRowCount();
    EXPECT_NO_DIALOG(Press(*dlg, ID_PING));
    EXPECT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == rows + 4; }));
    EXPECT_TRUE(PumpUntil([&] { return StatusText(*dlg, 2).StartsWith("Dongle: Connected"); }));

    EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
    Press(*dlg, ID_REFRESH_COM_PORTS);
    EXPECT_EQ(PortEntries(*dlg), (std::vector<std::string>{"COM21", "COM23"}));
}

TEST(LiveCaptureTest, AFloodShowsEveryLineItAnnouncesInOrderWhileTheStatusBarKeepsTicking)
{
    CTestFolder folder;
    CSimProcess sim;
    // About three seconds of traffic, many times the dongle's own rate.
    ASSERT_TRUE(sim.Start({"--com", "21", "--flood", "9000", "--rate", "3000"}));
    const std::string logFile = folder / "flood.log";
    auto dlg = MakeWindow(logFile);

    std::set<wxString> counts;
    EXPECT_NO_DIALOG(Press(*dlg, ID_START_CAPTURE));
    int last = -1;
    auto quiet = std::chrono::steady_clock::now();
    EXPECT_TRUE(PumpUntil([&] {
        counts.insert(StatusText(*dlg, 0));
        const int n = dlg->m_link.GetLineCounter();
        if (n != last) {
            last = n;
            quiet = std::chrono::steady_clock::now();
        }
        return n == 9004 || std::chrono::steady_clock::now() - quiet > std::chrono::seconds(2);
    }, 30000));
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == dlg->m_link.GetLineCounter(); }));
    EXPECT_NO_DIALOG(Press(*dlg, ID_STOP_CAPTURE));
    // The status timer got its turn all along.
    EXPECT_GE(counts.size(), 5u);

    // Every line announced became a row, and the rows are the log file's lines in order:
    // a line the Data Buffer refused is in the file only, never out of place.
    const std::vector<std::string> logged = ReadLines(logFile);
    EXPECT_EQ(logged.size(), 9004u);
    const std::vector<std::string> rows = Rows(*dlg);
    size_t next = 0;
    for (const std::string& row : rows) {
        const std::string line = Untabbed(row);
        while (next < logged.size() && logged[next] != line)
            ++next;
        ASSERT_LT(next, logged.size()) << "row not in the log file in order: " << line;
        ++next;
    }
    if (rows.size() != logged.size())
        std::printf("note: %zu of %zu lines were not taken in time\n", logged.size() - rows.size(), logged.size());
}
