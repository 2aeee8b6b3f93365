#include "tests/support/GuiTesting.h"
#include "tests/support/TestSupport.h"

#include "controls/MessageLogCtrl.h"

#include <wx/frame.h>

namespace {

using Ints = std::vector<int>;

// The control as the main window makes it (five columns), its page ten whole rows.
class MessageLog : public testing::Test {
protected:
    static constexpr int kPage = 10;
    void SetUp() override
    {
        m_frame = new wxFrame(nullptr, wxID_ANY, "log", wxPoint(0, 0), wxSize(700, 500));
        m_log = new CMessageLogCtrl(new wxWindow(m_frame, wxID_ANY), wxID_ANY, wxPoint(10, 10));
        for (auto [title, width] :
             {std::pair("Time", 80), {"Dir", 30}, {"Addr", 50}, {"Message", 140}, {"Payload", 0}})
            m_log->InsertColumn(title, width, m_log->GetColumnCount());
        m_frame->Show(), m_log->SetClientSize(400, 16 + kPage * H() + 3);
        ASSERT_TRUE(PumpUntil([&] { return m_log->IsShownOnScreen() && m_log->GetRowsPerPage() == kPage; }) &&
                    (PumpFor(200), true));
    }
    void TearDown() override { m_frame->Destroy(); }

    void Append(int n)
    {
        for (int i = 0; i < n; ++i)
            m_log->InsertRow("10:00:00.100\t|-->|\t0x1234\tREF_REQ\t01 02 03", -1);
    }
    // True when the control consumed the event, so the window never sees it.
    bool Send(wxEvent&& event)
    {
        event.SetEventObject(m_log);
        return m_log->GetEventHandler()->ProcessEvent(event);
    }
    void Scroll(wxEventType type, int orient, int pos = 0) { Send(wxScrollWinEvent(type, pos, orient)); }
    bool Key(int code)
    {
        wxKeyEvent e(wxEVT_KEY_DOWN);
        e.m_keyCode = code;
        return Send(std::move(e));
    }
    static wxMouseEvent Wheel(int rotation)
    {
        wxMouseEvent e(wxEVT_MOUSEWHEEL);
        e.m_wheelDelta = 120, e.m_linesPerAction = 3, e.m_wheelRotation = rotation;
        return e;
    }
    bool Mouse(wxEventType type, int y)
    {
        wxMouseEvent e(type);
        e.m_x = 200;
        e.m_y = y;
        return Send(std::move(e));
    }
    int H() const { return m_log->GetRowHeight(); }
    int RowY(int pageRow) const { return 16 + pageRow * H() + H() / 2; }
    Ints View() const { return {m_log->GetCurSel(), m_log->GetTopRow(), m_log->GetScrollPos(wxVERTICAL)}; }
    Ints Edges(int col) const
    {
        const auto& rc = m_log->GetColumn(col).rcHeader;
        return {rc.left, rc.top, rc.right, rc.bottom};
    }
    int W(const wxString& text) const { return m_log->GetTextExtent(text).x; }
    // The widest extent once a repaint has measured the page.
    int PaintedExtent(int expected)
    {
        m_log->Refresh(), PumpFor(150), PumpUntil([&] { return m_log->GetMaxExtent() == expected; });
        return m_log->GetMaxExtent();
    }

    wxFrame* m_frame = nullptr;
    CMessageLogCtrl* m_log = nullptr;
};

TEST_F(MessageLog, ColumnsFillTheHeaderAndTheRowEndsMakeTheExtent)
{
    EXPECT_TRUE(Edges(0) == Ints({0, 0, 80, 16}) && Edges(4) == Ints({300, 0, 400, 16}))
        << "the last reaches the right edge";
    // Cells after the last column count from the sum of the widths; the last cell of a
    // short row at its column; empty ones add nothing.
    const wxString payload =
        "10:00:00.000\t|<--|\t0xFFFF\tXY_RSSI_REQ\tAB CD EF 01 23 45 67 89 " + wxString('F', 60);
    for (const auto& [row, extent] :
         {std::pair<wxString, int>("1\t2\t3\t4\t5\tsix\tseven", 300 + W("six\tseven")),
          {"", 0},
          {"a\tb\t", 0},
          {"a\tb", 80 + W("b")},
          {payload, 300 + W(payload.AfterLast('\t'))}})
        EXPECT_EQ((m_log->DeleteAllRows(), m_log->InsertRow(row, -1), PaintedExtent(extent)), extent) << row;
    // In content coordinates, whatever the scroll; a running maximum.
    ASSERT_GT(
        (Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, m_log->GetHScrollLimit()), m_log->GetHScrollPos()),
        0);
    const int wider = 300 + W(payload.AfterLast('\t') + "FF");
    EXPECT_EQ((m_log->InsertRow(payload + "FF", -1), PaintedExtent(wider)), wider);
    EXPECT_EQ((m_log->InsertRow("x", -1), PaintedExtent(wider)), wider);

