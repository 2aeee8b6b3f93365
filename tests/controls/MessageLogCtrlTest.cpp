#include "tests/support/GuiTesting.h"
#include "tests/support/TestSupport.h"

#include "controls/MessageLogCtrl.h"

#include <wx/clipbrd.h>
#include <wx/frame.h>
#include <wx/settings.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

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
        m_frame->Show();
        m_log->SetClientSize(400, 16 + kPage * H() + 3);
        ASSERT_TRUE(PumpUntil([&] { return m_log->IsShownOnScreen() && m_log->GetRowsPerPage() == kPage; }));
        PumpFor(200);
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
    bool Key(int code, int modifiers = wxMOD_NONE)
    {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = code;
        event.m_shiftDown = modifiers & wxMOD_SHIFT;
        event.m_controlDown = modifiers & wxMOD_CONTROL;
        return Send(std::move(event));
    }
    bool Mouse(wxEventType type, int y, bool ctrl = false)
    {
        wxMouseEvent event(type);
        event.m_x = 200;
        event.m_y = y;
        event.m_controlDown = ctrl;
        return Send(std::move(event));
    }
    int H() const { return m_log->GetRowHeight(); }
    Ints View() const { return {m_log->GetCurSel(), m_log->GetTopRow(), m_log->GetScrollPos(wxVERTICAL)}; }
    int W(const wxString& text) const { return m_log->GetTextExtent(text).x; }

    wxFrame* m_frame = nullptr;
    CMessageLogCtrl* m_log = nullptr;
};

// The last column reaches the right edge, also after a resize. The extent is where the
// widest row ends, whatever the horizontal scroll; text after the last column counts from
// the sum of the widths.
TEST_F(MessageLog, LastColumnReachesTheEdgeAndRowEndsMakeTheExtent)
{
    EXPECT_EQ(m_log->GetColumn(4).rcHeader.right, 400);
    const wxString payload = "10:00:00.000\t|<--|\t0xFFFF\tXY_RSSI_REQ\t01 02\t" + wxString('F', 80);
    m_log->InsertRow(payload, -1);
    EXPECT_TRUE(PumpUntil([&] { return m_log->GetMaxExtent() == 300 + W(wxString('F', 80)); }));
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxHORIZONTAL, m_log->GetHScrollLimit());
    ASSERT_GT(m_log->GetHScrollPos(), 0);
    m_log->InsertRow(payload + "FF", -1);
    const int wider = 300 + W(wxString('F', 82));
    EXPECT_TRUE(PumpUntil([&] { return m_log->GetMaxExtent() == wider; })) << m_log->GetMaxExtent();

    m_log->SetClientSize(520, m_log->GetClientSize().y);
    EXPECT_TRUE(PumpUntil([&] { return m_log->GetColumn(4).rcHeader.right == 520; }));
}

// Past the page the new row is the last whole row while the view is at the bottom;
// scrolled back, the view stays and counts what comes until it is at the bottom again.
// Text is stored as UTF-8. An insert at or above the selected row keeps that row selected. A stream of rows
// repaints a few times a second, not once per row.
TEST_F(MessageLog, InsertFollowsTheLogKeepsTextAndSelectionAndCoalescesRepaints)
{
    Append(kPage + 2);
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 0);
    Append(2);
    EXPECT_TRUE(PumpUntil([this] { return View() == Ints({-1, 0, 0}); })) << "nothing selected at first";
    EXPECT_EQ(Ints({m_log->IsFollowing(), m_log->GetRowsWhilePaused()}), Ints({0, 2}));
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, m_log->GetVScrollLimit());
    EXPECT_EQ(Ints({m_log->IsFollowing(), m_log->GetRowsWhilePaused()}), Ints({1, 0}));
    const char* utf8 = "\xC2\xB5s\t\xE2\x86\x92\t\xF0\x9F\x93\xA1";
    m_log->InsertRow(wxString::FromUTF8(utf8), -1);
    EXPECT_TRUE(PumpUntil([this] { return View() == Ints({-1, 5, 5}); }));
    EXPECT_STREQ(m_log->GetRowText(14), utf8);
    m_log->SetCurSel(5);
    m_log->InsertRow("at", 5);
    m_log->InsertRow("below", 7);
    EXPECT_EQ(m_log->GetCurSel(), 6);

    int paints = 0;
    m_log->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& event) {
        ++paints;
        event.Skip();
    });
    for (const auto start = std::chrono::steady_clock::now(); MsSince(start) < 1500; PumpFor(4))
        Append(1);
    EXPECT_GT(m_log->GetRowCount(), 100);
    EXPECT_LT(paints, 25);
}

