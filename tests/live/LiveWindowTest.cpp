// What the window adds to a capture: the Node List, the warning boxes, the COM port
// list, the capture controls and the status bar; one session against the simulator.

#include "tests/live/LiveWindow.h"

#include <wx/choice.h>
#include <wx/statbox.h>

#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "app/settings/TessarinSettings.h"

namespace {

const char kPing[] =
    "Not able to send PING!\nNote that \"Capture\" should be started before PING can be sent.";

// The Node List as shown, each entry with '@' and the address it carries.
Texts Nodes(CTessarinDlg& dlg)
{
    Texts entries;
    for (unsigned i = 0; i < NodeList(dlg)->GetCount(); ++i)
        entries.push_back(wxString::Format("%s@%lX", NodeList(dlg)->GetString(i),
                                           (unsigned long)(wxUIntPtr)NodeList(dlg)->GetClientData(i))
                              .utf8_string());
    return entries;
}

void ExpectCapturing(CTessarinDlg& dlg, bool on)
{
    wxWindow* const controls[] = {Child(dlg, IDC_XY_RSSI_REQ), Child(dlg, IDC_REF_CONF_REQ),
                                  Child(dlg, IDC_REF_CONF),    Child(dlg, IDC_BLIND_CONF_REQ),
                                  Child(dlg, IDC_BLIND_CONF),  Child(dlg, IDC_BLIND_FIND_REQ)};
    for (wxWindow* w : controls)
        EXPECT_EQ(w->IsEnabled(), on) << w->GetLabel();
    const auto tool = [&](int id) { return ToolBar(dlg)->GetToolEnabled(id) ? '1' : '0'; };
    EXPECT_EQ(std::string({tool(ID_START_CAPTURE), tool(ID_STOP_CAPTURE), tool(ID_PING)}),
              on ? "011" : "100");
}

// The box of a line announced and then cleared, left open while the events go on.
struct LeftOpen : wxExpectModalBase<wxMessageDialog, LeftOpen> {
    int OnInvoked(wxMessageDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetMessage(), "Not able to read Data Buffer!");
        PumpFor(300);
        return wxID_OK;
    }
};

