#include "tests/controls/MessageLogFixture.h"

namespace {

int TextWidth(wxWindow* window, const wxString& text)
{
    wxClientDC dc(window);
    dc.SetFont(window->GetFont());
    wxCoord w = 0, h = 0;
    dc.GetMultiLineTextExtent(text, &w, &h);
    return w;
}

TEST_F(MessageLogTest, ColumnsFillTheHeaderToTheRightEdge)
{
    const int right = m_log->GetClientSize().x;
    ASSERT_EQ(m_log->GetColumnCount(), 5);
    const int lefts[] = {0, 80, 110, 160, 300};
    for (int i = 0; i < 5; ++i) {
        const auto& rc = m_log->GetColumn(i).rcHeader;
        EXPECT_EQ(rc.left, lefts[i]) << i;
        EXPECT_EQ(rc.right, i < 4 ? lefts[i + 1] : right) << i;
        EXPECT_EQ(rc.top, 0);
        EXPECT_EQ(rc.bottom, 16);
    }

    // A resize moves only the last column's right edge; a width-0 last column still fills.
    m_log->SetClientSize(520, m_log->GetClientSize().y);
    ASSERT_TRUE(PumpUntil([this] { return m_log->GetClientSize().x == 520; }));
    EXPECT_EQ(m_log->GetColumn(4).rcHeader.right, 520);
    EXPECT_EQ(m_log->GetColumn(3).rcHeader.right, 300);

    // Positions clamp: past the end appends, below zero inserts first.
    m_log->InsertColumn("Extra", 20, 99);
    m_log->InsertColumn("First", 10, -4);
    ASSERT_EQ(m_log->GetColumnCount(), 7);
    EXPECT_EQ(m_log->GetColumn(0).title, "First");
    EXPECT_EQ(m_log->GetColumn(1).rcHeader.left, 10);
    EXPECT_EQ(m_log->GetColumn(5).title, "Payload");
    EXPECT_EQ(m_log->GetColumn(5).rcHeader.right, 310) << "no longer last: its own width 0";
    EXPECT_EQ(m_log->GetColumn(6).rcHeader.right, 520);

    // Scrolled sideways the last face still reaches the edge: the layout never moves.
    m_log->InsertRow(wxString('W', 300), -1);
    ASSERT_TRUE(PumpUntil([this] { return m_log->GetHScrollLimit() > 0; }));
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, m_log->GetHScrollLimit());
    EXPECT_GT(m_log->GetHScrollPos(), 0);
    EXPECT_EQ(m_log->GetColumn(6).rcHeader.right, 520);
}

TEST_F(MessageLogTest, InsertKeepsTextSelectionAndFollowsTheLog)
{
    EXPECT_EQ(m_log->GetCurSel(), -1) << "nothing selected after creation";

    // Appends up to the page size leave the view alone; the row past it is partly shown.
    Append(kPage + 1);
    EXPECT_EQ(m_log->GetTopRow(), 0);
    EXPECT_EQ(m_log->GetCurSel(), -1) << "appends leave no selection";
    // The next index exceeds the page: it becomes the last whole row.
    Append(1);
    EXPECT_EQ(m_log->GetTopRow(), 2);
    EXPECT_EQ(m_log->GetVScrollPos(), 2);
    // The bar follows within a frame or two of a burst of rows.
    EXPECT_TRUE(PumpUntil([this] { return m_log->GetScrollRange(wxVERTICAL) == 12; }, 1000));
    EXPECT_EQ(m_log->GetScrollPos(wxVERTICAL), 2);
    EXPECT_EQ(m_log->GetScrollThumb(wxVERTICAL), kPage);

    // Scrolled back, an append still brings the view to the new row.
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 0);
    ASSERT_EQ(m_log->GetTopRow(), 0);
    Append(1);
    EXPECT_EQ(m_log->GetTopRow(), 3);

    // Out-of-range positions append; the text is kept exactly, tabs, letters beyond
    // ASCII and all; an embedded NUL ends the row, as a C string would.
    const wxString accented = wxString::FromUTF8("\xC2\xB5s\t\xE2\x86\x92\t\xF0\x9F\x93\xA1");
    EXPECT_EQ(m_log->InsertRow(wxString("past\tend"), 1000), 13);
    EXPECT_EQ(m_log->InsertRow(accented, -7), 14);
    EXPECT_EQ(m_log->InsertRow(wxString("ab\0cd", 5), -1), 15);
    EXPECT_STREQ(m_log->GetRowText(13), "past\tend");
    EXPECT_EQ(wxString::FromUTF8(m_log->GetRowText(14)), accented);
    EXPECT_STREQ(m_log->GetRowText(15), "ab");
    EXPECT_EQ(m_log->GetRowText(16), nullptr);
    EXPECT_EQ(m_log->GetRowText(-1), nullptr);

    // Inserting at the selected row, or above it, keeps that row selected; below, nothing moves.
    m_log->SetCurSel(5);
    const std::string selected = m_log->GetRowText(5);
    m_log->InsertRow("at", 5);
    EXPECT_EQ(m_log->GetCurSel(), 6);
    m_log->InsertRow("below", 7);
    EXPECT_EQ(m_log->GetCurSel(), 6);
    EXPECT_EQ(m_log->GetRowText(6), selected);
}

