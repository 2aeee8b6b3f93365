// The window's side of the hand-off and the Node List, fed through the engine's own
// AddLine (no capture: no log file, only the Data Buffer and one announcement per line).

#include "tests/live/LiveTestSupport.h"

namespace {

// Announces the lines as the capture thread would and lets the window take them; the
// pause lets a burst of new nodes reach the list on a status tick.
void Deliver(CTessarinDlg& dlg, const std::vector<std::string>& lines)
{
    const int before = dlg.m_messageLog.GetRowCount();
    for (const std::string& line : lines)
        ASSERT_EQ(dlg.m_link.AddLine(line.c_str()), 1) << line;
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_messageLog.GetRowCount() == before + static_cast<int>(lines.size()); }));
    PumpFor(300);
}

} // namespace

TEST(NodeListTest, ReceivedLinesListTheirNodeOnceWithTheFirstKindSeen)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "unused.log");

    const std::string refRsp = LogLine(false, 0x1234, "REF_RSP");
    Deliver(*dlg, {refRsp});
    std::string tabbed = refRsp;
    std::replace(tabbed.begin(), tabbed.end(), '|', '\t');
    EXPECT_EQ(dlg->m_messageLog.GetRowText(0), tabbed);
    // Later kinds for a listed address, in either case, change nothing.
    std::string otherCase = LogLine(false, 0xABCD, "BLIND_REQ_CONF");
    otherCase.replace(otherCase.find("0xABCD"), 6, "0xabcd");
    Deliver(*dlg, {LogLine(false, 0x1234, "BLIND_CONF"), LogLine(false, 0xABCD, "REF_CONF"), otherCase});
    // Sent lines never list a node, whatever their address.
    Deliver(*dlg, {LogLine(true, 0x4321, "REF_NODE_CONF"), LogLine(true, 0xFFFF, "XY_RSSI_REQ"),
                   LogLine(true, 0x0000, "PING_REQUEST", nullptr)});
    // The dongle's answers give its COORD entry; an unknown cluster, shown as its number,
    // is neither REF nor BLIND. Sorted by text, not by arrival.
    Deliver(*dlg, {LogLine(false, 0x0010, "BLIND_RSP"), LogLine(false, 0x000F, "REF_REQ"),
                   LogLine(false, 0x0000, "PING_RESPONSE", nullptr), LogLine(false, 0x0000, "DEV_INFO_RSP"),
                   LogLine(false, 0x0301, "0x0042")});
    // Lines without two separators are shown and list nothing.
    Deliver(*dlg, {"", "no separators at all", "one|separator"});

    const std::vector<std::string> expected = {
        "0x0000 COORD @0", "0x000F REF   @F", "0x0010 BLIND @10",
        "0x0301 COORD @301", "0x1234 REF   @1234", "0xABCD REF   @ABCD",
    };
    EXPECT_EQ(NodeEntries(*dlg), expected);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 15);
    EXPECT_EQ(dlg->m_messageLog.GetRowText(14), std::string("one\tseparator"));
}

TEST(NodeListTest, ABurstOfNewNodesIsListedWholeAndSortedAndClearStartsAfresh)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "unused.log");

    // A noisy line can name a new address in every frame: the list takes them a few
    // milliseconds' worth at a time, and none is lost, doubled or given another's address.
    std::vector<std::string> lines, expected;
    for (unsigned i = 1; i <= 200; ++i) {
        const unsigned addr = (i * 7919u) & 0xFFFF;
        lines.push_back(LogLine(false, static_cast<uint16_t>(addr), i % 2 ? "REF_RSP" : "BLIND_RSP"));
        expected.push_back(wxString::Format("0x%04X %s @%X", addr, i % 2 ? "REF  " : "BLIND", addr).utf8_string());
    }
    Deliver(*dlg, lines);
    Deliver(*dlg, lines);
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(PumpUntil([&] { return NodeEntries(*dlg) == expected; }));
    EXPECT_EQ(NodeEntries(*dlg), expected);

    // A double click picks a node; Clear empties both lists, forgets the pick, keeps the
    // count, and the first node is new again.
    dlg->m_nodeList->SetSelection(1);
    wxMouseEvent dclick(wxEVT_LEFT_DCLICK);
    dclick.SetEventObject(dlg->m_nodeList);
    dlg->m_nodeList->GetEventHandler()->ProcessEvent(dclick);
    EXPECT_EQ(dlg->m_nSelectedNode, static_cast<int>(std::stoul(expected[1].substr(2, 4), nullptr, 16)));
    Press(*dlg, ID_CLEAR_LOG);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);
    EXPECT_TRUE(NodeEntries(*dlg).empty());
    EXPECT_EQ(dlg->m_nSelectedNode, 0);
    EXPECT_TRUE(PumpUntil([&] { return Status(*dlg, 0) == "Message count: 400"; })) << Status(*dlg, 0);
    Deliver(*dlg, {lines[0]});
    EXPECT_EQ(dlg->m_nodeList->GetCount(), 1u);
}

TEST(NodeListTest, LinesAnnouncedButClearedBeforeTheWindowTookThemAreEachReported)
{
    CTestFolder folder;
    auto dlg = MakeWindow(folder / "unused.log");
    const wxString title = CTessarinDlg::AppTitle();
    const wxString text = "Not able to read Data Buffer!";
    const auto announceThreeThenClear = [&] {
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(dlg->m_link.AddLine(LogLine(false, 0x0101, "REF_RSP").c_str()), 1);
        Press(*dlg, ID_CLEAR_LOG);
    };

    announceThreeThenClear();
    wxTEST_DIALOG(PumpFor(300), ExpectMessageBox(title, text, dlg.get()), ExpectMessageBox(title, text, dlg.get()),
                  ExpectMessageBox(title, text, dlg.get()));
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);
    EXPECT_EQ(dlg->m_link.GetLineCounter(), 3);

    // While such a box is open the same failure opens no second one: a Clear during a
    // flood would otherwise pile up hundreds.
    announceThreeThenClear();
    wxTEST_DIALOG(PumpFor(300), ExpectBoxLeftOpen(text));

    Deliver(*dlg, {LogLine(false, 0x0101, "REF_RSP")});
    EXPECT_EQ(dlg->m_nodeList->GetCount(), 1u);
}
