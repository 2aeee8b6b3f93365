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

#include <set>

namespace {

const char kPingMessage[] = "Not able to send PING!\nNote that \"Capture\" should be started before PING can be sent.";

void ExpectCapturing(CTessarinDlg& dlg, bool capturing)
{
    EXPECT_EQ(dlg.m_toolBar.GetToolEnabled(ID_START_CAPTURE), !capturing);
    EXPECT_EQ(dlg.m_toolBar.GetToolEnabled(ID_STOP_CAPTURE), capturing);
    EXPECT_EQ(dlg.m_toolBar.GetToolEnabled(ID_PING), capturing);
    for (wxWindow* w : std::initializer_list<wxWindow*>{dlg.m_xyRssiReq, dlg.m_refConfReq, dlg.m_refConf,
                                                        dlg.m_blindConfReq, dlg.m_blindConf, dlg.m_sendMessageGroup,
                                                        dlg.m_blindFindReq})
        EXPECT_EQ(w->IsEnabled(), capturing) << w->GetLabel();
    EXPECT_TRUE(dlg.m_showParameters->IsEnabled());
    EXPECT_TRUE(dlg.m_pComPortCombo->IsEnabled());
}

bool Send(CTessarinDlg& dlg, uint32_t type, uint16_t addr)
{
    DongleMessage msg;
    msg.word[0] = type;
    msg.word[1] = addr;
    return dlg.m_link.SendDongleMessage(msg) == 1;
}

bool Connected(CTessarinDlg& dlg)
{
    return PumpUntil([&] { return Status(dlg, 2).StartsWith("Dongle: Connected"); });
}

// Holds the device locked, as another program using it would.
class CPortHolder {
public:
    explicit CPortHolder(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        EXPECT_GE(m_fd, 0) << path;
        EXPECT_EQ(flock(m_fd, LOCK_EX | LOCK_NB), 0) << "the port is held";
    }
    ~CPortHolder() { close(m_fd); }
    termios Settings() const
    {
        termios t{};
        EXPECT_EQ(tcgetattr(m_fd, &t), 0);
        return t;
    }

private:
    int m_fd;
};

} // namespace

