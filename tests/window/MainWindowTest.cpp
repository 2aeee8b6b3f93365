#include "tests/support/GuiTesting.h"

#include <wx/choice.h>

#include <set>

#include "app/TessarinDlg.h"
#include "res/Resources.h"

namespace {

using Ints = std::vector<int>;

Ints RectOf(const wxWindow* w)
{
    return {w->GetPosition().x, w->GetPosition().y, w->GetSize().x, w->GetSize().y};
}

// Every rectangle the layout sets, for the window's client size.
void ExpectLayout(CTessarinDlg& dlg)
{
    const int W = dlg.GetClientSize().x, H = dlg.GetClientSize().y, T = dlg.m_toolBar.GetClientSize().y,
              S = dlg.m_statusBar.GetClientSize().y;
    const int Q = W / 4, yTop = T + 14, h = H - S - 80 - yTop, yS = H - S - 70,
              sh = dlg.m_statusBar.GetSize().y;
    const Ints check = RectOf(dlg.FindWindow(IDC_SHOW_PARAMETERS));
    const int bh = dlg.FindWindow(IDC_XY_RSSI_REQ)->GetSize().y, B = (W - check[2] - 20) / 4,
              x0 = check[2] + 30;
    ASSERT_TRUE(T > 0 && S > 0);
    const std::pair<const wxWindow*, Ints> rects[] = {
        {&dlg.m_toolBar, {0, 0, W, dlg.m_toolBar.GetSize().y}},
        {&dlg.m_statusBar, {0, H - sh, W, sh}},
        {dlg.FindWindow(IDC_SEPARATOR), {0, T + 2, W, 2}},
        {&dlg.m_messageLog, {20, yTop + 20, 3 * Q - 20, h - 30}},
        {dlg.FindWindow(IDC_MESSAGE_LOG_GROUP), {10, yTop, 3 * Q, h}},
        {dlg.FindWindow(IDC_NODE_LIST_GROUP), {3 * Q + 20, yTop, W - 30 - 3 * Q, h}},
        {dlg.FindWindow(IDC_NODE_LIST), {3 * Q + 30, yTop + 20, W - 50 - 3 * Q, h - 30}},
        {dlg.FindWindow(IDC_SEND_MESSAGE_GROUP), {10, yS, W - 20, 70}},
        {dlg.FindWindow(IDC_SHOW_PARAMETERS), {20, yS + 20, check[2], check[3]}},
        {dlg.FindWindow(IDC_XY_RSSI_REQ), {x0, yS + 13, B, bh}},
        {dlg.FindWindow(IDC_REF_CONF_REQ), {x0 + B, yS + 13, B, bh}},
        {dlg.FindWindow(IDC_REF_CONF), {x0 + 2 * B, yS + 13, B, bh}},
        {dlg.FindWindow(IDC_BLIND_FIND_REQ), {x0, yS + 18 + bh, B, bh}},
        {dlg.FindWindow(IDC_BLIND_CONF_REQ), {x0 + B, yS + 18 + bh, B, bh}},
        {dlg.FindWindow(IDC_BLIND_CONF), {x0 + 2 * B, yS + 18 + bh, B, bh}},
    };
    for (const auto& [window, rect] : rects)
        EXPECT_EQ(RectOf(window), rect)
            << "control " << window->GetId() << " in " << W << " x " << H << ", T " << T << ", S " << S;
}

// Transparent exactly where the strip (24-bit BMP, bottom-up) holds the colour of its
// first stored pixel, elsewhere the strip's own colour.
void ExpectMaskedImage(const wxBitmap& bitmap, int bitmapId, int index)
{
    const unsigned char *p = FindBitmapResource(bitmapId).data, *bits = p + (p[10] | (p[11] << 8));
    const int stride = ((p[18] | (p[19] << 8)) * 3 + 3) & ~3;
    const wxImage image = bitmap.ConvertToImage();
    int transparent = 0;
    ASSERT_TRUE(image.GetSize() == wxSize(16, 16) && p[22] == 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const unsigned char* px = bits + stride * (15 - y) + 3 * (index * 16 + x);
            const bool mask = px[0] == bits[0] && px[1] == bits[1] && px[2] == bits[2];
            transparent += mask;
            ASSERT_TRUE(image.IsTransparent(x, y) == mask &&
                        (mask || Ints({image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)}) ==
                                     Ints({px[2], px[1], px[0]})))
                << bitmapId << " image " << index << " at " << x << "," << y;
        }
    EXPECT_GT(transparent, 0);
}

}   // namespace