// Rows long gone from memory come back from the disk for the view, the selection and
// their text, also once rows before them are deleted.
TEST_F(MessageLog, OldRowsComeBackFromTheDisk)
{
    auto row = [](int i) { return "10:00:00.100\t|-->|\t0x" + std::to_string(i) + "\tREF_REQ\t01 02 03"; };
    for (int i = 0; i < 20000; ++i)
        m_log->InsertRow(row(i).c_str(), -1);
    EXPECT_TRUE(Key(WXK_HOME));
    EXPECT_TRUE(PumpUntil([this] { return View() == Ints({0, 0, 0}); }));
    m_log->Update();
    m_log->DeleteRow(5);
    for (int i : {0, 4, 5, 9000, 19998})
        EXPECT_EQ(m_log->GetRowText(i), row(i < 5 ? i : i + 1)) << i;
    EXPECT_TRUE(Key(WXK_END));
    EXPECT_TRUE(PumpUntil([this] { return View() == Ints({19998, 19989, 19989}); }));
}

TEST_F(MessageLog, SelectionDeleteAndClearRules)
{
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
                          {WXK_PAGEDOWN, 0, 10, 1},
                          {WXK_END, 0, 49, 40}}) {
        if (!s.key)
            m_log->SetCurSel(s.row);
        EXPECT_TRUE(!s.key || Key(s.key));
        EXPECT_EQ(View(), Ints({s.sel, s.top, s.top})) << "key " << s.key << ", row " << s.row;
    }
    // Deleting above the selection keeps its row, deleting it selects the next, out of
    // range nothing; a view left past the end is pulled back so the page stays full.
    m_log->InsertRow("next", 46);
    Scroll(wxEVT_SCROLLWIN_THUMBTRACK, wxVERTICAL, 41);
    m_log->SetCurSel(45);
    for (int row : {60, -1, 3, 44})
        m_log->DeleteRow(row);
    EXPECT_EQ(Ints({m_log->GetRowCount(), m_log->GetCurSel()}), Ints({49, 44}));
    EXPECT_STREQ(m_log->GetRowText(44), "next");
    m_log->SetCurSel(47);
    EXPECT_EQ(View(), Ints({47, 39, 39}));
    while (m_log->GetRowCount() > 0)
        m_log->DeleteRow(0);
    EXPECT_EQ(m_log->GetCurSel(), -1);

    // Clear in one step, even of a million rows: both views home, the selection one past
    // the end, so appended rows show none selected and Down selects the last.
    Append(1000000);
    m_log->InsertRow(std::string(200, 'M').c_str(), -1);
    ASSERT_TRUE(PumpUntil([this] { return m_log->GetHScrollLimit() > 0; }));
    m_log->SetCurSel(20);
    Scroll(wxEVT_SCROLLWIN_LINEDOWN, wxHORIZONTAL);
    ASSERT_GT(m_log->GetHScrollPos(), 0);
    m_log->DeleteAllRows();
    EXPECT_EQ(Ints({m_log->GetRowCount(), m_log->GetCurSel(), m_log->GetTopRow(), m_log->GetVScrollPos(),
                    m_log->GetHScrollPos(), m_log->GetMaxExtent(), m_log->GetScrollRange(wxHORIZONTAL) > 5}),
              Ints(7, 0));
    Append(3);
    EXPECT_EQ(m_log->GetCurSel(), 3);
    EXPECT_TRUE(Key(WXK_DOWN));
    EXPECT_EQ(m_log->GetCurSel(), 2);
}