TEST(LiveCaptureTest, AWholeSessionAsAUserHasIt)
{
    CTestFolder folder;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet", "--short-addr", "0012", "--ieee", "1"}));
    const std::string logFile = folder / "session.log";
    auto dlg = MakeWindow(logFile);
    EXPECT_EQ(PortEntries(*dlg), std::vector<std::string>{"COM21"});
    EXPECT_EQ(Status(*dlg, 0), "Message count: 0");
    EXPECT_EQ(Status(*dlg, 2), "Dongle: Disconnected");
    ExpectCapturing(*dlg, false);

    // Start: the PING, its answer, the device-information request and its answer.
    Press(*dlg, ID_START_CAPTURE);
    ExpectCapturing(*dlg, true);
    EXPECT_TRUE(PumpUntil([&] {
        return Status(*dlg, 2) == "Dongle: Connected, Short Addr: 0x0012, IEEE Addr: 0x0000000000000001";
    })) << Status(*dlg, 2);
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == 4; }));
    const std::vector<std::string> firstRows = Rows(*dlg);
    EXPECT_NE(firstRows[0].find("|<--| 0x0000 |PING_REQUEST "), std::string::npos) << firstRows[0];
    EXPECT_NE(firstRows[1].find("|-->| 0x0000 |PING_RESPONSE "), std::string::npos) << firstRows[1];
    EXPECT_NE(firstRows[2].find("|GET_DEVICE_INFO "), std::string::npos) << firstRows[2];
    EXPECT_NE(firstRows[3].find("|DEV_INFO_RSP "), std::string::npos) << firstRows[3];

    // The nodes answer broadcasts, blind nodes after their collect time; the broadcasts
    // themselves (to 0xFFFF) list nothing.
    ASSERT_TRUE(Send(*dlg, MSG_XY_RSSI_REQ, BROADCAST_ADDR));
    ASSERT_TRUE(Send(*dlg, MSG_BLIND_FIND_REQ, BROADCAST_ADDR));
    const std::vector<std::string> nodes = {
        "0x0000 COORD @0", "0x0101 REF   @101", "0x0102 REF   @102",
        "0x0103 REF   @103", "0x0104 REF   @104", "0x0105 REF   @105",
        "0x0201 BLIND @201", "0x0202 BLIND @202", "0x0203 BLIND @203",
    };
    EXPECT_TRUE(PumpUntil([&] { return NodeEntries(*dlg) == nodes; }, 10000));
    EXPECT_EQ(NodeEntries(*dlg), nodes);

    // Every line is counted and shown, exactly as the log file holds it.
    const int count = dlg->m_link.GetLineCounter();
    EXPECT_EQ(count, 4 + 2 + 5 + 3);
    const wxString countText = wxString::Format("Message count: %d", count);
    EXPECT_TRUE(PumpUntil([&] { return Status(*dlg, 0) == countText; })) << Status(*dlg, 0);
    EXPECT_EQ(Rows(*dlg), ReadLines(logFile));
    // Readable whole: not cut to "Message count:..." by a pane measured for a smaller font.
    wxRect pane;
    ASSERT_TRUE(dlg->m_statusBar.GetFieldRect(0, pane));
    EXPECT_GE(pane.width - 4, dlg->m_statusBar.GetTextExtent("Message count: 2147483647").x);
    EXPECT_EQ(dlg->m_statusBar.GetStatusWidth(1), 225);

    // Clear during a capture: the count goes on from where it was.
    Press(*dlg, ID_CLEAR_LOG);
    ExpectCapturing(*dlg, true);
    Press(*dlg, ID_PING);
    EXPECT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == 4; }));
    EXPECT_TRUE(PumpUntil([&] { return Status(*dlg, 0) == wxString::Format("Message count: %d", count + 4); }))
        << Status(*dlg, 0);
    EXPECT_TRUE(PumpUntil([&] { return NodeEntries(*dlg) == std::vector<std::string>{"0x0000 COORD @0"}; }));

    // Stop is silent, and the next tick shows the dongle as gone.
    EXPECT_TRUE(Connected(*dlg));
    Press(*dlg, ID_STOP_CAPTURE);
    ExpectCapturing(*dlg, false);
    dlg->OnTimer(ID_STATUS_TIMER);
    EXPECT_EQ(Status(*dlg, 2), "Dongle: Disconnected");
    // PING is not offered now; called anyway, it says why it cannot be sent.
    wxTEST_DIALOG(dlg->OnPing(), ExpectMessageBox(CTessarinDlg::AppTitle(), kPingMessage, dlg.get()));
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 4);
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
    PumpFor(300);
    Press(*dlg, ID_STOP_CAPTURE);
}

TEST(LiveCaptureTest, StartWithoutAUsablePortSaysWhyAndTheDongleCanGoAway)
{
    CTestFolder folder;
    const wxString title = CTessarinDlg::AppTitle();
    {
        auto dlg = MakeWindow(folder / "none.log");
        EXPECT_TRUE(PortEntries(*dlg).empty());
        wxTEST_DIALOG(Press(*dlg, ID_START_CAPTURE), ExpectMessageBox(title, "COM port not selected!", dlg.get()));
        ExpectCapturing(*dlg, false);
        EXPECT_FALSE(dlg->m_link.IsCapturing());
        EXPECT_FALSE(FileExists(folder / "none.log"));
    }

    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet"}));
    const std::string device = ComPortDevicePath("COM21");
    // Held by another program when listed, or only taken before Start: the text Start
    // tries to open is the list's, and the window shows a capture the engine does not
    // run until Stop brings them together.
    for (const bool heldWhenListed : {true, false}) {
        auto other = heldWhenListed ? std::make_unique<CPortHolder>(device) : nullptr;
        auto dlg = MakeWindow(folder / "held.log");
        const std::string entry = heldWhenListed ? "COM21 (in use)" : "COM21";
        EXPECT_EQ(PortEntries(*dlg), std::vector<std::string>{entry});
        if (!other)
            other = std::make_unique<CPortHolder>(device);
        wxTEST_DIALOG(Press(*dlg, ID_START_CAPTURE),
                      ExpectMessageBox(title, "Not able to Open Com Port: " + entry, dlg.get()),
                      ExpectMessageBox(title, kPingMessage, dlg.get()));
        ExpectCapturing(*dlg, true);
        EXPECT_FALSE(dlg->m_link.IsCapturing());
        Press(*dlg, ID_STOP_CAPTURE);
        ExpectCapturing(*dlg, false);
        EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);
        if (heldWhenListed)
            continue;

        // Once it is free again, the same window captures from it, until the dongle is
        // unplugged: then it must not go on showing it, and Stop is still silent.
        other.reset();
        Press(*dlg, ID_START_CAPTURE);
        EXPECT_TRUE(dlg->m_link.IsCapturing());
        ASSERT_TRUE(Connected(*dlg));
        const int rows = dlg->m_messageLog.GetRowCount();
        sim.Kill();
        EXPECT_TRUE(PumpUntil([&] { return Status(*dlg, 2) == "Dongle: Disconnected"; }));
        ExpectCapturing(*dlg, true);
        EXPECT_EQ(dlg->m_messageLog.GetRowCount(), rows);
        Press(*dlg, ID_STOP_CAPTURE);
    }
}