TEST(LiveNodeList, ListsEachReceivedNodeOnceWithItsFirstKindAndWarnsOnceAtATime)
{
    auto dlg = OpenWindow();
    const auto Status = [&](int pane) { return StatusBar(*dlg)->GetStatusText(pane); };
    Texts lines = {LogLineAt(false, 0x1234, "REF_RSP"), LogLineAt(false, 0x1234, "BLIND_CONF"),
                   LogLineAt(false, 0xABCD, "REF_CONF"), LogLineAt(false, 0xABCD, "BLIND_REQ_CONF"),
                   // Sent lines list nothing, whatever their address.
                   LogLineAt(true, 0x4321, "REF_NODE_CONF"), LogLineAt(true, 0xFFFF, "XY_RSSI_REQ"),
                   LogLineAt(false, 0x0010, "BLIND_RSP"), LogLineAt(false, 0x0000, "PING_RESPONSE", nullptr),
                   LogLineAt(false, 0x0301, "0x0042"), "", "one|separator"};
    Texts expected = {"0x0000 COORD @0", "0x0010 BLIND @10", "0x0301 COORD @301", "0x1234 REF   @1234",
                      "0xABCD REF   @ABCD"};
    // A burst of new nodes, each named twice: none lost, doubled or given another's address.
    for (unsigned i = 1, addr = 0xC03D; i <= 100; ++i, addr += 61) {
        lines.insert(lines.end(), 2, LogLineAt(false, uint16_t(addr), i % 2 ? "REF_RSP" : "BLIND_RSP"));
        expected.push_back(
            wxString::Format("0x%04X %s @%X", addr, i % 2 ? "REF  " : "BLIND", addr).utf8_string());
    }
    std::sort(expected.begin(), expected.end());
    for (const std::string& line : lines)
        ASSERT_EQ(dlg->GetLink().AddLine(line.c_str()), 1);
    // A damaged node message names no node: its guessed kind would stay.
    ASSERT_EQ(dlg->GetLink().AddLine(LogLineAt(false, 0x0777, "0x0000").c_str(), false), 1);
    EXPECT_TRUE(PumpUntil([&] { return Nodes(*dlg) == expected; })) << Nodes(*dlg).size();

    PickNode(*dlg, "0x0301");
    EXPECT_EQ(dlg->GetSelectedNode(), 0x0301);
    for (int i = 0; i < 3; ++i)
        dlg->GetLink().AddLine(lines[0].c_str());
    // Clear empties both lists and forgets the pick; the count goes on. Lines announced
    // but cleared before the window took them show one box, not one each.
    Press(ToolBar(*dlg), ID_CLEAR_LOG);
    wxTEST_DIALOG(PumpFor(300), LeftOpen());
    EXPECT_EQ(dlg->GetMessageLog().GetRowCount() + NodeList(*dlg)->GetCount() + dlg->GetSelectedNode(), 0u);
    EXPECT_TRUE(
        PumpUntil([&] { return Status(0) == wxString::Format("Message count: %zu", lines.size() + 4); }));
    dlg->GetLink().AddLine(lines[0].c_str());
    EXPECT_TRUE(PumpUntil([&] { return Nodes(*dlg) == Texts{"0x1234 REF   @1234"}; }));

    // From the capture thread a text open or on its way is not queued again, and no other
    // text is lost, however many come while the window's event loop runs.
    const wxString title = CTessarinDlg::AppTitle();
    GTestModalHook boxes(__FILE__, __LINE__, "");
    std::vector<ExpectMessageBox> shown;
    shown.reserve(31);   // the hook keeps their addresses
    for (int i = -1; i < 30; ++i)
        boxes.AddExpectation(shown.emplace_back(title, i < 0 ? "same" : std::to_string(i), dlg.get()));
    std::thread([&] {
        for (int i = 0; i < 20; ++i)
            dlg->ShowWarning("same");
    }).join();
    auto more = std::async(std::launch::async, [&] {
        for (int i = 0; i < 30; ++i)
            dlg->ShowWarning(std::to_string(i).c_str());
    });
    PumpUntil([&] { return more.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    PumpFor(300);
    boxes.CheckUnmetExpectations();
}

TEST(LiveSession, PortsCaptureStatusAndADongleThatGoesAndComesBack)
{
    CScratchFolder folder("live");
    auto dlg = OpenWindow(folder / "session.log");
    const auto Status = [&](int pane) { return StatusBar(*dlg)->GetStatusText(pane); };
    const wxString title = CTessarinDlg::AppTitle();
    wxTEST_DIALOG(Press(ToolBar(*dlg), ID_START_CAPTURE),
                  ExpectMessageBox(title, "COM port not selected!", dlg.get()));
    ExpectCapturing(*dlg, false);

    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet", "--short-addr", "0012", "--ieee", "1"}));
    CPtyPeer other("COM23");
    // Listed without a Refresh.
    EXPECT_TRUE(
        PumpUntil([&] { return wxJoin(dlg->GetComPortCombo()->GetStrings(), ',') == "COM21,COM23"; }));
    EXPECT_EQ(Status(0) + "|" + Status(2), "Message count: 0|Dongle: Disconnected");

    Press(ToolBar(*dlg), ID_START_CAPTURE);
    ExpectCapturing(*dlg, true);
    EXPECT_TRUE(PumpUntil([&] {
        return Status(2) == "Dongle: Connected, Short Addr: 0x0012, IEEE Addr: 0x0000000000000001";
    })) << Status(2);
    EXPECT_EQ(dlg->GetCaptureDevice(), "COM21: " + sim.Device());
    // The nodes answer the broadcasts; blind nodes after their collect time.
    Press(Child(*dlg, IDC_XY_RSSI_REQ));
    Press(Child(*dlg, IDC_BLIND_FIND_REQ));
    const Texts nodes = {"0x0000 COORD @0",   "0x0101 REF   @101", "0x0102 REF   @102",
                         "0x0103 REF   @103", "0x0104 REF   @104", "0x0105 REF   @105",
                         "0x0201 BLIND @201", "0x0202 BLIND @202", "0x0203 BLIND @203"};
    EXPECT_TRUE(PumpUntil([&] { return Nodes(*dlg) == nodes; }, 10000));
    // Every line counted, the count readable whole.
    EXPECT_TRUE(PumpUntil([&] { return Status(0) == "Message count: 14"; })) << Status(0);
    wxRect pane;
    ASSERT_TRUE(StatusBar(*dlg)->GetFieldRect(0, pane));
    EXPECT_GE(pane.width - 4, StatusBar(*dlg)->GetTextExtent("Message count: 2147483647").x);
    EXPECT_EQ(StatusBar(*dlg)->GetStatusWidth(1), 225);

    // Our own capture's port is in use too, though root could open it again.
    Press(ToolBar(*dlg), ID_REFRESH_COM_PORTS);
    EXPECT_EQ(wxJoin(dlg->GetComPortCombo()->GetStrings(), ','), "COM21 (in use),COM23");
    Press(ToolBar(*dlg), ID_PING);
    EXPECT_TRUE(PumpUntil([&] { return Status(0) == "Message count: 18"; })) << Status(0);

    // Unplugged: told at a tick, and nothing more comes; plugged in again, the capture
    // goes on by itself with a ping, in the same log.
    sim.Kill();
    EXPECT_TRUE(PumpUntil([&] { return Status(2) == "Dongle: Reconnecting..."; })) << Status(2);
    PumpFor(300);
    EXPECT_EQ(dlg->GetMessageLog().GetRowCount(), 18);
    ExpectCapturing(*dlg, true);
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet"}));
    EXPECT_TRUE(PumpUntil([&] { return Status(2).StartsWith("Dongle: Connected"); })) << Status(2);
    EXPECT_TRUE(PumpUntil([&] { return dlg->GetMessageLog().GetRowCount() == 22; }));
    // Stopped, the port is free again in the list and its entry stays selected.
    Press(ToolBar(*dlg), ID_STOP_CAPTURE);
    ExpectCapturing(*dlg, false);
    EXPECT_TRUE(PumpUntil([&] { return dlg->GetComPort() + "|" + dlg->GetCaptureDevice() == "COM21|"; }))
        << dlg->GetComPort();
    wxTEST_DIALOG(dlg->OnPing(), ExpectMessageBox(title, kPing, dlg.get()));
}

// Devices that come and go change the list by themselves; the selection stays on its
// port while it exists, else goes to a USB dongle just plugged in, else to the first
// entry, as Refresh always does. The numbers given are kept for the next start.
TEST(LivePorts, TheListFollowsTheDevicesAndTheSelectionItsPort)
{
    auto dlg = OpenWindow();
    std::unique_ptr<CPtyPeer> com22;
    std::unique_ptr<CUsbDongle> usbA, usbB;
    const struct {
        const char* story;
        std::function<void()> change;
        const char* entries;
        const char* selected;
    } steps[] = {
        {"into an empty list", [&] { com22 = std::make_unique<CPtyPeer>("COM22"); }, "COM22", "COM22"},
        {"a dongle beside the selection", [&] { usbA = std::make_unique<CUsbDongle>("usb-A", "ttyUSB0"); },
         "COM5,COM22", "COM22"},
        {"the selection gone, a dongle new",
         [&] {
             com22.reset();
             usbB = std::make_unique<CUsbDongle>("usb-B", "ttyUSB1");
         },
         "COM5,COM6", "COM6"},
        {"the selection gone, nothing new", [&] { usbB.reset(); }, "COM5", "COM5"},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_TRUE(PumpUntil([&] {
            return wxJoin(dlg->GetComPortCombo()->GetStrings(), ',') == step.entries &&
                   dlg->GetComPort() == step.selected;
        })) << step.story
            << ": " << wxJoin(dlg->GetComPortCombo()->GetStrings(), ',') << " " << dlg->GetComPort();
    }
    EXPECT_EQ(dlg->ComPortHelpText("Help."), "Help.\r\nCOM5: " + usbA->Peer().SlavePath() + ", usb-A");
    EXPECT_EQ(LoadComPortIds(), "COM5=usb-A\nCOM6=usb-B\n");
}

}   // namespace