TEST_F(MessageLogTest, DeleteAndSelectionRules)
{
    // No rows: anything selects nothing, and Down still selects nothing; with rows, Down
    // from -1 selects the first.
    m_log->SetCurSel(5);
    EXPECT_EQ(m_log->GetCurSel(), -1);
    EXPECT_TRUE(Key(WXK_DOWN));
    EXPECT_EQ(m_log->GetCurSel(), -1);
    Append(3);
    EXPECT_TRUE(Key(WXK_DOWN));
    EXPECT_EQ(m_log->GetCurSel(), 0);

    // Selections scroll into view: above it to the top, below it to the last whole row,
    // in it not at all; out-of-range rows clamp.
    Append(47);
    ASSERT_EQ(m_log->GetTopRow(), 40);
    const std::pair<int, std::pair<int, int>> picks[] = {
        {5, {5, 5}}, {30, {30, 21}}, {25, {25, 21}}, {1000, {49, 40}}, {-9, {0, 0}},
    };
    for (const auto& [row, expected] : picks) {
        m_log->SetCurSel(row);
        EXPECT_EQ(std::make_pair(m_log->GetCurSel(), m_log->GetTopRow()), expected) << "row " << row;
        EXPECT_EQ(m_log->GetScrollPos(wxVERTICAL), expected.second) << "row " << row;
    }
    // A view scrolled past the end is pulled back so the page stays full.
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 40);
    m_log->DeleteRow(49);
    m_log->DeleteRow(48);
    m_log->SetCurSel(47);
    EXPECT_EQ(m_log->GetTopRow(), 38);

    // Deleting above the selection keeps the same row selected, deleting the selected
    // row selects the next; out-of-range deletes do nothing; no rows, no selection.
    m_log->SetCurSel(10);
    const std::string eleventh = m_log->GetRowText(11);
    m_log->DeleteRow(48);
    m_log->DeleteRow(-1);
    EXPECT_EQ(m_log->GetRowCount(), 48);
    m_log->DeleteRow(3);
    EXPECT_EQ(m_log->GetCurSel(), 9);
    m_log->DeleteRow(9);
    EXPECT_EQ(m_log->GetCurSel(), 9);
    EXPECT_EQ(m_log->GetRowText(9), eleventh);
    while (m_log->GetRowCount() > 0)
        m_log->DeleteRow(m_log->GetRowCount() - 1);
    EXPECT_EQ(m_log->GetCurSel(), -1);

    // Clear after scrolling both ways: everything goes home, selection one past the end.
    Append(30);
    m_log->InsertRow(wxString('M', 200), -1);
    ASSERT_TRUE(PumpUntil([this] { return m_log->GetHScrollLimit() > 0; }));
    m_log->SetCurSel(20);
    Scroll(wxEVT_SCROLLWIN_LINEDOWN, wxHORIZONTAL);
    ASSERT_EQ(m_log->GetHScrollPos(), 5);
    const int fullWidth = m_log->GetClientSize().x;
    m_log->DeleteAllRows();
    EXPECT_EQ(m_log->GetRowCount(), 0);
    EXPECT_EQ(m_log->GetCurSel(), 0);
    EXPECT_EQ(m_log->GetTopRow(), 0);
    EXPECT_EQ(m_log->GetVScrollPos(), 0);
    EXPECT_EQ(m_log->GetHScrollPos(), 0);
    EXPECT_EQ(m_log->GetMaxExtent(), 0);
    EXPECT_LE(m_log->GetScrollRange(wxVERTICAL), m_log->GetScrollThumb(wxVERTICAL)) << "nothing to scroll";
    EXPECT_LE(m_log->GetScrollRange(wxHORIZONTAL), m_log->GetScrollThumb(wxHORIZONTAL));
    PumpFor(100);
    EXPECT_GE(m_log->GetClientSize().x, fullWidth) << "hidden bars give the width back";

    // Rows appended after a clear land below the selection: none shows as selected.
    // Down from one past the end selects the last row.
    Append(3);
    EXPECT_EQ(m_log->GetCurSel(), 3);
    EXPECT_TRUE(Key(WXK_DOWN));
    EXPECT_EQ(m_log->GetCurSel(), 2);
}