    // A resize moves only the last edge; positions clamp; a width-0 column no longer
    // last keeps its width.
    m_log->SetClientSize(520, m_log->GetClientSize().y);
    ASSERT_TRUE(PumpUntil([&] { return Edges(4)[2] == 520; }));
    m_log->InsertColumn("Extra", 20, 99), m_log->InsertColumn("First", 10, -4);
    EXPECT_EQ(
        Ints({m_log->GetColumn(0).title == "First", Edges(1)[0], Edges(5)[0], Edges(5)[2], Edges(6)[2]}),
        Ints({1, 10, 310, 310, 520}));
}

TEST_F(MessageLog, InsertFollowsTheLogKeepsTextAndSelectionAndCoalescesRepaints)
{
    // Nothing selected at first. Up to the page size the view stays; past it the new
    // row is the last whole row, even when scrolled back.
    EXPECT_EQ((Append(kPage + 1), View()), Ints({-1, 0, 0}));
    Append(1);
    EXPECT_TRUE(PumpUntil(
        [this] {
            return m_log->GetScrollRange(wxVERTICAL) == 12 && View() == Ints({-1, 2, 2});
        },
        1000));
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 0);
    EXPECT_EQ((Append(1), m_log->GetTopRow()), 3);
    // Out-of-range positions append; text is kept exactly, up to a NUL.
    const wxString accented = wxString::FromUTF8("\xC2\xB5s\t\xE2\x86\x92\t\xF0\x9F\x93\xA1");
    EXPECT_EQ(Ints({m_log->InsertRow(wxString("past\tend"), 1000), m_log->InsertRow(accented, -7),
                    m_log->InsertRow(wxString("ab\0cd", 5), -1)}),
              Ints({13, 14, 15}));
    EXPECT_EQ(wxString::FromUTF8(m_log->GetRowText(13)) + wxString::FromUTF8(m_log->GetRowText(14)) +
                  m_log->GetRowText(15),
              "past\tend" + accented + "ab");
    // Inserting at or above the selected row keeps that row selected; below, nothing moves.
    m_log->SetCurSel(5), m_log->InsertRow("at", 5), m_log->InsertRow("below", 7);
    EXPECT_TRUE(!m_log->GetRowText(18) && !m_log->GetRowText(-1) && m_log->GetCurSel() == 6);

    // A stream of rows repaints a few times a second, not once per row.
    int paints = 0;
    m_log->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& event) { ++paints, event.Skip(); });
    for (const auto start = std::chrono::steady_clock::now(); MsSince(start) < 1500; PumpFor(4))
        Append(1);
    EXPECT_TRUE(m_log->GetRowCount() > 100 && paints < 25 &&
                PumpUntil([this] { return m_log->GetScrollRange(wxVERTICAL) == m_log->GetRowCount(); }, 1000))
        << paints;
}

