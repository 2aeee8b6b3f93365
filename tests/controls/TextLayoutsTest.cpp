#include "tests/support/GuiTesting.h"

#include "controls/TextLayouts.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/settings.h>

#include <cstring>
#include <functional>
#include <memory>

namespace {

// Kept layouts write text on the very pixels the toolkit's graphics context gives it and
// measure it as the context does: plain, multi-line and non-ASCII text, a slot writing
// its text again on a context moved by whole pixels, by fractions, and scaled.
TEST(TextLayouts, WriteAndMeasureAsTheGraphicsContext)
{
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    font.SetPointSize(8);
    const wxColour ink(30, 90, 160);
    const char* const lines = "BLIND_NODE_FIND_RSP\nXY_RSSI_REQ\n\nAV To WA 7F";
    const struct {
        const char* text;
        double dx, dy, scale;
    } cases[] = {{"10:00:00.100", 0, 0, 1}, {lines, 0, 0, 1},      {lines, 3, 7, 1},
                 {lines, 3, 7, 2},          {lines, 0.5, 0.25, 1}, {"N\xC3\xA4me \xE2\x82\xAC", 2, 1, 1}};
    CTextLayouts layouts;
    for (const auto& c : cases) {
        wxImage images[2];
        for (bool kept : {false, true}) {
            wxBitmap bitmap(160, 120);
            {
                wxMemoryDC dc(bitmap);
                dc.SetBackground(*wxWHITE_BRUSH);
                dc.Clear();
                std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
                ASSERT_TRUE(gc);
                gc->Translate(c.dx, c.dy);
                gc->Scale(c.scale, c.scale);
                gc->SetFont(font, ink);
                const wxString text = wxString::FromUTF8(c.text);
                if (!kept) {
                    gc->DrawText(text, 2, 3);
                } else {
                    ASSERT_TRUE(layouts.Begin(gc.get(), font));
                    layouts.Draw(0, c.text, std::strlen(c.text), 2, 3, ink);
                    wxDouble w = 0, h = 0;
                    gc->GetTextExtent(text, &w, &h);
                    EXPECT_EQ(layouts.Extent(0, c.text, std::strlen(c.text)), wxSize(wxRound(w), wxRound(h)))
                        << c.text;
                }
            }
            images[kept] = bitmap.ConvertToImage();
        }
        const size_t bytes = 160 * 120 * 3;
        EXPECT_EQ(std::memcmp(images[0].GetData(), images[1].GetData(), bytes), 0)
            << c.text << " at " << c.dx << ", " << c.dy << " x" << c.scale;
    }
}

// Text measured between paints, with no graphics context, is laid out as the next paint
// would: the same extent, and that paint, moved by whole pixels, writes what the context
// itself writes. Before any paint, or in another font, measuring waits for the paint.
TEST(TextLayouts, MeasuredBetweenPaintsAsThePaintWould)
{
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    font.SetPointSize(8);
    wxFont larger = font;
    larger.SetPointSize(12);
    const wxColour ink(0, 0, 0);
    const char* const text = "10:00:00.100\nBLIND_NODE_FIND_RSP\n0x1234 AV";
    const size_t length = std::strlen(text);

    // paint 0 writes something else; the text is measured after it and written by paint 1
    auto paint = [&](wxMemoryDC& dc, int n, const std::function<void(wxGraphicsContext&)>& draw) {
        dc.Clear();
        std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
        ASSERT_TRUE(gc);
        gc->Translate(4 * n, 2 * n);
        gc->SetFont(font, ink);
        draw(*gc);
    };
    wxImage images[2];
    wxSize extent;
    CTextLayouts layouts;
    EXPECT_FALSE(layouts.BeginMeasuring(font));
    for (bool kept : {false, true}) {
        wxBitmap bitmap(200, 80);
        {
            wxMemoryDC dc(bitmap);
            dc.SetBackground(*wxWHITE_BRUSH);
            if (!kept) {
                paint(dc, 1, [&](wxGraphicsContext& gc) {
                    gc.DrawText(wxString::FromUTF8(text), 2, 3);
                    wxDouble w = 0, h = 0;
                    gc.GetTextExtent(wxString::FromUTF8(text), &w, &h);
                    extent = wxSize(wxRound(w), wxRound(h));
                });
            } else {
                paint(dc, 0, [&](wxGraphicsContext& gc) {
                    ASSERT_TRUE(layouts.Begin(&gc, font));
                    layouts.Draw(1, "other", 5, 2, 3, ink);
                });
                EXPECT_FALSE(layouts.BeginMeasuring(larger));
                ASSERT_TRUE(layouts.BeginMeasuring(font));
                EXPECT_EQ(layouts.Extent(0, text, length), extent);
                paint(dc, 1, [&](wxGraphicsContext& gc) {
                    ASSERT_TRUE(layouts.Begin(&gc, font));
                    layouts.Draw(0, text, length, 2, 3, ink);
                });
            }
        }
        images[kept] = bitmap.ConvertToImage();
    }
    EXPECT_EQ(std::memcmp(images[0].GetData(), images[1].GetData(), 200 * 80 * 3), 0);
}

}   // namespace
