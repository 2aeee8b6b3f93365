#include "tests/support/GuiTesting.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/uiaction.h>

#include <memory>
#include <string>
#include <vector>

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

std::vector<std::string> LineTexts(const char* text, const std::vector<CToolTipCtrlEx::TipLine>& lines)
{
    std::vector<std::string> texts;
    for (const auto& line : lines)
        texts.emplace_back(text + line.begin, line.end - line.begin);
    return texts;
}

} // namespace

TEST(HoverHelpTest, TextBreaksAtLineBreaksAndBeforeWordsThatWouldPassTheWidth)
{
    struct Case {
        const char* text;
        int wrapWidth;
        std::vector<std::string> lines;
        int widest;
    };
    const Case cases[] = {
        // Room for wrapWidth - 1 pixels: a line may fill it exactly, not pass it.
        {"aaaaa bbbb", 11, {"aaaaa bbbb"}, 10},
        {"aaaaa bbbbb", 11, {"aaaaa", "bbbbb"}, 5},
        // A word wider than the room keeps a line of its own, unbroken.
        {"ab abcdefghijklmnop cd", 8, {"ab", "abcdefghijklmnop", "cd"}, 16},
        // Each line break ends a line; an empty line counts; a final break adds none;
        // leading spaces stay, the spaces at a wrap go.
        {"a\r\n\r\n - b c\r\n", 100, {"a", "", " - b c"}, 6},
        {"aaa    bbb", 6, {"aaa", "bbb"}, 3},
    };
    const auto onePixel = [](const char*, size_t n) { return static_cast<int>(n); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<CToolTipCtrlEx::TipLine> lines;
        EXPECT_EQ(CToolTipCtrlEx::WrapText(c.text, c.wrapWidth, onePixel, &lines), c.widest);
        EXPECT_EQ(LineTexts(c.text, lines), c.lines);
    }

}

TEST(HoverHelpTest, TipPlacementKeepsTheClientAreaOnTheScreen)
{
    const wxSize screen(1280, 800);
    const wxSize client(200, 50);
    // Exactly fitting stays beside the cursor; one pixel more moves it.
    const std::pair<wxPoint, wxPoint> cases[] = {
        {{100, 100}, {120, 120}},  {{1059, 100}, {1079, 120}}, {{1060, 100}, {1079, 120}},
        {{1250, 100}, {1079, 120}}, {{100, 729}, {120, 749}},  {{100, 730}, {120, 659}},
        {{1270, 790}, {1079, 719}},
    };
    for (const auto& [cursor, tip] : cases)
        EXPECT_EQ(CToolTipCtrlEx::PlaceTip(cursor, client, screen), tip) << cursor.x << "," << cursor.y;
}

