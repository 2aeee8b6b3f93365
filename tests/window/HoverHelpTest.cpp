#include "tests/support/GuiTesting.h"
#include "tests/support/TestSupport.h"

#include <wx/uiaction.h>

#include "app/TessarinDlg.h"
#include "res/Resources.h"

namespace {

// A tip whose cursor is wherever the test puts it.
class TestTip : public CToolTipCtrlEx {
public:
    wxPoint cursor;
    wxPoint GetCursorScreenPos() const override { return cursor; }
};

TEST(HoverHelp, TextWrapsAndTheTipStaysOnTheScreen)
{
    // Room for wrapWidth - 1 pixels; a word wider keeps a line of its own; each break
    // ends a line, an empty line counts, a final break adds none; leading spaces
    // stay, the spaces at a wrap go.
    using Case = std::tuple<const char*, int, Texts, int>;
    for (const auto& [text, wrapWidth, expected, widest] :
         {Case{"aaaaa bbbb", 11, {"aaaaa bbbb"}, 10},
          {"aaaaa bbbbb", 11, {"aaaaa", "bbbbb"}, 5},
          {"ab abcdefghijklmnop cd", 8, {"ab", "abcdefghijklmnop", "cd"}, 16},
          {"aaa    bbb", 6, {"aaa", "bbb"}, 3},
          {"a\r\n\r\n - b c\r\n", 100, {"a", "", " - b c"}, 6},
          {"a\nb\rc", 100, {"a", "b", "c"}, 1}}) {
        std::vector<CToolTipCtrlEx::TipLine> lines;
        EXPECT_EQ(CToolTipCtrlEx::WrapText(
                      text, wrapWidth, [](const char*, size_t n) { return int(n); }, &lines),
                  widest);
        Texts texts;
        for (const auto& line : lines)
            texts.emplace_back(text + line.begin, line.end - line.begin);
        EXPECT_EQ(texts, expected) << text;
    }
    // 20 pixels beside the cursor; exactly fitting stays, one pixel more moves it.
    for (const auto& [cursor, tip] : {std::pair(wxPoint(100, 100), wxPoint(120, 120)),
                                      {{1059, 100}, {1079, 120}},
                                      {{1060, 100}, {1079, 120}},
                                      {{100, 729}, {120, 749}},
                                      {{100, 730}, {120, 659}},
                                      {{1270, 790}, {1079, 719}}})
        EXPECT_EQ(CToolTipCtrlEx::PlaceTip(cursor, wxSize(200, 50), wxSize(1280, 800)), tip)
            << cursor.x << "," << cursor.y;
}

// Shown 750 ms later beside the resting cursor, sized to its lines. A pixel off the
// anchor at the end of the delay, or over a suppressed control, nothing shows. A text beyond the 8192-byte
// buffer is cut before the letter that would end at byte 8192.
TEST(HoverHelp, TipAppearsOnlyWhenTheCursorRestedAtItsAnchor)
{
    wxFrame frame(nullptr, wxID_ANY, "tip");
    TestTip tip;
    ASSERT_TRUE(tip.Create(&frame));
    tip.cursor = wxPoint(300, 200);
    const auto start = std::chrono::steady_clock::now();
    tip.ShowTip(new wxWindow(&frame, wxID_ANY), 300, 200, "first text\r\nsecond, longer line", 400);
    ASSERT_TRUE(PumpUntil([&] { return tip.IsShown() && !tip.IsPending(); }));
    const long long delay = MsSince(start);
    EXPECT_TRUE(delay >= 745 && delay < 1200) << delay;
    EXPECT_EQ(tip.GetPosition(),
              CToolTipCtrlEx::PlaceTip(wxPoint(300, 200), tip.GetTipClientSize(), wxGetDisplaySize()));
    EXPECT_EQ(tip.GetSize(),
              wxSize(tip.GetTextExtent("second, longer line").x + 6, 2 * tip.GetCharHeight() + 3));
    tip.HideTip();

    tip.cursor = wxPoint(51, 60);
    tip.ShowTip(&frame, 50, 60, "b text", 400);
    ASSERT_TRUE(PumpUntil([&] { return !tip.IsPending(); }));
    EXPECT_FALSE(tip.IsShown()) << "a pixel off";
    tip.ShowTip(&frame, 51, 60, "b text", 400);
    tip.Suppress(&frame);
    ASSERT_TRUE(PumpUntil([&] { return !tip.IsPending(); }));
    EXPECT_FALSE(tip.IsShown()) << "suppressed";

    const std::string huge = wxString(wxUniChar(0xE9), 5000).utf8_string();
    tip.ShowTip(new wxWindow(&frame, wxID_ANY), 1, 1, huge.c_str(), 400);
    EXPECT_EQ(std::string(tip.GetText()), huge.substr(0, 8190));
}

// The main window asks for an area's help as the pointer rests there; a click hides the
// tip and keeps it away from that area until the pointer leaves.
TEST(HoverHelp, MainWindowKeepsHelpAwayAfterAClickUntilThePointerLeaves)
{
    CTessarinDlg dlg;
    ASSERT_TRUE(dlg.Create() && dlg.Show());
    ASSERT_TRUE(PumpUntil([&] { return dlg.IsShownOnScreen(); }));
    PumpFor(300);
    wxUIActionSimulator sim;
    const CToolTipCtrlEx& tip = dlg.GetToolTip();
    // The help a move asks for: what the tip holds while its delay runs.
    auto moveTo = [&](const wxPoint& point) {
        sim.MouseMove(point);
        PumpFor(100);
        return std::string(tip.IsPending() ? tip.GetText() : "");
    };
    const wxPoint list = dlg.FindWindow(IDC_NODE_LIST)->GetScreenPosition() + wxPoint(20, 10);
    const wxPoint away =
        dlg.FindWindow(IDC_MESSAGE_LOG_GROUP)->GetScreenRect().GetTopRight() + wxPoint(5, 50);
    EXPECT_EQ(moveTo(list).substr(0, 25), "Listing of Node addresses");
    EXPECT_TRUE(PumpUntil([&] { return tip.IsShown(); }));
    sim.MouseClick();
    EXPECT_TRUE(PumpUntil([&] { return !tip.IsShown(); }));
    EXPECT_EQ(moveTo(list + wxPoint(10, 10)), "");
    moveTo(away);
    EXPECT_NE(moveTo(list), "");
}

}   // namespace
