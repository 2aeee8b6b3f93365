#include "tests/controls/MessageLogFixture.h"

#include <wx/settings.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// Colours are read back from the X server, as a user would see them; the toolkit's own
// screen reading returns stale pixels under GTK 3.
class MessageLogPixels : public MessageLogTest {
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

    // How many pixels of a client rectangle differ from the colour of the fill, once a
    // full repaint has reached the screen.
    int Marks(const wxRect& rc, const wxColour& fill)
    {
        m_log->Refresh();
        m_log->Update();
        PumpFor(150);
        const wxPoint at = m_log->ClientToScreen(rc.GetPosition());
        XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), at.x, at.y, rc.width, rc.height,
                                  AllPlanes, ZPixmap);
        if (!image)
            return -1;
        int marks = 0;
        for (int y = 0; y < rc.height; ++y)
            for (int x = 0; x < rc.width; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                marks += wxColour((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF) != fill;
            }
        XDestroyImage(image);
        return marks;
    }

    // Whether the strip right of any text in a page row shows only this colour.
    bool RowIs(int pageRow, const wxColour& colour)
    {
        const int h = m_log->GetRowHeight();
        return Marks(wxRect(m_log->GetClientSize().x - 6, 16 + pageRow * h + 1, 4, h - 2), colour) == 0;
    }

    Display* m_display = nullptr;
};

TEST_F(MessageLogPixels, ColourRolesFollowStateFocusAndEnable)
{
    const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    const wxColour highlight = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
    ASSERT_NE(window, face) << "the theme must tell the roles apart for this test";
    const int h = m_log->GetRowHeight();

    // A long cell runs on into the next columns, except under the next cell's text box:
    // here six spaces at the second column hide the run-on M's.
    m_log->InsertRow(wxString('M', 40) + "\t      \tx", -1);
    EXPECT_GT(Marks(wxRect(40, 16, 30, h), window), 20) << "the run-on text shows";
    EXPECT_EQ(Marks(wxRect(84, 16, 10, h), window), 0) << "hidden under the spaces' box";
    m_log->DeleteAllRows();

    Append(3);
    m_log->SetCurSel(1);
    EXPECT_TRUE(RowIs(0, window));
    EXPECT_TRUE(RowIs(1, highlight));
    EXPECT_TRUE(RowIs(5, window)) << "the band below the rows";

    // The focus rectangle marks the selected row's top edge only while the control has
    // the focus.
    const wxRect edge(20, 16 + h, 20, 1);
    m_next->SetFocus();
    ASSERT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == m_next; }));
    EXPECT_EQ(Marks(edge, highlight), 0);
    m_log->SetFocus();
    ASSERT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == m_log; }));
    EXPECT_GE(Marks(edge, highlight), 5) << "a dotted frame";
    EXPECT_EQ(Marks(wxRect(20, 16, 20, 1), window), 0);

    // Disabled: rows on the button face, the band below still the window colour, and
    // keys addressed to it swallowed.
    m_log->Disable();
    EXPECT_TRUE(RowIs(0, face));
    EXPECT_TRUE(RowIs(5, window));
    EXPECT_TRUE(Key(WXK_DOWN));
    EXPECT_TRUE(Key(WXK_LEFT));
    EXPECT_EQ(m_log->GetCurSel(), 1);
    m_log->Enable();
    EXPECT_TRUE(RowIs(0, window));
    EXPECT_FALSE(Key(WXK_LEFT));
}

} // namespace