TEST_F(MessageLog, SelectionDeleteAndClearRules)
{
    EXPECT_TRUE((m_log->SetCurSel(5), Key(WXK_DOWN)) && m_log->GetCurSel() == -1) << "no rows: no selection";
    Append(50);
    // Selections scroll into view (to the top, to the last whole row, or not at all)
    // and clamp; keys move them by rows and pages.
    struct Step {
        int key, row, sel, top;
    };
    for (const Step& s : {Step{0, 5, 5, 5},
                          {0, 30, 30, 21},
                          {0, 25, 25, 21},
                          {0, 1000, 49, 40},
                          {0, -9, 0, 0},
                          {0, 42, 42, 33},
                          {WXK_DOWN, 0, 43, 34},
                          {WXK_UP, 0, 42, 34},
                          {WXK_PAGEUP, 0, 32, 32},
                          {WXK_PAGEDOWN, 0, 42, 33},
                          {WXK_PAGEDOWN, 0, 49, 40},
                          {WXK_HOME, 0, 0, 0},
                          {WXK_UP, 0, 0, 0},
                          {WXK_END, 0, 49, 40},
                          {WXK_NUMPAD_PAGEUP, 0, 39, 39}}) {
        EXPECT_TRUE(s.key ? Key(s.key) : (m_log->SetCurSel(s.row), m_log->GetCurSel() == s.sel));
        EXPECT_EQ(View(), Ints({s.sel, s.top, s.top})) << "key " << s.key << ", row " << s.row;
    }
    EXPECT_FALSE(Key(WXK_LEFT) || Key('a')) << "other keys go on to the window";

    // A view past the end is pulled back so the page stays full. Deleting above the
    // selection keeps its row, deleting it selects the next; out of range, nothing.
    m_log->InsertRow("eleventh", 11), Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 41);
    m_log->DeleteRow(50), m_log->DeleteRow(49), m_log->SetCurSel(48);
    EXPECT_EQ(View(), Ints({48, 39, 39}));
    m_log->SetCurSel(10);
    for (int row : {50, -1, 3, 9})
        m_log->DeleteRow(row);
    EXPECT_TRUE(m_log->GetRowCount() == 47 && m_log->GetCurSel() == 9 &&
                m_log->GetRowText(9) == std::string("eleventh"));
    while (m_log->GetRowCount() > 0)
        m_log->DeleteRow(0);
    EXPECT_EQ(m_log->GetCurSel(), -1) << "no rows: no selection";

    // Clear in one step, even of a million rows: both views home, selection one past
    // the end, so appended rows show none selected; Down selects the last.
    Append(1000000), m_log->InsertRow(std::string(200, 'M').c_str(), -1);
    ASSERT_TRUE(
        PumpUntil([this] { return m_log->GetHScrollLimit() > 0; }) &&
        (m_log->SetCurSel(20), Scroll(wxEVT_SCROLLWIN_LINEDOWN, wxHORIZONTAL), m_log->GetHScrollPos() == 5));
    m_log->DeleteAllRows();
    EXPECT_EQ(Ints({m_log->GetRowCount(), m_log->GetCurSel(), m_log->GetTopRow(), m_log->GetVScrollPos(),
                    m_log->GetHScrollPos(), m_log->GetMaxExtent(), m_log->GetScrollRange(wxHORIZONTAL) > 5}),
              Ints(7, 0));
    EXPECT_TRUE((Append(3), m_log->GetCurSel() == 3) && Key(WXK_DOWN) && m_log->GetCurSel() == 2);
}