TEST(LiveCaptureTest, RefreshDuringACaptureMarksTheOwnPortInUseAndTheCaptureGoesOn)
{
    CTestFolder folder;
    CSimProcess first, second;
    ASSERT_TRUE(first.Start({"--com", "21", "--quiet"}));
    ASSERT_TRUE(second.Start({"--com", "23", "--quiet"}));
    const std::string device = ComPortDevicePath("COM21");

    // The probe leaves a port as it found it: settings unchanged, nothing held open.
    const termios before = CPortHolder(device).Settings();
    auto dlg = MakeWindow(folder / "refresh.log");
    EXPECT_EQ(PortEntries(*dlg), (std::vector<std::string>{"COM21", "COM23"}));
    const termios after = CPortHolder(device).Settings();
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));

    // A pick changes the port at once; Refresh goes back to the first entry.
    PickPort(*dlg, 1);
    EXPECT_EQ(dlg->m_strComPort, "COM23");
    Press(*dlg, ID_REFRESH_COM_PORTS);
    EXPECT_EQ(dlg->m_strComPort, "COM21");

    // During a capture on COM21 it is listed as in use, even though this program, as
    // root, holds it, and the probe does not disturb the capture.
    Press(*dlg, ID_START_CAPTURE);
    ASSERT_TRUE(Connected(*dlg));
    PickPort(*dlg, 1);
    Press(*dlg, ID_REFRESH_COM_PORTS);
    EXPECT_EQ(PortEntries(*dlg), (std::vector<std::string>{"COM21 (in use)", "COM23"}));
    EXPECT_EQ(dlg->m_strComPort, "COM21 (in use)");
    ExpectCapturing(*dlg, true);
    const int rows = dlg->m_messageLog.GetRowCount();
    Press(*dlg, ID_PING);
    EXPECT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == rows + 4; }));

    Press(*dlg, ID_STOP_CAPTURE);
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
    Press(*dlg, ID_START_CAPTURE);
    int last = -1;
    auto quiet = std::chrono::steady_clock::now();
    EXPECT_TRUE(PumpUntil([&] {
        counts.insert(Status(*dlg, 0));
        const int n = dlg->m_link.GetLineCounter();
        if (n != last) {
            last = n;
            quiet = std::chrono::steady_clock::now();
        }
        return n == 9004 || std::chrono::steady_clock::now() - quiet > std::chrono::seconds(2);
    }, 30000));
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == dlg->m_link.GetLineCounter(); }));
    Press(*dlg, ID_STOP_CAPTURE);
    EXPECT_GE(counts.size(), 5u) << "the status timer did not get its turn";

    // The rows are the log file's lines in order: a line the Data Buffer refused is in
    // the file only, never out of place.
    const std::vector<std::string> logged = ReadLines(logFile);
    EXPECT_EQ(logged.size(), 9004u);
    size_t next = 0;
    for (const std::string& row : Rows(*dlg)) {
        while (next < logged.size() && logged[next] != row)
            ++next;
        ASSERT_LT(next, logged.size()) << "row not in the log file in order: " << row;
        ++next;
    }
}
