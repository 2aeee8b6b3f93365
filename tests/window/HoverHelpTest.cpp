#include "tests/support/GuiTesting.h"

#include <wx/uiaction.h>

#include <memory>
#include <string>

#include "app/TessarinDlg.h"
#include "res/Resources.h"

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
    wxPoint GetCursorScreenPos() const override { return cursor; }
};

TEST(HoverHelp, TextWrapsAndTheTipStaysOnTheScreen)
{
    // Room for wrapWidth - 1 pixels; a word wider keeps a line of its own; each break
    // ends a line, an empty line counts, a final break adds none; leading spaces
    // stay, the spaces at a wrap go.
    struct Case {
        const char* text;
        int wrapWidth;
        std::vector<std::string> lines;
        int widest;
    };
    for (const Case& c : {Case{"aaaaa bbbb", 11, {"aaaaa bbbb"}, 10},
                          {"aaaaa bbbbb", 11, {"aaaaa", "bbbbb"}, 5},
                          {"ab abcdefghijklmnop cd", 8, {"ab", "abcdefghijklmnop", "cd"}, 16},
                          {"aaa    bbb", 6, {"aaa", "bbb"}, 3},
                          {"a\r\n\r\n - b c\r\n", 100, {"a", "", " - b c"}, 6},
                          {"a\nb\rc", 100, {"a", "b", "c"}, 1}}) {
        std::vector<CToolTipCtrlEx::TipLine> lines;
        EXPECT_EQ(CToolTipCtrlEx::WrapText(
                      c.text, c.wrapWidth, [](const char*, size_t n) { return int(n); }, &lines),
                  c.widest);
        std::vector<std::string> texts;
        for (const auto& line : lines)
            texts.emplace_back(c.text + line.begin, line.end - line.begin);
        EXPECT_EQ(texts, c.lines) << c.text;
    }
    // 20 pixels beside the cursor; exactly fitting stays, one pixel more moves it.
    for (const auto& [cursor, tip] : {std::pair(wxPoint(100, 100), wxPoint(120, 120)),
                                      {{1059, 100}, {1079, 120}},
                                      {{1060, 100}, {1079, 120}},
                                      {{1250, 100}, {1079, 120}},
                                      {{100, 729}, {120, 749}},
                                      {{100, 730}, {120, 659}},
                                      {{1270, 790}, {1079, 719}}})
        EXPECT_EQ(CToolTipCtrlEx::PlaceTip(cursor, wxSize(200, 50), wxSize(1280, 800)), tip)
            << cursor.x << "," << cursor.y;
}

TEST(HoverHelp, TipAppearsOnlyWhenTheCursorRestedAtItsAnchor)
{
    wxFrame frame(nullptr, wxID_ANY, "tip");
    wxWindow *areaA = new wxWindow(&frame, wxID_ANY), *areaB = new wxWindow(&frame, wxID_ANY);
    TestTip tip;
    ASSERT_TRUE(tip.Create(&frame));
    // Pending for the delay, then shown beside the resting cursor, sized to its lines.
    tip.cursor = wxPoint(300, 200), tip.ShowTip(areaA, 300, 200, "first text\r\nsecond, longer line", 400);
    EXPECT_TRUE((PumpFor(300), tip.IsPending() && !tip.IsShown())) << "too early";
    EXPECT_TRUE(PumpUntil([&] { return tip.IsShown() && !tip.IsPending(); }, 3000));
    EXPECT_EQ(tip.GetPosition(),
              CToolTipCtrlEx::PlaceTip(wxPoint(300, 200), tip.GetTipClientSize(), wxGetDisplaySize()));
    EXPECT_EQ(tip.GetSize(),
              wxSize(tip.GetTextExtent("second, longer line").x + 6, 2 * tip.GetCharHeight() + 3));
    EXPECT_FALSE((tip.HideTip(), tip.IsShown()));
    // The same control keeps its text, the anchor moves: a pixel off it at the end of
    // the delay, nothing shows. Another control brings its own text; over a
    // suppressed one nothing shows.
    EXPECT_STREQ((tip.ShowTip(areaA, 50, 60, "other text", 400), tip.GetText()),
                 "first text\r\nsecond, longer line");
    tip.cursor = wxPoint(51, 60), tip.EndDelay();
    EXPECT_STREQ((tip.ShowTip(areaB, 51, 60, "b text", 400), tip.GetText()), "b text");
    tip.m_pSuppressed = areaB, tip.EndDelay();
    EXPECT_FALSE(tip.IsShown() || tip.IsPending());
    // A text beyond the 8192-byte buffer is cut before the letter that would end at byte 8192.
    std::string huge;
    while (huge.size() < 10000)
        huge += "\xC3\xA9";
    EXPECT_EQ((tip.ShowTip(&frame, 1, 1, huge.c_str(), 400), std::string(tip.GetText())),
              huge.substr(0, 8190));
}

