#include "tests/support/GuiTesting.h"

#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/image.h>

#include <cstdint>
#include <memory>

#include "app/TessarinDlg.h"
#include "controls/MainToolBar.h"
#include "res/Resources.h"

namespace {

// The strip's pixel (x, y), read straight from the BMP bytes (24 bits, bottom-up).
wxColour StripPixel(int bitmapId, int x, int y)
{
    const unsigned char* p = FindBitmapResource(bitmapId).data;
    const uint32_t offset = p[10] | (p[11] << 8) | (p[12] << 16);
    const int width = p[18] | (p[19] << 8);
    const int height = p[22] | (p[23] << 8);
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
    const unsigned char* px = p + offset + stride * (height - 1 - y) + 3 * x;
    return wxColour(px[2], px[1], px[0]);
}

// Every pixel of an image list entry is transparent exactly where the strip holds the
// mask colour, the first pixel stored, and otherwise shows the strip's colour.
void ExpectMaskedImage(const wxBitmap& bitmap, int bitmapId, int index)
{
    SCOPED_TRACE(testing::Message() << "bitmap " << bitmapId << " image " << index);
    ASSERT_TRUE(bitmap.IsOk());
    ASSERT_EQ(bitmap.GetSize(), wxSize(16, 16));
    wxImage image = bitmap.ConvertToImage();
    if (image.HasMask())
        image.InitAlpha();
    int transparent = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const wxColour strip = StripPixel(bitmapId, index * 16 + x, y);
            const bool clear = image.IsTransparent(x, y);
            if (strip == wxColour(192, 192, 192)) {
                EXPECT_TRUE(clear) << x << "," << y;
                ++transparent;
            } else {
                ASSERT_FALSE(clear) << x << "," << y;
                EXPECT_EQ(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)), strip)
                    << x << "," << y;
            }
        }
    }
    EXPECT_GT(transparent, 0);
}

} // namespace

TEST(ToolBarTest, MainWindowToolbarHasItsImagesMasksAndTips)
{
    auto dlg = std::make_unique<CTessarinDlg>();
    ASSERT_TRUE(dlg->Create());
    CMainToolBar& tb = dlg->m_toolBar;

    // Five buttons, a separator before Refresh, then the COM port list.
    ASSERT_EQ(tb.GetToolsCount(), 7u);
    const int order[] = {ID_CLEAR_LOG, ID_START_CAPTURE, ID_STOP_CAPTURE, ID_PING};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tb.GetToolByPos(i)->GetId(), order[i]);
    EXPECT_TRUE(tb.GetToolByPos(4)->IsSeparator());
    EXPECT_EQ(tb.GetToolByPos(5)->GetId(), ID_REFRESH_COM_PORTS);
    EXPECT_EQ(tb.GetToolByPos(6)->GetControl(), static_cast<wxControl*>(dlg->m_pComPortCombo));

    const char* tips[] = {
        "Reset data in Message Log and Node List window.",
        "Start reading data from the UART interface.",
        "Stop capturing and close UART interface.",
        "Send PING message to Location Dongle.",
        "Refresh COM port selection.",
    };
    for (int i = 0; i < 5; ++i) {
        const int command = ID_CLEAR_LOG + i;
        EXPECT_EQ(tb.GetToolShortHelp(command), tips[i]);
        EXPECT_EQ(tb.GetButtonImage(command), i);
        wxString text;
        EXPECT_TRUE(dlg->OnToolTipNotify(command, &text));
        EXPECT_EQ(text, tips[i]);
        ExpectMaskedImage(tb.FindById(command)->GetNormalBitmap(), IDB_TOOLBAR, i);
    }
    wxString untouched = "x";
    EXPECT_FALSE(dlg->OnToolTipNotify(0, &untouched));
    EXPECT_EQ(untouched, "x");

    // Three lists of 17 images; normal and hot from strip 135, disabled from 136.
    for (int kind : {CMainToolBar::TB_SETIMAGELIST, CMainToolBar::TB_SETHOTIMAGELIST,
                     CMainToolBar::TB_SETDISABLEDIMAGELIST}) {
        const wxImageList* list = tb.GetImageList(kind);
        ASSERT_NE(list, nullptr) << kind;
        EXPECT_EQ(list->GetImageCount(), 17);
        const int strip = kind == CMainToolBar::TB_SETDISABLEDIMAGELIST ? IDB_TOOLBAR_DISABLED : IDB_TOOLBAR;
        for (int i = 0; i < 17; ++i)
            ExpectMaskedImage(list->GetBitmap(i), strip, i);
    }
    // The buttons that start disabled show their grey version.
    ExpectMaskedImage(tb.FindById(ID_STOP_CAPTURE)->GetDisabledBitmap(), IDB_TOOLBAR_DISABLED, 2);
    ExpectMaskedImage(tb.FindById(ID_PING)->GetDisabledBitmap(), IDB_TOOLBAR_DISABLED, 3);
}

TEST(ToolBarTest, ImageListsStopAtTheFirstBitmapThatFails)
{
    wxFrame frame(nullptr, wxID_ANY, "toolbar");
    const CMainToolBar::TBBUTTON buttons[] = {{0, ID_CLEAR_LOG}, {1, ID_START_CAPTURE}, {3, 0}, {4, ID_REFRESH_COM_PORTS}};
    CMainToolBar tb;
    ASSERT_TRUE(tb.Create(&frame, IDC_TOOLBAR));
    ASSERT_TRUE(tb.AddButtons(buttons, 4));
    auto made = [&tb](int kind) { return tb.GetImageList(kind) != nullptr; };

    // A missing hot strip: false, the normal list stays, nothing after it is made.
    EXPECT_FALSE(tb.SetImageLists(16, IDB_TOOLBAR, 999, IDB_TOOLBAR_DISABLED));
    EXPECT_TRUE(made(CMainToolBar::TB_SETIMAGELIST));
    EXPECT_FALSE(made(CMainToolBar::TB_SETHOTIMAGELIST));
    EXPECT_FALSE(made(CMainToolBar::TB_SETDISABLEDIMAGELIST));
    // Images wider than the strip, or of no width, make no list.
    EXPECT_FALSE(tb.LoadImageList(CMainToolBar::TB_SETHOTIMAGELIST, IDB_TOOLBAR, 300));
    EXPECT_FALSE(tb.LoadImageList(CMainToolBar::TB_SETHOTIMAGELIST, IDB_TOOLBAR, 0));
    EXPECT_FALSE(made(CMainToolBar::TB_SETHOTIMAGELIST));
    // Another width divides the same strip differently.
    EXPECT_TRUE(tb.LoadImageList(CMainToolBar::TB_SETHOTIMAGELIST, IDB_TOOLBAR, 32));
    EXPECT_EQ(tb.GetImageList(CMainToolBar::TB_SETHOTIMAGELIST)->GetImageCount(), 8);
    // Without a disabled strip only the normal and hot lists are set.
    EXPECT_TRUE(tb.SetImageLists(16, IDB_TOOLBAR, IDB_TOOLBAR, 0));
    EXPECT_TRUE(made(CMainToolBar::TB_SETHOTIMAGELIST));
    EXPECT_FALSE(made(CMainToolBar::TB_SETDISABLEDIMAGELIST));
}
