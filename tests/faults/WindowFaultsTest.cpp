// The dongle goes away under the window: the status bar reads "Dongle: Disconnected"
// within a tick of the engine finding out, the window costs nothing while the device
// is gone, Stop brings it back to idle, and a dongle plugged in again captures anew.

#include <memory>

#include "app/TessarinDlg.h"
#include "res/Resources.h"
#include "bench/faults/FaultRig.h"
#include "tests/support/GuiTesting.h"

using namespace faultrig;

namespace {

wxString DonglePane(CTessarinDlg& dlg)
{
    return dlg.m_statusBar.GetStatusText(2);
}

// Starts a capture from the window and answers its PING as a dongle does.
bool StartAndConnect(CTessarinDlg& dlg, CPtyDongle& dongle)
{
    dlg.OnStartCapture();
    if (dongle.Receive(2000) != Bytes{0x02, 0x00, 0x07, 0x00, 0x07})
        return false;
    dongle.Send(MakeFrame(CMD_PING_RESPONSE, {0x00}));
    if (dongle.Receive(2000) != Bytes{0x02, 0x00, 0x14, 0x00, 0x14})
        return false;
    dongle.Send(MakeFrame(CMD_DEV_INFO_RSP, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x34, 0x12}));
    return PumpUntil([&] {
        return DonglePane(dlg) == "Dongle: Connected, Short Addr: 0x1234, IEEE Addr: 0x0102030405060708";
    }, 3000);
}

}  // namespace

TEST(WindowFaults, StatusBarTellsTheDongleIsGoneAndStopBringsTheWindowBack)
{
    PrivateRoot();   // port links live there
    const std::string logs = MakeTempFolder("window-faults");
    auto dlg = std::make_unique<CTessarinDlg>();
    ASSERT_TRUE(dlg->Create());
    dlg->Show();
    ASSERT_TRUE(PumpUntil([&] { return dlg->IsShownOnScreen(); }, 3000));
    dlg->m_strComPort = "COM21";
    dlg->m_strLogFile = logs + "/Tessarin.log";

    for (bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "forced hang-up" : "unplugged");
        CPtyDongle dongle("COM21");
        const int fds = OpenDescriptors();
        const int threads = Threads();
        ASSERT_TRUE(StartAndConnect(*dlg, dongle));
        EXPECT_FALSE(dlg->m_toolBar.GetToolEnabled(ID_START_CAPTURE));

        const Clock::time_point gone = Clock::now();
        if (forced)
            ASSERT_TRUE(dongle.ForceHangUp());
        else
            dongle.HangUp();
        // Found within 0.6 s, shown at the next status tick (250 ms).
        EXPECT_TRUE(PumpUntil([&] { return DonglePane(*dlg) == "Dongle: Disconnected"; }, 3000));
        EXPECT_LT(MsSince(gone), 600 + 250 + 100);

        // Gone, the window and its capture thread idle: ticks only.
        const double cpu = ProcessCpuMs();
        const Clock::time_point wall = Clock::now();
        PumpFor(1000);
        EXPECT_LT(100.0 * (ProcessCpuMs() - cpu) / MsSince(wall), 5.0);
        EXPECT_EQ(DonglePane(*dlg), "Dongle: Disconnected");

        dlg->OnStopCapture();
        EXPECT_FALSE(dlg->m_link.IsCapturing());
        EXPECT_TRUE(dlg->m_toolBar.GetToolEnabled(ID_START_CAPTURE));
        EXPECT_FALSE(dlg->m_toolBar.GetToolEnabled(ID_STOP_CAPTURE));
        PumpFor(300);
        EXPECT_EQ(DonglePane(*dlg), "Dongle: Disconnected");
        // Port, log file and capture thread all gone with the stop (and the dongle's
        // own side, when it was unplugged).
        EXPECT_EQ(Threads(), threads);
        EXPECT_EQ(OpenDescriptors(), fds - (forced ? 0 : 1));
    }

    // Plugged in again: the same window captures from the new dongle.
    CPtyDongle dongle("COM21");
    ASSERT_TRUE(StartAndConnect(*dlg, dongle));
    dongle.Send(MakeFrame(CMD_DATA_INDICATION, {0xCB, 0x01, 0x01, 0xCA, 0x12, 0x00, 0x01, 0x5A}));
    // Four rows of each connection's ping sequence, then the node's message.
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_messageLog.GetRowCount() == 13; }, 3000))
        << dlg->m_messageLog.GetRowCount() << " rows";
    EXPECT_STREQ(dlg->m_messageLog.GetRowText(12) + 12, " \t-->\t 0x0101 \tREF_RSP            \t5A ");
    dlg->OnStopCapture();
    dlg.reset();
    std::error_code ignored;
    fs::remove_all(logs, ignored);
}
