#include "tests/support/GuiTesting.h"

#include "controls/StatusBarEx.h"

#include <wx/frame.h>
#include <wx/panel.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <vector>

namespace {

// The window's bar writes what the toolkit's own bar writes, pixel for pixel: text that
// fits, text shortened with an ellipsis, an empty pane, and a pane changed on its own.
TEST(StatusBarEx, PanesLookAsTheToolkitsOwn)
{
    auto* frame = new wxFrame(nullptr, wxID_ANY, "bars", wxPoint(0, 0), wxSize(600, 140));
    auto* panel = new wxPanel(frame);
    constexpr long kStyle = wxSTB_SHOW_TIPS | wxSTB_ELLIPSIZE_END | wxFULL_REPAINT_ON_RESIZE;
    auto* ours = new CStatusBarEx;
    ASSERT_TRUE(ours->Create(panel, wxID_ANY, kStyle));
    auto* theirs = new wxStatusBar(panel, wxID_ANY, kStyle);
    const int widths[3] = {125, 225, -1};
    int top = 10;
    for (wxStatusBar* bar : {static_cast<wxStatusBar*>(ours), theirs}) {
        bar->SetSize(0, top, 560, 22);
        bar->SetFieldsCount(3, widths);
        top += 40;
    }
    frame->Show();
    PumpFor(200);

    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    const auto pixels = [&](wxStatusBar* bar) {
        const wxPoint at = bar->ClientToScreen(wxPoint(0, 0));
        const wxSize size = bar->GetClientSize();
        std::vector<unsigned long> out;
        XImage* image =
            XGetImage(display, DefaultRootWindow(display), at.x, at.y, size.x, size.y, AllPlanes, ZPixmap);
        for (int i = 0; image && i < size.x * size.y; ++i)
            out.push_back(XGetPixel(image, i % size.x, i / size.x));
        if (image)
            XDestroyImage(image);
        return out;
    };
    const wxString texts[][3] = {
        {"Message count: 12345", "Filter: node:0x1234 (12 of 34 rows match)", ""},
        {"Message count: 12346", "Dongle: Connected, Short Addr: 0x796F, IEEE Addr: 0x5453524E44000001", "x"},
        {"Message count: 1234567890123456789", "", "Dongle: Disconnected"},
    };
    for (const auto& row : texts) {
        for (int pane = 0; pane < 3; ++pane) {
            ours->SetStatusText(row[pane], pane);
            theirs->SetStatusText(row[pane], pane);
        }
        PumpFor(150);
        const std::vector<unsigned long> mine = pixels(ours);
        EXPECT_FALSE(mine.empty());
        EXPECT_TRUE(mine == pixels(theirs)) << row[0] << " | " << row[1] << " | " << row[2];
        for (int pane = 0; pane < 3; ++pane)
            EXPECT_EQ(ours->GetField(pane).IsEllipsized(), theirs->GetField(pane).IsEllipsized()) << pane;
    }
    XCloseDisplay(display);
    frame->Destroy();
}

}   // namespace