TEST_F(MessageLogTest, ScrollBarsMoveByTheirRules)
{
    Append(50);
    m_log->InsertRow(wxString('W', 400), -1);
    ASSERT_TRUE(PumpUntil([this] { return m_log->GetHScrollLimit() > 300; }));
    // Range 0 .. extent - width + 5, so the bar's own count is one more.
    EXPECT_TRUE(PumpUntil([this] {
        return m_log->GetScrollRange(wxHORIZONTAL) == m_log->GetMaxExtent() - m_log->GetClientSize().x + 6;
    }, 1000));
    const int width = m_log->GetClientSize().x;
    const int limit = m_log->GetHScrollLimit();
    // The horizontal bar takes room from the page.
    const int page = m_log->GetRowsPerPage();
    const int bottom = m_log->GetRowCount() - page;
    EXPECT_EQ(limit, m_log->GetMaxExtent() - width + 1);
    EXPECT_EQ(m_log->GetScrollThumb(wxHORIZONTAL), 5);

    // Vertically by rows and pages within 0 .. rows - page; horizontally by 5 pixels a
    // line, half the width a page, the thumb in steps of 64 except at the limit.
    struct Step {
        wxEventType type;
        int orient;
        int pos;
        int expected;
    };
    const Step steps[] = {
        {wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 0, 0},     {wxEVT_SCROLLWIN_LINEDOWN, wxVERTICAL, 0, 1},
        {wxEVT_SCROLLWIN_PAGEDOWN, wxVERTICAL, 0, 1 + page}, {wxEVT_SCROLLWIN_PAGEUP, wxVERTICAL, 0, 1},
        {wxEVT_SCROLLWIN_LINEUP, wxVERTICAL, 0, 0},         {wxEVT_SCROLLWIN_LINEUP, wxVERTICAL, 0, 0},
        {wxEVT_SCROLLWIN_THUMBRELEASE, wxVERTICAL, 1000, bottom}, {wxEVT_SCROLLWIN_TOP, wxVERTICAL, 0, bottom},
        {wxEVT_SCROLLWIN_LINEDOWN, wxHORIZONTAL, 0, 5},     {wxEVT_SCROLLWIN_PAGEDOWN, wxHORIZONTAL, 0, 5 + width / 2},
        {wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, 130, 128}, {wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, limit, limit},
        {wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, limit + 500, limit}, {wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, -3, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << &s - steps);
        Scroll(s.type, s.orient, s.pos);
        EXPECT_EQ(s.orient == wxVERTICAL ? m_log->GetTopRow() : m_log->GetHScrollPos(), s.expected);
        EXPECT_EQ(m_log->GetScrollPos(s.orient), s.expected);
    }

    // The wheel scrolls by the platform's lines per notch, within the same limits; half
    // a notch is kept until the other half comes.
    wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
    wheel.m_wheelRotation = 120;
    wheel.m_wheelDelta = 120;
    wheel.m_linesPerAction = 3;
    m_log->GetEventHandler()->ProcessEvent(wheel);
    EXPECT_EQ(m_log->GetTopRow(), bottom - 3);
    wheel.m_wheelRotation = -60;
    m_log->GetEventHandler()->ProcessEvent(wheel);
    EXPECT_EQ(m_log->GetTopRow(), bottom - 3);
    m_log->GetEventHandler()->ProcessEvent(wheel);
    EXPECT_EQ(m_log->GetTopRow(), bottom);
}

