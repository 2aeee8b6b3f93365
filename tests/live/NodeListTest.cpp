// The window's side of the hand-off and the Node List, fed through the engine's own
// AddLine (no capture: no log file, only the Data Buffer and one announcement per line).

#include "tests/live/LiveTestSupport.h"

#include <algorithm>
#include <cstdio>

#include "tests/e2e/E2eSupport.h"

namespace {

// Announces the lines as the capture thread would and lets the window take them; one
// status tick more lets a burst of new nodes reach the list.
void Deliver(CTessarinDlg& dlg, const std::vector<std::string>& lines)
{
    const int before = dlg.m_messageLog.GetRowCount();
    for (const std::string& line : lines)
        ASSERT_EQ(dlg.m_link.AddLine(line.c_str()), 1) << line;
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_messageLog.GetRowCount() == before + static_cast<int>(lines.size()); }));
    PumpFor(300);
}

// A message box that, like a real one, runs the event loop while it is open.
class ExpectBoxWhileEventsRun : public wxExpectModalBase<wxMessageDialog, ExpectBoxWhileEventsRun> {
public:
    explicit ExpectBoxWhileEventsRun(const wxString& text) : m_text(text) {}

protected:
    int OnInvoked(wxMessageDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetMessage(), m_text);
        PumpFor(300);
        return wxID_OK;
    }
    wxString GetDefaultDescription() const override { return "message box \"" + m_text + "\" left open a while"; }

private:
    wxString m_text;
};

} // namespace

TEST(NodeListTest, ReceivedLinesListTheirNodeOnceWithTheFirstKindSeen)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "unused.log");

    // A received REF_RSP lists its node as a reference node, carrying its address; the
    // row is the line with its separators turned into tabs.
    const std::string refRsp = LogLine(false, 0x1234, "REF_RSP");
    Deliver(*dlg, {refRsp});
    EXPECT_EQ(Rows(*dlg), std::vector<std::string>{TabForm(refRsp)});
    EXPECT_EQ(NodeEntries(*dlg), (std::vector<NodeEntry>{{"0x1234 REF   ", 0x1234}}));

    // Later kinds for the same address, in either case, change nothing.
    Deliver(*dlg, {LogLine(false, 0x1234, "BLIND_CONF"), LogLine(false, 0xABCD, "REF_CONF")});
    std::string otherCase = LogLine(false, 0xABCD, "BLIND_REQ_CONF");
    otherCase.replace(otherCase.find("0xABCD"), 6, "0xabcd");
    Deliver(*dlg, {otherCase});

    // Sent lines never list a node, whatever their address.
    Deliver(*dlg, {LogLine(true, 0x4321, "REF_NODE_CONF"), LogLine(true, 0xFFFF, "XY_RSSI_REQ"),
                   LogLine(true, 0x0000, "PING_REQUEST", nullptr)});

    // The dongle's own answers give its COORD entry; an unknown cluster, shown as its
    // number, is neither REF nor BLIND. 0x0010 then 0x000F: sorted by text.
    Deliver(*dlg, {LogLine(false, 0x0010, "BLIND_RSP"), LogLine(false, 0x000F, "REF_REQ"),
                   LogLine(false, 0x0000, "PING_RESPONSE", nullptr), LogLine(false, 0x0000, "DEV_INFO_RSP"),
                   LogLine(false, 0x0301, "0x0042")});

    // Lines without two separators are shown and list nothing.
    Deliver(*dlg, {"", "no separators at all", "one|separator"});

    const std::vector<NodeEntry> expected = {
        {"0x0000 COORD ", 0x0000}, {"0x000F REF   ", 0x000F}, {"0x0010 BLIND ", 0x0010},
        {"0x0301 COORD ", 0x0301}, {"0x1234 REF   ", 0x1234}, {"0xABCD REF   ", 0xABCD},
    };
    EXPECT_EQ(NodeEntries(*dlg), expected);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 15);
    EXPECT_EQ(dlg->m_messageLog.GetRowText(14), std::string("one\tseparator"));
}