TEST(MainWindow, LayoutFollowsTheFormulasOnEveryResize)
{
    CTessarinDlg().OnSize(SIZE_RESTORED, 0, 0);   // no windows yet: nothing to touch
    auto dlg = std::make_unique<CTessarinDlg>();
    ASSERT_TRUE(dlg->Create());
    EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(564, 282))) << "the template's size";
    ExpectLayout(*dlg), dlg->Show();
    // The quarter W / 4 truncates; negative sizes by the formulas become 0.
    wxWindow *logGroup = dlg->FindWindow(IDC_MESSAGE_LOG_GROUP),
             *listGroup = dlg->FindWindow(IDC_NODE_LIST_GROUP);
    for (const Ints& s : {Ints{800, 600, 600, 620, 170}, {1003, 717, 750, 770, 223}, {120, 90, 90, 110, 0}}) {
        ASSERT_TRUE((dlg->SetClientSize(s[0], s[1]),
                     PumpUntil([&] { return dlg->m_statusBar.GetRect().GetBottom() == s[1] - 1; })))
            << s[0];
        if (s[0] > 200)
            ExpectLayout(*dlg);
        EXPECT_EQ(Ints({RectOf(logGroup)[2], RectOf(listGroup)[0], RectOf(listGroup)[2]}),
                  Ints({s[2], s[3], s[4]}))
            << s[0];
    }
    EXPECT_EQ(dlg->m_messageLog.GetSize().y + dlg->FindWindow(IDC_NODE_LIST)->GetSize().x, 0);
    // Minimised, the window is left alone; any other kind lays out from the client size.
    const Ints laidOut = RectOf(logGroup);
    EXPECT_EQ((logGroup->SetSize(1, 2, 3, 4), dlg->OnSize(SIZE_MINIMIZED, 0, 0), RectOf(logGroup)),
              Ints({1, 2, 3, 4}));
    EXPECT_EQ((dlg->OnSize(SIZE_MAXIMIZED, 10, 10), RectOf(logGroup)), laidOut);
}

TEST(MainWindow, EnterKeepsTheWindowAndEscapeOrTheCloseBoxEndsIt)
{
    for (const int key : {int(WXK_RETURN), int(WXK_NUMPAD_ENTER), int(WXK_ESCAPE), 0}) {
        auto dlg = std::make_unique<CTessarinDlg>();
        wxKeyEvent event(wxEVT_CHAR_HOOK);
        ASSERT_TRUE(dlg->Create() && dlg->Show());
        event.m_keyCode = key, event.SetEventObject(dlg->FindWindow(IDC_SHOW_PARAMETERS));
        EXPECT_TRUE(key ? dlg->ProcessWindowEvent(event) : dlg->Close()) << "consumed";
        EXPECT_EQ(Ints({dlg->IsDialogEnded(), dlg->IsShown(), dlg->GetModalResult()}),
                  key == WXK_ESCAPE || !key ? Ints({1, 0, wxID_CANCEL}) : Ints({0, 1, 0}))
            << key;
    }
}

TEST(MainWindow, ToolbarHasItsButtonsImagesTipsAndTheComPortList)
{
    auto dlg = std::make_unique<CTessarinDlg>();
    ASSERT_TRUE(dlg->Create());
    CMainToolBar& tb = dlg->m_toolBar;
    ASSERT_EQ(tb.GetToolsCount(), 7u);
    EXPECT_TRUE(tb.GetToolByPos(4)->IsSeparator() && tb.GetToolByPos(6)->GetControl() == dlg->m_pComPortCombo)
        << "after Refresh";
    // Each button in its place: its own tip, the image of its place in the strip, masked.
    std::set<wxString> tips;
    for (int i = 0; i < 5; ++i) {
        const int command = ID_CLEAR_LOG + i;
        wxString text;
        EXPECT_TRUE(dlg->OnToolTipNotify(command, &text) && tips.insert(text).second && !text.empty() &&
                    tb.GetToolShortHelp(command) == text);
        EXPECT_EQ(Ints({tb.GetToolPos(command), tb.GetButtonImage(command)}), Ints({i < 4 ? i : 5, i}));
        ExpectMaskedImage(tb.FindById(command)->GetNormalBitmap(), IDB_TOOLBAR, i);
    }
    wxString untouched = "x";
    EXPECT_TRUE(!dlg->OnToolTipNotify(0, &untouched) && untouched == "x");
    ExpectMaskedImage(tb.FindById(ID_STOP_CAPTURE)->GetDisabledBitmap(), IDB_TOOLBAR_DISABLED, 2);
    ExpectMaskedImage(tb.FindById(ID_PING)->GetDisabledBitmap(), IDB_TOOLBAR_DISABLED, 3);
    EXPECT_EQ(Ints({tb.GetImageList(0)->GetImageCount(), tb.GetImageList(1)->GetImageCount(),
                    tb.GetImageList(2)->GetImageCount()}),
              Ints(3, 17));
}