TEST(HoverHelpTest, TipAppearsOnlyWhenTheCursorRestedAtItsAnchor)
{
    wxFrame frame(nullptr, wxID_ANY, "tip");
    wxWindow* areaA = new wxWindow(&frame, wxID_ANY, wxPoint(0, 0), wxSize(50, 50));
    wxWindow* areaB = new wxWindow(&frame, wxID_ANY, wxPoint(60, 0), wxSize(50, 50));
    TestTip tip;
    ASSERT_TRUE(tip.Create(&frame));

    // Hidden and idle -> hidden and pending.
    tip.ShowTip(areaA, 300, 200, "first text\r\nsecond line", 400);
    EXPECT_TRUE(tip.IsPending());
    EXPECT_FALSE(tip.IsShown());
    EXPECT_EQ(tip.m_pControl, areaA);

    // The cursor rests at the anchor: shown beside it, the delay over; then hidden.
    tip.cursor = wxPoint(300, 200);
    tip.EndDelay();
    EXPECT_TRUE(tip.IsShown());
    EXPECT_FALSE(tip.IsPending());
    EXPECT_EQ(tip.GetPosition(), CToolTipCtrlEx::PlaceTip(wxPoint(300, 200), tip.GetTipClientSize(), wxGetDisplaySize()));
    tip.HideTip();
    EXPECT_FALSE(tip.IsShown());

    // The same control keeps its text and layout; the anchor moves. One pixel off the
    // anchor when the delay ends: nothing shows.
    tip.ShowTip(areaA, 50, 60, "other text", 400);
    EXPECT_STREQ(tip.GetText(), "first text\r\nsecond line");
    EXPECT_EQ(tip.m_ptAnchor, wxPoint(50, 60));
    tip.cursor = wxPoint(51, 60);
    tip.EndDelay();
    EXPECT_FALSE(tip.IsShown());

    // Another control brings its own text; pending -> hidden and idle.
    tip.ShowTip(areaB, 50, 60, "b text", 400);
    EXPECT_STREQ(tip.GetText(), "b text");
    tip.HideTip();
    EXPECT_FALSE(tip.IsPending());

    // A text beyond the 8192-byte buffer is cut to fit, before the two-byte letter that
    // would end at byte 8192.
    std::string huge;
    for (int i = 0; i < 5000; ++i)
        huge += "\xC3\xA9";
    tip.ShowTip(&frame, 1, 1, huge.c_str(), 400);
    EXPECT_EQ(tip.GetText(), huge.substr(0, 8190));
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
    auto startsWith = [&](const char* text) { return std::string(tip.GetText()).rfind(text, 0) == 0; };

    // The Node List: its group's text, beside the cursor; moving within the area keeps it.
    const wxPoint inList = dlg->m_nodeList->GetScreenRect().GetPosition() + wxPoint(30, 40);
    ASSERT_TRUE(restOver(inList));
    EXPECT_TRUE(startsWith("Listing of Node addresses")) << tip.GetText();
    EXPECT_EQ(tip.m_pControl, dlg->m_nodeListGroup);
    EXPECT_EQ(tip.GetPosition(), CToolTipCtrlEx::PlaceTip(inList, tip.GetTipClientSize(), wxGetDisplaySize()));
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

    // The Message Log, the COM port list, which lives on the toolbar, and the Send
    // Message group (over a disabled button).
    const std::pair<wxPoint, const char*> areas[] = {
        {dlg->m_messageLog.GetScreenRect().GetPosition() + wxPoint(50, 60), "All incoming and outgoing messages."},
        {dlg->m_pComPortCombo->GetScreenRect().GetPosition() + wxPoint(20, 10), "List of available COM ports."},
        {dlg->m_refConf->GetScreenRect().GetPosition() + wxPoint(10, 5), "Send messages to the nodes."},
    };
    for (const auto& [at, text] : areas) {
        ASSERT_TRUE(restOver(at)) << text;
        EXPECT_TRUE(startsWith(text)) << tip.GetText();
    }
    // The Send Message help, the longest, with the tip's real font: no line passes 399
    // pixels, and the tip is sized to its lines.
    wxClientDC dc(&tip);
    dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    int widest = 0;
    EXPECT_GE(tip.GetLines().size(), 10u);
    for (const std::string& line : LineTexts(tip.GetText(), tip.GetLines())) {
        const int width = dc.GetTextExtent(wxString::FromUTF8(line)).x;
        EXPECT_LE(width, 399) << line;
        widest = std::max(widest, width);
    }
    EXPECT_EQ(tip.GetSize(), wxSize(widest + 6, dc.GetCharHeight() * static_cast<int>(tip.GetLines().size()) + 3));

    // A key press hides it too; a child that is no area gets no tip.
    sim.Char('a');
    EXPECT_TRUE(PumpUntil([&] { return !tip.IsShown(); }));
    sim.MouseMove(dlg->m_statusBar.GetScreenRect().GetPosition() + wxPoint(40, 5));
    PumpFor(1200);
    EXPECT_FALSE(tip.IsShown());
    EXPECT_FALSE(tip.IsPending());
}
