#include "tests/window/WindowTestSupport.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/uiaction.h>

#include <cstring>
#include <memory>
#include <string>

#include "app/TessarinDlg.h"
#include "controls/ToolTipCtrlEx.h"

namespace {

// A tip whose cursor is wherever the test puts it and whose delay ends on demand.
class TestTip : public CToolTipCtrlEx {
public:
    wxPoint cursor;

    void EndDelay()
    {
        wxTimer timer;
        wxTimerEvent event(timer);
        OnTimer(event);
    }

protected:
    wxPoint GetCursorScreenPos() const override { return cursor; }
};

std::string LineText(const char* text, const CToolTipCtrlEx::TipLine& line)
{
    return std::string(text + line.begin, line.end - line.begin);
}

const char kLongHelp[] =
    "Send messages to the nodes.\r\n"
    " - XY-RSSI Request (Cluster ID: 0x0011). Broadcast.\r\n"
    " - Blind Node Find Request (Cluster ID: 0x0013). Broadcast.\r\n"
    " - Reference Node Configuration Request (Cluster ID: 0x0017). Unicast.\r\n"
    " - Blind Node Configuration Request (Cluster ID: 0x0018). Unicast.\r\n"
    " - Reference Node Configuration (Cluster ID: 0x0015). Unicast.\r\n"
    " - Blind Node Configuration (Cluster ID: 0x0016). Unicast.\r\n"
    "\r\n"
    "The check box \"Show Parameters\" is used to show an input dialog or not for the unicast messages.\r\n";

} // namespace