TEST_F(MessageLogTest, ExtentCountsTheTextThatEndsTheRow)
{
    // Waits for a paint to have measured the visible rows.
    auto paintedExtent = [this](int extent) {
        m_log->Refresh();
        return PumpUntil([&] { return m_log->GetMaxExtent() == extent; });
    };
    // Fewer cells than columns: the last cell, at its column's offset.
    m_log->InsertRow("a\tb", -1);
    ASSERT_TRUE(paintedExtent(80 + TextWidth(m_log, "b")));

    // More cells than columns: the undrawn remainder after the last column's TAB counts,
    // from the end of all column widths.
    m_log->DeleteAllRows();
    m_log->InsertRow("1\t2\t3\t4\t5\tsix\tseven", -1);
    ASSERT_TRUE(paintedExtent(300 + TextWidth(m_log, "six\tseven")));

    // A running maximum: a narrower row does not shrink it.
    const int wide = m_log->GetMaxExtent();
    m_log->InsertRow("x", -1);
    PumpFor(100);
    EXPECT_EQ(m_log->GetMaxExtent(), wide);

    // Measured in content coordinates: scrolling sideways and repainting changes nothing.
    const wxString payload(wxString("AB CD EF 01 23 45 67 89 ") + wxString('F', 60));
    m_log->InsertRow(wxString("10:00:00.000\t|<--|\t0xFFFF\tXY_RSSI_REQ\t") + payload, -1);
    const int expected = 300 + TextWidth(m_log, payload);
    ASSERT_TRUE(paintedExtent(expected));
    // The horizontal bar shows once the extent reaches the client width.
    ASSERT_TRUE(PumpUntil([this] { return m_log->GetScrollRange(wxHORIZONTAL) > m_log->GetScrollThumb(wxHORIZONTAL); }));
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, m_log->GetHScrollLimit());
    ASSERT_GT(m_log->GetHScrollPos(), 0);
    EXPECT_TRUE(paintedExtent(expected));
    PumpFor(100);
    EXPECT_EQ(m_log->GetMaxExtent(), expected);

    // An empty row or an empty last cell adds nothing.
    m_log->DeleteAllRows();
    m_log->InsertRow("", -1);
    m_log->InsertRow("a\tb\t", -1);
    PumpFor(150);
    EXPECT_EQ(m_log->GetMaxExtent(), 0);
}

TEST_F(MessageLogTest, KeysMoveTheSelection)
{
    Append(50);
    ASSERT_EQ(m_log->GetTopRow(), 40);
    // A click on a row gives the control the keyboard focus, as a user gives it.
    Click(RowPoint(2));
    ASSERT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == m_log; }));
    EXPECT_EQ(m_log->GetCurSel(), 42);

    const std::pair<int, std::pair<int, int>> keys[] = {
        {WXK_DOWN, {43, 40}},     {WXK_UP, {42, 40}},   {WXK_UP, {41, 40}}, {WXK_PAGEUP, {31, 31}},
        {WXK_PAGEDOWN, {41, 32}}, {WXK_PAGEDOWN, {49, 40}}, {WXK_HOME, {0, 0}}, {WXK_UP, {0, 0}},
        {WXK_END, {49, 40}},
    };
    for (const auto& [key, expected] : keys) {
        Press(key);
        EXPECT_EQ(std::make_pair(m_log->GetCurSel(), m_log->GetTopRow()), expected) << "key " << key;
    }

    // Keys the control does not use go on to the window's own handling: the character
    // that follows an unconsumed key-down arrives, for Left as for a letter.
    int chars = 0;
    m_log->Bind(wxEVT_CHAR, [&chars](wxKeyEvent&) { ++chars; });
    Press(WXK_DOWN);
    EXPECT_EQ(chars, 0);
    Press(WXK_LEFT);
    Press('a');
    EXPECT_EQ(chars, 2);
    EXPECT_FALSE(Key(WXK_RIGHT));
    EXPECT_EQ(m_log->GetCurSel(), 49);
}

