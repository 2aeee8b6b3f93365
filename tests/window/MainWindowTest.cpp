#include "tests/support/GuiTesting.h"

#include "app/TessarinDlg.h"
#include "controls/Accessible.h"

#include <wx/choice.h>
#include "tests/support/PosixPeers.h"
#include "res/Resources.h"

namespace {

using Ints = std::vector<int>;

Ints RectOf(const wxWindow* w)
{
    return {w->GetPosition().x, w->GetPosition().y, w->GetSize().x, w->GetSize().y};
}

// Every rectangle the layout sets, for the window's client size; a size the formulas
// make negative is 0.
void ExpectLayout(CTessarinDlg& dlg)
{
    const int W = dlg.GetClientSize().x, H = dlg.GetClientSize().y;
    const int T = ToolBar(dlg)->GetClientSize().y, S = StatusBar(dlg)->GetClientSize().y;
    ASSERT_TRUE(T > 0 && S > 0);
    const int Q = W / 4, yTop = T + 14, h = H - S - 80 - yTop, yS = H - S - 70;
    const Ints check = RectOf(dlg.FindWindow(IDC_SHOW_PARAMETERS));
    const int bh = dlg.FindWindow(IDC_XY_RSSI_REQ)->GetSize().y;
    const int B = (W - check[2] - 20) / 4, x0 = check[2] + 30;
    const std::pair<const wxWindow*, Ints> rects[] = {
        {ToolBar(dlg), {0, 0, W, ToolBar(dlg)->GetSize().y}},
        {StatusBar(dlg), {0, H - StatusBar(dlg)->GetSize().y, W, StatusBar(dlg)->GetSize().y}},
        {dlg.FindWindow(IDC_SEPARATOR), {0, T + 2, W, 2}},
        {&dlg.GetMessageLog(), {20, yTop + 20, 3 * Q - 20, h - 30}},
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
        EXPECT_EQ(RectOf(window), Ints({rect[0], rect[1], std::max(rect[2], 0), std::max(rect[3], 0)}))
            << "control " << window->GetId() << " in " << W << " x " << H << ", T " << T << ", S " << S;
}

// Transparent exactly where the strip (24-bit BMP, bottom-up) holds the colour of its
// first stored pixel; the strip drawn at twice the size for scale 2.
void ExpectMaskedImage(const wxBitmap& bitmap, int bitmapId, int index, int scale = 1)
{
    const unsigned char* p = FindBitmapResource(bitmapId, scale).data;
    const unsigned char* bits = p + (p[10] | (p[11] << 8));
    const int stride = ((p[18] | (p[19] << 8)) * 3 + 3) & ~3;
    const wxImage image = bitmap.ConvertToImage();
    const int n = 16 * scale;
    ASSERT_TRUE(image.GetSize() == wxSize(n, n) && p[22] == n);
    int transparent = 0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const unsigned char* px = bits + stride * (n - 1 - y) + 3 * (index * n + x);
            const bool mask = px[0] == bits[0] && px[1] == bits[1] && px[2] == bits[2];
            transparent += mask;
            ASSERT_EQ(image.IsTransparent(x, y), mask)
                << bitmapId << " image " << index << " at " << x << "," << y;
        }
    EXPECT_GT(transparent, 0);
}

// Laid out from the client size at creation and on every resize (W / 4 truncates); a
// minimised window is left alone. The toolbar's images are masked.
TEST(MainWindow, LayoutFollowsTheFormulasAndToolbarImagesAreMasked)
{
    CTessarinDlg().OnSize();   // no windows yet: nothing to touch
    // A window manager that minimises; Xvfb has none.
    struct CMinimisable : CTessarinDlg {
        bool minimised = false;
        bool IsIconized() const override { return minimised; }
    } dlg;
    ASSERT_TRUE(dlg.Create());
    ExpectLayout(dlg);
    dlg.Show();
    for (const wxSize& size : {wxSize(800, 600), wxSize(1003, 717), wxSize(120, 90)}) {
        dlg.SetClientSize(size);
        ASSERT_TRUE(PumpUntil([&] { return StatusBar(dlg)->GetRect().GetBottom() == size.y - 1; })) << size.x;
        ExpectLayout(dlg);
    }
    wxWindow* logGroup = dlg.FindWindow(IDC_MESSAGE_LOG_GROUP);
    const Ints laidOut = RectOf(logGroup);
    logGroup->SetSize(1, 2, 3, 4);
    dlg.minimised = true;
    dlg.OnSize();
    EXPECT_EQ(RectOf(logGroup), Ints({1, 2, 3, 4}));
    dlg.minimised = false;
    dlg.OnSize();
    EXPECT_EQ(RectOf(logGroup), laidOut);

    for (int i = 0; i < 5; ++i)
        ExpectMaskedImage(ToolBar(dlg)->FindById(ID_CLEAR_LOG + i)->GetNormalBitmap(), IDB_TOOLBAR, i);
    ExpectMaskedImage(ToolBar(dlg)->FindById(ID_PING)->GetDisabledBitmap(), IDB_TOOLBAR_DISABLED, 3);
    // Drawn at twice the size for a screen of twice the resolution.
    const wxToolBarToolBase* refresh = ToolBar(dlg)->FindById(ID_REFRESH_COM_PORTS);
    ExpectMaskedImage(refresh->GetNormalBitmapBundle().GetBitmap(wxSize(32, 32)), IDB_TOOLBAR, 4, 2);
    ExpectMaskedImage(ToolBar(dlg)->FindById(ID_PING)->GetDisabledBitmapBundle().GetBitmap(wxSize(32, 32)),
                      IDB_TOOLBAR_DISABLED, 3, 2);
}

TEST(MainWindow, EnterKeepsTheWindowAndEscapeOrTheCloseBoxEndsIt)
{
    for (const int key : {int(WXK_RETURN), int(WXK_NUMPAD_ENTER), int(WXK_ESCAPE), 0}) {
        CTessarinDlg dlg;
        ASSERT_TRUE(dlg.Create() && dlg.Show());
        wxKeyEvent event(wxEVT_CHAR_HOOK);
        event.m_keyCode = key;
        EXPECT_TRUE(key ? dlg.ProcessWindowEvent(event) : dlg.Close()) << "consumed";
        const bool ends = key == WXK_ESCAPE || key == 0;
        EXPECT_EQ(Ints({dlg.IsDialogEnded(), dlg.IsShown(), dlg.GetModalResult()}),
                  Ints({ends, !ends, ends ? wxID_CANCEL : 0}))
            << key;
    }
}

// Screen readers read the toolbar's tools and the port list by their hover texts and the
// lists and the filter by their captions.
TEST(MainWindow, ControlsCarryAccessibleNames)
{
    CTessarinDlg dlg;
    ASSERT_TRUE(dlg.Create() && dlg.Show());
    for (int id = ID_CLEAR_LOG; id <= ID_REFRESH_COM_PORTS; ++id)
        EXPECT_EQ(GetToolAccessibleName(ToolBar(dlg), id), ToolBar(dlg)->GetToolShortHelp(id)) << id;
    EXPECT_EQ(GetAccessibleName(dlg.GetComPortCombo()),
              "List of available COM ports. Use the button to the left to refresh the list of COM ports.");
    const std::pair<wxWindow*, const char*> captioned[] = {{&dlg.GetMessageLog(), "Message Log"},
                                                           {NodeList(dlg), "Node List"},
                                                           {Child(dlg, IDC_FILTER_TEXT), "Filter"}};
    for (const auto& [window, name] : captioned)
        EXPECT_EQ(GetAccessibleName(window), name);
}

// With larger text (the desktop's large-text setting, 1.5 times, in a child started
// with it) the message buttons stay inside their group and off the status bar, and the
// log's header and columns hold their texts.
TEST(MainWindow, LayoutHoldsWithLargerText)
{
    if (!getenv("GDK_DPI_SCALE")) {
        setenv("GDK_DPI_SCALE", "1.5", 1);
        const ToolResult r =
            RunProgram("/proc/self/exe", {"--gtest_filter=MainWindow.LayoutHoldsWithLargerText"}, "/", "");
        unsetenv("GDK_DPI_SCALE");
        EXPECT_TRUE(r.status == 0 && r.out.find("[  PASSED  ] 1 test") != std::string::npos) << r.out;
        return;
    }
    CTessarinDlg dlg;
    ASSERT_TRUE(dlg.Create() && dlg.Show());
    ASSERT_TRUE(PumpUntil([&] { return dlg.IsShownOnScreen(); }));
    const wxRect group = Child(dlg, IDC_SEND_MESSAGE_GROUP)->GetRect();
    for (int id : {IDC_SHOW_PARAMETERS, IDC_XY_RSSI_REQ, IDC_REF_CONF_REQ, IDC_REF_CONF, IDC_BLIND_FIND_REQ,
                   IDC_BLIND_CONF_REQ, IDC_BLIND_CONF}) {
        const wxRect rect = Child(dlg, id)->GetRect();
        EXPECT_TRUE(group.Contains(rect) && !rect.Intersects(StatusBar(dlg)->GetRect())) << id;
    }
    const CMessageLogCtrl& log = dlg.GetMessageLog();
    EXPECT_GE(log.GetHeaderHeight(), log.GetRowHeight() + 3);
    const char* widest[] = {"23:59:59:999 ", "<--", " 0xFFFF ", "BLIND_NODE_REQ_CONF"};
    for (int i = 0; i < 4; ++i)
        EXPECT_GE(log.GetColumn(i).width, log.GetTextExtent(widest[i]).x + 3) << widest[i];
}

}   // namespace