TEST(HoverHelp, MainWindowShowsHelpOverItsAreasAndKeepsItAwayAfterAClickOrKey)
{
    auto dlg = std::make_unique<CTessarinDlg>();
    ASSERT_TRUE(dlg->Create() && dlg->Show() && PumpUntil([&] { return dlg->IsShownOnScreen(); }) &&
                (PumpFor(300), true));
    wxUIActionSimulator sim;
    CToolTipCtrlEx& tip = dlg->m_toolTip;
    // The help a move to a point asks for: what the tip holds while its delay runs.
    auto moveTo = [&](const wxPoint& point) {
        sim.MouseMove(point), PumpFor(100);
        return std::string(tip.IsPending() ? tip.GetText() : "");
    };
    auto at = [&](int id) { return dlg->FindWindow(id)->GetScreenPosition() + wxPoint(20, 10); };
    // The COM port list on the toolbar, the Send Message group over a disabled button,
    // the Message Log, the Node List; no area, no help.
    for (const auto& [point, text] :
         {std::pair(dlg->m_toolBar.GetToolByPos(6)->GetControl()->GetScreenPosition() + wxPoint(20, 10),
                    "List of available COM ports."),
          {at(IDC_REF_CONF), "Send messages to the nodes."},
          {at(IDC_STATUS_BAR), ""},
          {dlg->m_messageLog.GetScreenPosition() + wxPoint(20, 60), "All incoming and outgoing messages."},
          {at(IDC_NODE_LIST), "Listing of Node addresses"}})
        EXPECT_EQ(moveTo(point).substr(0, 20), std::string(text).substr(0, 20));
    // Shown beside the resting cursor, kept while it moves within the area.
    EXPECT_TRUE(PumpUntil([&] { return tip.IsShown(); }) &&
                tip.GetPosition() ==
                    CToolTipCtrlEx::PlaceTip(at(IDC_NODE_LIST), tip.GetTipClientSize(), wxGetDisplaySize()));
    EXPECT_TRUE((moveTo(at(IDC_NODE_LIST) + wxPoint(4, 4)), tip.IsShown()));
    // A click or a key hides it and keeps it away from the area until the pointer leaves.
    for (const bool click : {true, false}) {
        click ? sim.MouseClick() : sim.Char('a');
        EXPECT_TRUE(PumpUntil([&] { return !tip.IsShown(); }));
        EXPECT_EQ(moveTo(at(IDC_NODE_LIST) + wxPoint(10, 10)), "");
        moveTo(dlg->FindWindow(IDC_MESSAGE_LOG_GROUP)->GetScreenRect().GetTopRight() + wxPoint(5, 50));
        EXPECT_NE(moveTo(at(IDC_NODE_LIST)), "") << click;
        EXPECT_TRUE(PumpUntil([&] { return tip.IsShown(); }));
    }
}

}   // namespace
