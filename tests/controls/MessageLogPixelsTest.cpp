#include "tests/controls/MessageLogFixture.h"

#include <wx/settings.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{
// Colours are read back from the X server, as a user would see them; the toolkit's own
// screen reading returns stale pixels under GTK 3.
class MessageLogPixels : public MessageLogTest
{
protected:
    void SetUp() override
    {
        MessageLogTest::SetUp();
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
    }

    void TearDown() override
    {
        if (m_display)
            XCloseDisplay(m_display);
        MessageLogTest::TearDown();
    }

    // Lets a full repaint reach the screen.
    void Repaint()
    {
        m_log->Refresh();
        m_log->Update();
        PumpFor(150);
    }

    // One client pixel as it is on the screen now.
    wxColour Pixel(int x, int y)
    {
        const wxPoint at = m_log->ClientToScreen(wxPoint(x, y));
        XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), at.x, at.y, 1, 1,
                                  AllPlanes, ZPixmap);
        if (!image)
            return wxNullColour;
        const unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return wxColour((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

    int RowY(int pageRow) const
    {
        return 16 + pageRow * m_log->GetRowHeight() + m_log->GetRowHeight() / 2;
    }

    // How many pixels of a client rectangle differ from the colour of the fill.
    int Marks(const wxRect& rc, const wxColour& fill)
    {
        int marks = 0;
        for (int y = rc.y; y < rc.GetBottom() + 1; ++y)
            for (int x = rc.x; x < rc.GetRight() + 1; ++x)
                marks += Pixel(x, y) != fill;
        return marks;
    }

    // Marks along the top edge of a row.
    int EdgeMarks(int pageRow, const wxColour& fill)
    {
        Repaint();
        return Marks(wxRect(20, 16 + pageRow * m_log->GetRowHeight(), 20, 1), fill);
    }

    Display* m_display = nullptr;
};

TEST_F(MessageLogPixels, ColourRolesFollowStateFocusAndEnable)
{
    const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    const wxColour highlight = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
    ASSERT_NE(window, face) << "the theme must tell the roles apart for this test";

    // A long cell runs on into the next columns, except under the next cell's text box:
    // here six spaces at the second column hide the run-on M's.
    m_log->InsertRow(wxString('M', 40) + "\t      \tx", -1);
    Repaint();
    const int rh = m_log->GetRowHeight();
    EXPECT_GT(Marks(wxRect(40, 16, 30, rh), window), 20) << "the run-on text shows";
    EXPECT_EQ(Marks(wxRect(84, 16, 10, rh), window), 0) << "hidden under the spaces' box";
    m_log->DeleteAllRows();

    Append(3);
    m_log->SetCurSel(1);
    const int x = m_log->GetClientSize().x - 4; // right of any text
    Repaint();
    EXPECT_EQ(Pixel(x, RowY(0)), window);
    EXPECT_EQ(Pixel(x, RowY(1)), highlight);
    EXPECT_EQ(Pixel(x, RowY(5)), window) << "the band below the rows";

    // The focus rectangle marks the selected row only while the control has the focus.
    m_next->SetFocus();
    ASSERT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == m_next; }));
    EXPECT_EQ(EdgeMarks(1, highlight), 0);
    m_log->SetFocus();
    ASSERT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == m_log; }));
    EXPECT_GE(EdgeMarks(1, highlight), 5) << "a dotted frame";
    EXPECT_EQ(EdgeMarks(0, window), 0);

    // Disabled: rows on the button face, the band below still the window colour, and
    // keys addressed to it swallowed.
    m_log->Disable();
    Repaint();
    EXPECT_EQ(Pixel(x, RowY(0)), face);
    EXPECT_EQ(Pixel(x, RowY(5)), window);
    EXPECT_TRUE(Key(WXK_DOWN));
    EXPECT_TRUE(Key(WXK_LEFT));
    EXPECT_EQ(m_log->GetCurSel(), 1);
    m_log->Enable();
    Repaint();
    EXPECT_EQ(Pixel(x, RowY(0)), window);
    EXPECT_FALSE(Key(WXK_LEFT));
}
} // namespace
