// Reading a capture with the keyboard alone, against the simulator.

#include "tests/live/LiveWindow.h"

#include <wx/choice.h>
#include <wx/clipbrd.h>
#include <wx/menu.h>
#include <wx/uiaction.h>

namespace {

std::string Clipboard()
{
    wxTextDataObject text;
    wxClipboardLocker lock;
    return !!lock && wxTheClipboard->GetData(text) ? text.GetText().utf8_string() : std::string();
}

// Start, narrow the log to one node, copy its last ten rows as the log file has them,
// read back while rows come, pick a node with Enter and stop: all by keys. The Capture
// menu is enabled as the toolbar is; Escape in the filter bar only hides it.
TEST(LiveReading, KeyboardAloneNarrowsCopiesAndStops)
{
    CScratchFolder folder("reading");
    auto dlg = OpenWindow(folder / "reading.log");
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--com", "21", "--quiet"}));
    const auto pane = [&] { return StatusBar(*dlg)->GetStatusText(1).utf8_string(); };
    const auto menuMatchesToolbar = [&] {
        for (int id : {ID_CLEAR_LOG, ID_START_CAPTURE, ID_STOP_CAPTURE, ID_PING, ID_REFRESH_COM_PORTS})
            if (dlg->GetMenuBar()->IsEnabled(MenuItemId(id)) != ToolBar(*dlg)->GetToolEnabled(id))
                return false;
        return true;
    };
    wxUIActionSimulator keys;
    dlg->Raise();
    dlg->GetMessageLog().SetFocus();
    PumpFor(300);
    keys.Char('r', wxMOD_CONTROL);
    ASSERT_TRUE(PumpUntil([&] { return dlg->GetComPort() == "COM21"; }));
    EXPECT_TRUE(PumpUntil(menuMatchesToolbar));
    keys.Char(WXK_F5);
    ASSERT_TRUE(PumpUntil([&] { return ToolBar(*dlg)->GetToolEnabled(ID_STOP_CAPTURE); }));
    EXPECT_TRUE(PumpUntil(menuMatchesToolbar));
    const auto rowsOf = [&](const char* addr) {
        Texts lines;
        for (const std::string& line : ReadLines(folder / "reading.log"))
            if (line.find("|-->| " + std::string(addr)) != std::string::npos)
                lines.push_back(line);
        return lines;
    };
    for (size_t i = 1; i <= 12; ++i) {
        keys.Char('x', wxMOD_ALT);
        ASSERT_TRUE(PumpUntil([&] { return rowsOf("0x0101").size() == i; })) << i;
    }
    ASSERT_TRUE(PumpUntil([&] {
        return size_t(dlg->GetMessageLog().GetStoredRowCount()) == ReadLines(folder / "reading.log").size();
    }));

    keys.Char('f', wxMOD_CONTROL);
    keys.Text("node:0x0101");
    keys.Char(WXK_RETURN);
    keys.Char(WXK_END);
    for (int i = 0; i < 9; ++i)
        keys.Char(WXK_UP, wxMOD_SHIFT);
    keys.Char('c', wxMOD_CONTROL);
    PumpFor(300);
    const Texts shown = rowsOf("0x0101");
    std::string last10;
    for (size_t i = shown.size() - 10; i < shown.size(); ++i)
        last10 += shown[i] + "\n";
    EXPECT_EQ(Clipboard(), last10);
    EXPECT_EQ(pane(), wxString::Format("%zu of %d rows match; Following paused: 0 new rows; End to follow",
                                       shown.size(), dlg->GetMessageLog().GetStoredRowCount()));
    keys.Char('x', wxMOD_ALT);
    EXPECT_TRUE(PumpUntil([&] { return pane().find("paused: 1 new row;") != std::string::npos; })) << pane();
    keys.Char(WXK_END);
    EXPECT_TRUE(PumpUntil([&] { return pane().find("paused") == std::string::npos; })) << pane();

    // Hover over a Node List entry: when its node was last heard and how often.
    wxUIActionSimulator pointer;
    pointer.MouseMove(Child(*dlg, IDC_MESSAGE_LOG_GROUP)->GetScreenPosition() + wxPoint(5, 5));
    PumpFor(200);
    pointer.MouseMove(NodeList(*dlg)->GetScreenPosition() + wxPoint(20, 5));
    EXPECT_TRUE(PumpUntil([&] { return dlg->GetToolTip().IsShown(); }));
    const Texts dongle = rowsOf("0x0000");
    const wxString tip = wxString::FromUTF8(dlg->GetToolTip().GetText());
    EXPECT_TRUE(tip.StartsWith("0x0000: last heard at " + dongle.back().substr(0, 12) + " UTC, ") &&
                tip.EndsWith(wxString::Format(" s ago; %zu messages", dongle.size())))
        << tip;

    NodeList(*dlg)->SetFocus();
    NodeList(*dlg)->SetSelection(2);
    keys.Char(WXK_RETURN);
    EXPECT_TRUE(PumpUntil([&] { return dlg->GetSelectedNode() == 0x0102; }));
    keys.Char('f', wxMOD_CONTROL);
    keys.Char(WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return !Child(*dlg, IDC_FILTER_BAR)->IsShown(); }));
    EXPECT_FALSE(dlg->IsDialogEnded());
    keys.Char(WXK_F5, wxMOD_SHIFT);
    EXPECT_TRUE(PumpUntil([&] { return ToolBar(*dlg)->GetToolEnabled(ID_START_CAPTURE); }));
    keys.Char(WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return dlg->IsDialogEnded(); }));
}

}   // namespace
