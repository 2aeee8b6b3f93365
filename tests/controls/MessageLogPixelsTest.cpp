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

    // How many pixels of a row's top edge differ from the colour of its fill.
    int EdgeMarks(int pageRow, const wxColour& fill)
    {
        Repaint();
        int marks = 0;
        for (int x = 20; x < 40; ++x)
            if (Pixel(x, 16 + pageRow * m_log->GetRowHeight()) != fill)
                ++marks;
        return marks;
    }

    Display* m_display = nullptr;
};

TEST_F(MessageLogPixels, ColourRolesFollowStateFocusAndEnable)
{
    const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    const wxColour highlight = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
    ASSERT_NE(window, face) << "the theme must tell the roles apart for this test";

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