TEST(HoverHelpTest, TextBreaksAtLineBreaksAndBeforeWordsThatWouldPassTheWidth)
{
    std::vector<CToolTipCtrlEx::TipLine> lines;
    auto onePixel = [](const char*, size_t n) { return static_cast<int>(n); };

    // Room for wrapWidth - 1 pixels: a line may fill it exactly, not pass it.
    EXPECT_EQ(CToolTipCtrlEx::WrapText("aaaaa bbbb", 11, onePixel, &lines), 10);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(CToolTipCtrlEx::WrapText("aaaaa bbbbb", 11, onePixel, &lines), 5);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(LineText("aaaaa bbbbb", lines[0]), "aaaaa");
    EXPECT_EQ(LineText("aaaaa bbbbb", lines[1]), "bbbbb");

    // A word wider than the room keeps a line of its own, unbroken.
    const char* wide = "ab abcdefghijklmnop cd";
    EXPECT_EQ(CToolTipCtrlEx::WrapText(wide, 8, onePixel, &lines), 16);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(LineText(wide, lines[1]), "abcdefghijklmnop");

    // Each line break ends a line; an empty line counts; a final break adds none;
    // leading spaces stay, the spaces at a wrap go.
    const char* breaks = "a\r\n\r\n - b c\r\n";
    CToolTipCtrlEx::WrapText(breaks, 100, onePixel, &lines);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(LineText(breaks, lines[0]), "a");
    EXPECT_EQ(LineText(breaks, lines[1]), "");
    EXPECT_EQ(LineText(breaks, lines[2]), " - b c");
    const char* wrapped = "aaa    bbb";
    CToolTipCtrlEx::WrapText(wrapped, 6, onePixel, &lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(LineText(wrapped, lines[1]), "bbb");

    // The longest help text with the tip's real font: no line passes 399 pixels.
    wxFrame frame(nullptr, wxID_ANY, "tip");
    TestTip tip;
    ASSERT_TRUE(tip.Create(&frame));
    tip.ShowTip(&frame, 10, 10, kLongHelp, 400);
    tip.HideTip();
    wxClientDC dc(&tip);
    dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    int widest = 0;
    EXPECT_GE(tip.GetLines().size(), 10u);
    for (const auto& line : tip.GetLines()) {
        const int width = dc.GetTextExtent(wxString::FromUTF8(LineText(tip.GetText(), line))).x;
        EXPECT_LE(width, 399) << LineText(tip.GetText(), line);
        widest = std::max(widest, width);
    }
    EXPECT_EQ(tip.GetSize().x, widest + 6);
    EXPECT_EQ(tip.GetSize().y, dc.GetCharHeight() * static_cast<int>(tip.GetLines().size()) + 3);
}

TEST(HoverHelpTest, TipPlacementKeepsTheClientAreaOnTheScreen)
{
    const wxSize screen(1280, 800);
    const wxSize client(200, 50);
    EXPECT_EQ(CToolTipCtrlEx::PlaceTip(wxPoint(100, 100), client, screen), wxPoint(120, 120));
    // Exactly fitting stays beside the cursor; one pixel more moves it.
    EXPECT_EQ(CToolTipCtrlEx::PlaceTip(wxPoint(1059, 100), client, screen).x, 1079);
    EXPECT_EQ(CToolTipCtrlEx::PlaceTip(wxPoint(1060, 100), client, screen).x, 1079);
    EXPECT_EQ(CToolTipCtrlEx::PlaceTip(wxPoint(1250, 100), client, screen).x, 1280 - 200 - 1);
    EXPECT_EQ(CToolTipCtrlEx::PlaceTip(wxPoint(100, 729), client, screen).y, 749);
    EXPECT_EQ(CToolTipCtrlEx::PlaceTip(wxPoint(100, 730), client, screen).y, 730 - 50 - 21);
    EXPECT_EQ(CToolTipCtrlEx::PlaceTip(wxPoint(1270, 790), client, screen), wxPoint(1079, 790 - 71));
}

TEST(HoverHelpTest, TipAppearsOnlyWhenTheCursorRestedAndNotOverASuppressedWindow)
{
    wxFrame frame(nullptr, wxID_ANY, "tip");
    wxWindow* areaA = new wxWindow(&frame, wxID_ANY, wxPoint(0, 0), wxSize(50, 50));
    wxWindow* areaB = new wxWindow(&frame, wxID_ANY, wxPoint(60, 0), wxSize(50, 50));
    TestTip tip;
    ASSERT_TRUE(tip.Create(&frame));
    EXPECT_FALSE(tip.IsShown());
    EXPECT_FALSE(tip.IsPending());
    EXPECT_EQ(tip.m_pControl, nullptr);

    // Hidden and idle -> hidden and pending.
    tip.ShowTip(areaA, 300, 200, "first text\r\nsecond line", 400);
    EXPECT_TRUE(tip.IsPending());
    EXPECT_FALSE(tip.IsShown());
    EXPECT_STREQ(tip.GetText(), "first text\r\nsecond line");
    EXPECT_EQ(tip.m_pControl, areaA);
    EXPECT_EQ(tip.m_ptAnchor, wxPoint(300, 200));
    EXPECT_EQ(tip.GetLines().size(), 2u);
    EXPECT_EQ(tip.GetTipClientSize() + wxSize(2, 2), tip.GetSize());

    // The cursor rests at the anchor: shown beside it, the delay over.
    tip.cursor = wxPoint(300, 200);
    tip.EndDelay();
    EXPECT_TRUE(tip.IsShown());
    EXPECT_FALSE(tip.IsPending());
    EXPECT_EQ(tip.GetPosition(), CToolTipCtrlEx::PlaceTip(wxPoint(300, 200), tip.GetTipClientSize(), wxGetDisplaySize()));

    // Shown -> hidden and idle.
    tip.HideTip();
    EXPECT_FALSE(tip.IsShown());

    // The same control keeps its text and layout; the anchor moves.
    tip.ShowTip(areaA, 50, 60, "other text", 400);
    EXPECT_STREQ(tip.GetText(), "first text\r\nsecond line");
    EXPECT_EQ(tip.m_ptAnchor, wxPoint(50, 60));
    // One pixel off the anchor when the delay ends: nothing shows.
    tip.cursor = wxPoint(51, 60);
    tip.EndDelay();
    EXPECT_FALSE(tip.IsShown());

    // A suppressed control never shows its tip.
    tip.ShowTip(areaB, 50, 60, "b text", 400);
    EXPECT_STREQ(tip.GetText(), "b text");
    tip.m_pSuppressed = areaB;
    tip.cursor = wxPoint(50, 60);
    tip.EndDelay();
    EXPECT_FALSE(tip.IsShown());
    tip.m_pSuppressed = nullptr;

    // Pending -> hidden and idle.
    tip.ShowTip(areaB, 50, 60, "b text", 400);
    EXPECT_TRUE(tip.IsPending());
    tip.HideTip();
    EXPECT_FALSE(tip.IsPending());

    // The real delay: shown once the timer ends, with the cursor still there.
    tip.ShowTip(areaA, 80, 90, "timed", 400);
    tip.cursor = wxPoint(80, 90);
    EXPECT_FALSE(tip.IsShown());
    EXPECT_TRUE(PumpUntil([&] { return tip.IsShown(); }, 3000));
    tip.HideTip();

    // A text beyond the 8192-byte buffer is cut to 8191 bytes.
    const std::string huge(10000, 'x');
    tip.ShowTip(&frame, 1, 1, huge.c_str(), 400);
    EXPECT_EQ(std::strlen(tip.GetText()), 8191u);
    tip.HideTip();
}

TEST(HoverHelpTest, MainWindowShowsHelpOverItsAreasAndKeepsItAwayAfterAClick)
{
    auto dlg = std::make_unique<CTessarinDlg>();
    ASSERT_TRUE(dlg->Create());
    dlg->Show();
    ASSERT_TRUE(PumpUntil([&] { return dlg->IsShownOnScreen(); }));
    PumpFor(300);

    wxUIActionSimulator sim;
    CToolTipCtrlEx& tip = dlg->m_toolTip;
    auto restOver = [&](const wxPoint& screen) {
        sim.MouseMove(screen + wxPoint(-3, 0));
        PumpFor(50);
        sim.MouseMove(screen);
        return PumpUntil([&] { return tip.IsShown(); }, 3000);
    };

    // The Node List: its group's text, beside the cursor.
    const wxPoint inList = dlg->m_nodeList->GetScreenRect().GetPosition() + wxPoint(30, 40);
    ASSERT_TRUE(restOver(inList));
    EXPECT_EQ(std::string(tip.GetText()).rfind("Listing of Node addresses", 0), 0u);
    EXPECT_EQ(tip.m_pControl, dlg->m_nodeListGroup);
    EXPECT_EQ(tip.GetPosition(), CToolTipCtrlEx::PlaceTip(inList, tip.GetTipClientSize(), wxGetDisplaySize()));

    // Moving within the area keeps the shown tip.
    sim.MouseMove(inList + wxPoint(4, 4));
    PumpFor(200);
    EXPECT_TRUE(tip.IsShown());

    // A click hides it and keeps it away from the same area.
    sim.MouseClick();
    EXPECT_TRUE(PumpUntil([&] { return !tip.IsShown(); }));
    EXPECT_EQ(tip.m_pSuppressed, dlg->m_nodeListGroup);
    sim.MouseMove(inList + wxPoint(10, 10));
    PumpFor(1200);
    EXPECT_FALSE(tip.IsShown());

    // Over the bare background between the groups, and back: the tip returns.
    const wxRect logGroup = dlg->m_messageLogGroup->GetScreenRect();
    sim.MouseMove(wxPoint(logGroup.GetRight() + 5, logGroup.y + logGroup.height / 2));
    PumpFor(200);
    EXPECT_EQ(tip.m_pSuppressed, nullptr);
    ASSERT_TRUE(restOver(inList));

    // The Message Log, the Send Message group (over a disabled button) and the COM
    // port list, which lives on the toolbar.
    ASSERT_TRUE(restOver(dlg->m_messageLog.GetScreenRect().GetPosition() + wxPoint(50, 60)));
    EXPECT_EQ(std::string(tip.GetText()).rfind("All incoming and outgoing messages.", 0), 0u);
    ASSERT_TRUE(restOver(dlg->m_refConf->GetScreenRect().GetPosition() + wxPoint(10, 5)));
    EXPECT_EQ(std::string(tip.GetText()).rfind("Send messages to the nodes.", 0), 0u);
    ASSERT_TRUE(restOver(dlg->m_pComPortCombo->GetScreenRect().GetPosition() + wxPoint(20, 10)));
    EXPECT_EQ(std::string(tip.GetText()).rfind("List of available COM ports.", 0), 0u);

    // A key press hides it too; a child that is no area gets no tip.
    sim.Char('a');
    EXPECT_TRUE(PumpUntil([&] { return !tip.IsShown(); }));
    sim.MouseMove(dlg->m_statusBar.GetScreenRect().GetPosition() + wxPoint(40, 5));
    PumpFor(1200);
    EXPECT_FALSE(tip.IsShown());
    EXPECT_FALSE(tip.IsPending());
}