TEST(NodeListTest, ABurstOfNewNodesIsListedWholeAndSorted)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "unused.log");

    // A noisy line can name a new address in every frame: the list takes them a few
    // milliseconds' worth at a time, and none is lost, doubled or given another's address.
    std::vector<std::string> lines;
    std::vector<unsigned> addrs;
    for (unsigned i = 1; i <= 200; ++i) {
        const unsigned addr = (i * 7919u) & 0xFFFF;
        addrs.push_back(addr);
        lines.push_back(LogLine(false, static_cast<uint16_t>(addr), i % 2 ? "REF_RSP" : "BLIND_RSP"));
    }
    Deliver(*dlg, lines);
    ASSERT_TRUE(PumpUntil([&] { return dlg->m_nodeList->GetCount() == 200u; }));
    std::sort(addrs.begin(), addrs.end());
    std::vector<NodeEntry> entries = NodeEntries(*dlg);
    ASSERT_EQ(entries.size(), 200u);
    for (size_t i = 0; i < entries.size(); ++i) {
        char address[8];
        std::snprintf(address, sizeof address, "0x%04X", addrs[i]);
        EXPECT_EQ(entries[i].text.substr(0, 7), std::string(address) + " ") << i;
        EXPECT_EQ(entries[i].addr, addrs[i]) << i;
    }

    // The same nodes again: nothing new.
    Deliver(*dlg, lines);
    PumpFor(300);
    EXPECT_EQ(NodeEntries(*dlg), entries);

    // After Clear the first of them is new again.
    Press(*dlg, ID_CLEAR_LOG);
    EXPECT_TRUE(NodeEntries(*dlg).empty());
    Deliver(*dlg, {lines[0]});
    EXPECT_EQ(dlg->m_nodeList->GetCount(), 1u);
}

TEST(NodeListTest, ClearEmptiesBothListsForgetsThePickedNodeAndKeepsTheCount)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "unused.log");
    Deliver(*dlg, {LogLine(false, 0x0101, "REF_RSP"), LogLine(false, 0x0201, "BLIND_RSP")});
    ASSERT_EQ(dlg->m_nodeList->GetCount(), 2u);

    // A double click on the second entry picks its node.
    dlg->m_nodeList->SetSelection(1);
    wxMouseEvent dclick(wxEVT_LEFT_DCLICK);
    dclick.SetEventObject(dlg->m_nodeList);
    dlg->m_nodeList->GetEventHandler()->ProcessEvent(dclick);
    EXPECT_EQ(dlg->m_nSelectedNode, 0x0201);

    Press(*dlg, ID_CLEAR_LOG);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);
    EXPECT_EQ(dlg->m_nodeList->GetCount(), 0u);
    EXPECT_EQ(dlg->m_nSelectedNode, 0);
    PumpFor(300);
    EXPECT_EQ(StatusText(*dlg, 0), "Message count: 2");
    // Clear is available while idle and does not start anything.
    EXPECT_TRUE(dlg->m_toolBar.GetToolEnabled(ID_START_CAPTURE));
}

TEST(NodeListTest, LinesAnnouncedButClearedBeforeTheWindowTookThemAreEachReported)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "unused.log");
    const wxString title = CTessarinDlg::AppTitle();

    // Three lines announced, then Clear, then the three announcements handled.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(dlg->m_link.AddLine(LogLine(false, 0x0101, "REF_RSP").c_str()), 1);
    Press(*dlg, ID_CLEAR_LOG);
    wxTEST_DIALOG(PumpFor(300), ExpectMessageBox(title, "Not able to read Data Buffer!", dlg.get()),
                  ExpectMessageBox(title, "Not able to read Data Buffer!", dlg.get()),
                  ExpectMessageBox(title, "Not able to read Data Buffer!", dlg.get()));
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);
    EXPECT_EQ(dlg->m_nodeList->GetCount(), 0u);
    EXPECT_EQ(dlg->m_link.GetLineCounter(), 3);

    // While such a box is open, the same failure again opens no second box on it: a
    // Clear during a flood would otherwise pile up hundreds.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(dlg->m_link.AddLine(LogLine(false, 0x0101, "REF_RSP").c_str()), 1);
    Press(*dlg, ID_CLEAR_LOG);
    wxTEST_DIALOG(PumpFor(300), ExpectBoxWhileEventsRun("Not able to read Data Buffer!"));

    // The next line is taken as usual.
    Deliver(*dlg, {LogLine(false, 0x0101, "REF_RSP")});
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 1);
    EXPECT_EQ(dlg->m_nodeList->GetCount(), 1u);
}