TEST_F(MessageLog, ScrollBarsAndWheelMoveByTheirRules)
{
    Append(50), m_log->InsertRow(wxString('W', 400), -1);
    // Range 0 .. extent - width + 5, so the bar's own count is one more.
    ASSERT_TRUE(PumpUntil([&] {
        return m_log->GetHScrollLimit() > 300 &&
               m_log->GetScrollRange(wxHORIZONTAL) == m_log->GetHScrollLimit() + 5;
    }));
    PumpFor(200);   // the bars take their room
    const int width = m_log->GetClientSize().x, limit = m_log->GetHScrollLimit();
    const int page = m_log->GetRowsPerPage(), bottom = m_log->GetRowCount() - page, V = wxVERTICAL,
              Hz = wxHORIZONTAL;
    EXPECT_EQ(limit, m_log->GetMaxExtent() - width + 1);
    // Rows and pages within 0 .. rows - page; 5 pixels a line, half the width a page,
    // the thumb in steps of 64 except at the limit.
    struct Step {
        wxEventType type;
        int orient, pos, expected;
    };
    for (const Step& s : {Step{wxEVT_SCROLLWIN_THUMBTRACK, V, 0, 0},
                          {wxEVT_SCROLLWIN_LINEDOWN, V, 0, 1},
                          {wxEVT_SCROLLWIN_PAGEDOWN, V, 0, 1 + page},
                          {wxEVT_SCROLLWIN_PAGEUP, V, 0, 1},
                          {wxEVT_SCROLLWIN_LINEUP, V, 0, 0},
                          {wxEVT_SCROLLWIN_LINEUP, V, 0, 0},
                          {wxEVT_SCROLLWIN_THUMBRELEASE, V, 1000, bottom},
                          {wxEVT_SCROLLWIN_TOP, V, 0, bottom},
                          {wxEVT_SCROLLWIN_LINEDOWN, Hz, 0, 5},
                          {wxEVT_SCROLLWIN_PAGEDOWN, Hz, 0, 5 + width / 2},
                          {wxEVT_SCROLLWIN_PAGEUP, Hz, 0, 5},
                          {wxEVT_SCROLLWIN_LINEUP, Hz, 0, 0},
                          {wxEVT_SCROLLWIN_THUMBTRACK, Hz, 100, 64},
                          {wxEVT_SCROLLWIN_THUMBTRACK, Hz, limit, limit},
                          {wxEVT_SCROLLWIN_THUMBTRACK, Hz, limit + 500, limit},
                          {wxEVT_SCROLLWIN_THUMBTRACK, Hz, -3, 0}}) {
        const int pos =
            (Scroll(s.type, s.orient, s.pos), s.orient == V ? m_log->GetTopRow() : m_log->GetHScrollPos());
        EXPECT_EQ(Ints({pos, m_log->GetScrollPos(s.orient)}), Ints({s.expected, s.expected}))
            << s.orient << " to " << s.expected;
    }
    // The wheel: the platform's lines per notch; half a notch waits for the other half.
    for (const auto& [rotation, top] : {std::pair(120, bottom - 3), {-60, bottom - 3}, {-60, bottom}})
        EXPECT_EQ((Send(Wheel(rotation)), m_log->GetTopRow()), top) << rotation;
}

TEST_F(MessageLog, MouseSelectsRowsOnlyAndDragScrolls)
{
    Append(50), Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 20);
    // Either button selects and captures until released; the header is not a row.
    struct Click {
        wxEventType down, up;
        int y, sel;
    };
    for (const Click& c : {Click{wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, RowY(3), 23},
                           {wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP, RowY(6), 26},
                           {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, 8, 26}})
        EXPECT_TRUE((Mouse(c.down, c.y), Mouse(c.up, 8), m_log->GetCurSel() == c.sel && !m_log->HasCapture()))
            << c.y;
    EXPECT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == m_log; })) << "a click takes the focus";
    // Dragging below the control selects past the page, which follows; moves without
    // a button select nothing.
    Mouse(wxEVT_LEFT_DOWN, RowY(1));
    for (int i = 0; i < 6 && m_log->HasCapture(); ++i)
        Mouse(wxEVT_MOTION, m_log->GetClientSize().y + 20);
    const int dragged = m_log->GetCurSel();
    EXPECT_TRUE(dragged >= 32 && m_log->GetTopRow() == dragged - kPage + 1) << dragged;
    EXPECT_TRUE((Mouse(wxEVT_LEFT_UP, 0), Mouse(wxEVT_MOTION, RowY(0)), m_log->GetCurSel() == dragged));

    // Below the last row, down to its last pixel line, a click selects nothing.
    m_log->DeleteAllRows(), Append(3), m_log->SetCurSel(1);
    for (const auto& [y, sel] : {std::pair(16 + 6 * H(), 1), {16 + 3 * H() - 1, 1}, {16 + 3 * H() - 2, 2}})
        EXPECT_TRUE((Mouse(wxEVT_LEFT_DOWN, y), Mouse(wxEVT_LEFT_UP, y), m_log->GetCurSel() == sel)) << y;
    // A double click outside the rows, or on a disabled control, is swallowed; so are
    // keys, and clicks select nothing.
    EXPECT_EQ(Ints({Mouse(wxEVT_LEFT_DCLICK, 5), Mouse(wxEVT_LEFT_DCLICK, 16 + 5 * H()),
                    Mouse(wxEVT_LEFT_DCLICK, 17)}),
              Ints({1, 1, 0}));
    m_log->Disable();
    EXPECT_TRUE(Mouse(wxEVT_LEFT_DCLICK, 17) && Key(WXK_LEFT) && !Mouse(wxEVT_LEFT_DOWN, RowY(0)) &&
                m_log->GetCurSel() == 2);
}

}   // namespace