// Horizontally 5 pixels a line, half the width a page, the thumb in steps of 64 except
// at the limit. The wheel moves the platform's lines per notch; half a notch waits for
// the other half. A click selects the row under it; the header is no row, nor is the
// space below the last row down to its last pixel line. A double click outside the
// rows, or on a disabled control, is swallowed.
TEST_F(MessageLog, ScrollWheelAndMouseFollowTheirRules)
{
    Append(50);
    m_log->InsertRow(wxString('W', 400), -1);
    ASSERT_TRUE(PumpUntil([&] { return m_log->GetHScrollLimit() > 300; }));
    PumpFor(200);   // the bars take their room
    const int half = m_log->GetClientSize().x / 2;
    const int limit = m_log->GetHScrollLimit();
    for (const auto& [type, pos, expected] : {std::tuple(wxEVT_SCROLLWIN_LINEDOWN, 0, 5),
                                              {wxEVT_SCROLLWIN_PAGEDOWN, 0, 5 + half},
                                              {wxEVT_SCROLLWIN_LINEUP, 0, half},
                                              {wxEVT_SCROLLWIN_THUMBTRACK, 100, 64},
                                              {wxEVT_SCROLLWIN_THUMBTRACK, limit, limit},
                                              {wxEVT_SCROLLWIN_THUMBTRACK, limit + 500, limit},
                                              {wxEVT_SCROLLWIN_THUMBTRACK, -3, 0}}) {
        Scroll(type, wxHORIZONTAL, pos);
        EXPECT_EQ(m_log->GetHScrollPos(), expected) << "to " << pos;
    }
    const int bottom = m_log->GetRowCount() - kPage;
    wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
    wheel.m_wheelDelta = 120;
    wheel.m_linesPerAction = 3;
    for (const auto& [rotation, top] : {std::pair(120, bottom - 3), {-60, bottom - 3}, {-60, bottom}}) {
        wheel.m_wheelRotation = rotation;
        Send(wxMouseEvent(wheel));
        EXPECT_EQ(m_log->GetTopRow(), top) << rotation;
    }

    m_log->DeleteAllRows();
    Append(3);
    m_log->Refresh();
    PumpFor(150);   // clicks go to a control that has shown what it holds
    for (const auto& [y, sel] : {std::pair(17, 0), {8, 0}, {16 + 3 * H() - 1, 0}, {16 + 3 * H() - 2, 2}}) {
        Mouse(wxEVT_LEFT_DOWN, y);
        Mouse(wxEVT_LEFT_UP, y);
        EXPECT_EQ(Ints({m_log->GetCurSel(), m_log->HasCapture()}), Ints({sel, 0})) << y;
    }
    EXPECT_EQ(Ints({Mouse(wxEVT_LEFT_DCLICK, 5), Mouse(wxEVT_LEFT_DCLICK, 16 + 5 * H()),
                    Mouse(wxEVT_LEFT_DCLICK, 17)}),
              Ints({1, 1, 0}));
    m_log->Disable();
    EXPECT_TRUE(Mouse(wxEVT_LEFT_DCLICK, 17));

    // During a burst the view runs ahead of the screen: a click picks the row shown.
    m_log->Enable();
    Append(kPage);
    PumpFor(400);   // the burst's repaint has shown it
    const int shown = m_log->GetTopRow();
    Append(3);
    Mouse(wxEVT_LEFT_DOWN, 17);
    Mouse(wxEVT_LEFT_UP, 17);
    EXPECT_EQ(m_log->GetCurSel(), shown);
}

// Colours come from the theme's roles, as the screen shows them: the header's titles in
// the button text colour (a fixed black would vanish on a dark theme), the selected row
// highlighted, a disabled control's rows on the button face.
TEST_F(MessageLog, ColoursFollowTheThemesRoles)
{
    ASSERT_NE(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT), *wxBLACK) << "this theme cannot tell";
    Display* display = XOpenDisplay(nullptr);
    const auto count = [&](int x, int y, int w, int h, const wxColour& colour) {
        m_log->Refresh();
        PumpFor(150);
        const wxPoint at = m_log->ClientToScreen(wxPoint(x, y));
        XImage* image = XGetImage(display, DefaultRootWindow(display), at.x, at.y, w, h, AllPlanes, ZPixmap);
        int n = 0;
        for (int i = 0; image && i < w * h; ++i) {
            const unsigned long p = XGetPixel(image, i % w, i / w);
            n += wxColour(p >> 16, p >> 8 & 255, p & 255) == colour;
        }
        XDestroyImage(image);
        return n;
    };
    EXPECT_EQ(count(3, 1, 30, 13, *wxBLACK), 0);
    Append(3);
    m_log->SetCurSel(1);
    const int x = m_log->GetClientSize().x - 6, h = H() - 2;   // beside any text of a row
    EXPECT_EQ(count(x, 17 + H(), 4, h, wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)), 4 * h);
    m_log->Disable();
    EXPECT_EQ(count(x, 17, 4, h, wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)), 4 * h);
    XCloseDisplay(display);
}

}   // namespace