TEST_F(MessageLogTest, MouseSelectsRowsOnlyAndDragScrolls)
{
    Append(50);
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 20);
    ASSERT_EQ(m_log->GetTopRow(), 20);
    m_next->SetFocus();

    Click(RowPoint(3));
    EXPECT_EQ(m_log->GetCurSel(), 23);
    EXPECT_EQ(wxWindow::FindFocus(), m_log) << "a click takes the keyboard focus";
    EXPECT_FALSE(m_log->HasCapture()) << "released on button up";
    Click(RowPoint(6), wxMOUSE_BTN_RIGHT);
    EXPECT_EQ(m_log->GetCurSel(), 26) << "the right button selects too";
    Click(m_log->ClientToScreen(wxPoint(100, 8)));
    EXPECT_EQ(m_log->GetCurSel(), 26) << "the header is not a row";

    // Dragging below the control selects past the page and scrolls a row per move.
    wxUIActionSimulator sim;
    sim.MouseMove(RowPoint(1));
    PumpFor(30);
    sim.MouseDown();
    PumpFor(60);
    EXPECT_EQ(m_log->GetCurSel(), 21);
    EXPECT_TRUE(m_log->HasCapture());
    const wxPoint below = m_log->ClientToScreen(wxPoint(200, m_log->GetClientSize().y + 20));
    for (int i = 0; i < 6; ++i) {
        sim.MouseMove(below + wxPoint(i, 0));
        PumpFor(40);
    }
    EXPECT_GE(m_log->GetCurSel(), 32);
    EXPECT_EQ(m_log->GetTopRow(), m_log->GetCurSel() - kPage + 1) << "the selection leads";
    sim.MouseUp();
    PumpFor(60);
    EXPECT_FALSE(m_log->HasCapture());
    const int afterDrag = m_log->GetCurSel();
    sim.MouseMove(RowPoint(0));
    PumpFor(60);
    EXPECT_EQ(m_log->GetCurSel(), afterDrag) << "moves without a button select nothing";
    // A real double click on a row selects it; the pair leaves no capture behind.
    sim.MouseMove(RowPoint(4));
    PumpFor(30);
    sim.MouseDblClick();
    PumpFor(100);
    EXPECT_EQ(m_log->GetCurSel(), m_log->GetTopRow() + 4);
    EXPECT_FALSE(m_log->HasCapture());

    // Below the last row, down to its last pixel line, a click takes the focus but
    // selects nothing; a pixel higher selects.
    m_log->DeleteAllRows();
    Append(3);
    m_log->SetCurSel(1);
    const int h = m_log->GetRowHeight();
    Click(m_log->ClientToScreen(wxPoint(200, 16 + 6 * h)));
    EXPECT_EQ(m_log->GetCurSel(), 1);
    Click(m_log->ClientToScreen(wxPoint(200, 16 + 3 * h - 1)));
    EXPECT_EQ(m_log->GetCurSel(), 1);
    EXPECT_FALSE(m_log->HasCapture());
    PumpFor(600); // not a double click with the click before
    Click(m_log->ClientToScreen(wxPoint(200, 16 + 3 * h - 2)));
    EXPECT_EQ(m_log->GetCurSel(), 2);

    // A double click outside the rows, or on a disabled control, is swallowed.
    auto doubleClick = [this](int y) {
        wxMouseEvent event(wxEVT_LEFT_DCLICK);
        event.m_x = 100;
        event.m_y = y;
        event.SetEventObject(m_log);
        return m_log->GetEventHandler()->ProcessEvent(event);
    };
    EXPECT_TRUE(doubleClick(5));
    EXPECT_TRUE(doubleClick(16 + 5 * h));
    EXPECT_FALSE(doubleClick(16 + 1));
    m_log->Disable();
    EXPECT_TRUE(doubleClick(16 + 1));
}

} // namespace