namespace {

std::string LogRow(int i)
{
    return wxString::Format("10:00:00:%03d \t-->\t 0x%04X \tREF_RSP  \t%02X 0%d ", i, i % 4 ? 0x101 : 0x202,
                            i, i % 4)
        .utf8_string();
}

}   // namespace

// A filter shows the rows that match, those already held and those that come, and the
// selected row stays selected through it and back. Shift and Ctrl select several rows,
// which copy as their lines or payloads; find goes round the rows shown. Left and Right
// scroll sideways.
TEST_F(MessageLog, FilterSelectionCopyAndFind)
{
    for (int i = 0; i < 40; ++i)
        m_log->InsertRow(LogRow(i).c_str(), -1);
    m_log->SetCopySeparator('|');
    m_log->SetCurSel(8);
    m_log->SetFilter("node:0x0202");
    ASSERT_TRUE(PumpUntil([&] { return !m_log->IsFiltering(); }));
    for (int i : {40, 41})
        m_log->InsertRow(LogRow(i).c_str(), -1);
    EXPECT_EQ(Ints({m_log->GetRowCount(), m_log->GetStoredRowCount(), m_log->GetCurSel()}),
              Ints({11, 42, 2}));
    EXPECT_EQ(m_log->GetRowText(10), LogRow(40));

    EXPECT_TRUE(Key(WXK_DOWN, wxMOD_SHIFT) && Key(WXK_DOWN, wxMOD_SHIFT));
    Mouse(wxEVT_LEFT_DOWN, 16 + 7 * H() + 2, true);
    const auto line = [](int i) {
        std::string text = LogRow(i);
        std::replace(text.begin(), text.end(), '\t', '|');
        return text + "\n";
    };
    EXPECT_EQ(m_log->GetSelectionText(), line(8) + line(12) + line(16) + line(28));
    EXPECT_EQ(m_log->GetSelectionText(4), "08 00\n0C 00\n10 00\n1C 00\n");
    EXPECT_TRUE(Key('C', wxMOD_CONTROL));
    wxTextDataObject copied;
    {
        wxClipboardLocker lock;
        ASSERT_TRUE(!!lock && wxTheClipboard->GetData(copied));
    }
    EXPECT_EQ(copied.GetText().utf8_string(), m_log->GetSelectionText());

    m_log->SetFilter("");
    EXPECT_EQ(Ints({m_log->GetRowCount(), m_log->GetCurSel(), m_log->GetTopRow() <= 28,
                    28 < m_log->GetTopRow() + kPage}),
              Ints({42, 28, 1, 1}));
    const std::pair<const char*, bool> finds[] = {{"node:0x0202", true}, {"node:0x0202", false}};
    for (const auto& [query, forward] : finds)
        EXPECT_TRUE(m_log->FindNext(query, forward));
    EXPECT_EQ(m_log->GetCurSel(), 28) << "there and back";
    m_log->SetCurSel(41);
    EXPECT_TRUE(m_log->FindNext("0x0202 \"00 00\"", true));
    EXPECT_EQ(m_log->GetCurSel(), 0) << "round to the top";
    EXPECT_FALSE(m_log->FindNext("node:0x9999", false));
    EXPECT_EQ(m_log->GetCurSel(), 0);

    EXPECT_FALSE(m_log->IsFollowing());
    m_log->InsertRow(wxString('W', 400), -1);
    EXPECT_EQ(m_log->GetRowsWhilePaused(), 1);
    EXPECT_TRUE(Key(WXK_END) && m_log->IsFollowing());
    ASSERT_TRUE(PumpUntil([&] { return m_log->GetHScrollLimit() > 100; }));
    for (const auto& [key, pos] : {std::pair(WXK_RIGHT, 20), {WXK_RIGHT, 40}, {WXK_LEFT, 20}}) {
        EXPECT_TRUE(Key(key));
        EXPECT_EQ(m_log->GetHScrollPos(), pos);
    }
}
