#include "tests/support/GuiTesting.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/uiaction.h>

#include <atomic>
#include <memory>
#include <thread>

#include "app/AboutDlg.h"
#include "app/TessarinDlg.h"
#include "res/Resources.h"

namespace {

std::unique_ptr<CTessarinDlg> MakeWindow(bool show)
{
    auto dlg = std::make_unique<CTessarinDlg>();
    EXPECT_TRUE(dlg->Create());
    if (show) {
        dlg->Show();
        EXPECT_TRUE(PumpUntil([&] { return dlg->IsShownOnScreen(); }));
        PumpFor(100);
    }
    return dlg;
}

wxRect RectOf(const wxWindow* w)
{
    return wxRect(w->GetPosition(), w->GetSize());
}

// Every rectangle the layout sets, against the formulas, for the window's client size.
void ExpectLayout(CTessarinDlg& dlg)
{
    const int W = dlg.GetClientSize().x;
    const int H = dlg.GetClientSize().y;
    const int T = dlg.m_toolBar.GetClientSize().y;
    const int S = dlg.m_statusBar.GetClientSize().y;
    const int sh = dlg.m_statusBar.GetSize().y;
    const int Q = W / 4;
    const int yTop = T + 14;
    const int yBottom = H - S - 80;
    const int yS = H - S - 70;
    const int cw = dlg.m_showParameters->GetSize().x;
    const int bh = dlg.m_xyRssiReq->GetSize().y;
    const int B = (W - cw - 20) / 4;
    const int x0 = cw + 30;
    SCOPED_TRACE(testing::Message() << "client " << W << " x " << H << ", T " << T << ", S " << S);

    EXPECT_GT(T, 0);
    EXPECT_GT(S, 0);
    EXPECT_EQ(dlg.m_toolBar.GetPosition(), wxPoint(0, 0));
    EXPECT_EQ(dlg.m_toolBar.GetSize().x, W);
    const std::pair<const wxWindow*, wxRect> rects[] = {
        {&dlg.m_statusBar, wxRect(0, H - sh, W, sh)},
        {dlg.m_separator, wxRect(0, T + 2, W, 2)},
        {dlg.m_messageLogGroup, wxRect(10, yTop, 3 * Q, yBottom - yTop)},
        {&dlg.m_messageLog, wxRect(20, yTop + 20, 3 * Q - 20, yBottom - yTop - 30)},
        {dlg.m_nodeListGroup, wxRect(3 * Q + 20, yTop, W - 30 - 3 * Q, yBottom - yTop)},
        {dlg.m_nodeList, wxRect(3 * Q + 30, yTop + 20, W - 50 - 3 * Q, yBottom - yTop - 30)},
        {dlg.m_sendMessageGroup, wxRect(10, yS, W - 20, 70)},
        {dlg.m_showParameters, wxRect(20, yS + 20, cw, dlg.m_showParameters->GetSize().y)},
        {dlg.m_xyRssiReq, wxRect(x0, yS + 13, B, bh)},
        {dlg.m_refConfReq, wxRect(x0 + B, yS + 13, B, bh)},
        {dlg.m_refConf, wxRect(x0 + 2 * B, yS + 13, B, bh)},
        {dlg.m_blindFindReq, wxRect(x0, yS + 18 + bh, B, bh)},
        {dlg.m_blindConfReq, wxRect(x0 + B, yS + 18 + bh, B, bh)},
        {dlg.m_blindConf, wxRect(x0 + 2 * B, yS + 18 + bh, B, bh)},
    };
    for (const auto& [window, rect] : rects)
        EXPECT_EQ(RectOf(window), rect) << window->GetName() << " \"" << window->GetLabel() << '"';
    // The two rows stay inside the 70-pixel group on this toolkit's fonts.
    EXPECT_LE(18 + 2 * bh, 70);
}

bool ResizeClient(CTessarinDlg& dlg, int w, int h)
{
    dlg.SetClientSize(w, h);
    return PumpUntil([&] {
        return dlg.GetClientSize() == wxSize(w, h) && dlg.m_messageLogGroup->GetSize().x == 3 * (w / 4) &&
               dlg.m_statusBar.GetPosition().y + dlg.m_statusBar.GetSize().y == h;
    });
}

} // namespace

TEST(MainWindowTest, LayoutFollowsTheFormulasOnEveryResize)
{
    // No windows yet: a layout request must not touch any.
    CTessarinDlg unborn;
    unborn.OnSize(SIZE_RESTORED, 0, 0);
    EXPECT_EQ(unborn.m_nodeList, nullptr);

    auto dlg = MakeWindow(false);
    // Before it is shown the window has the template's size and was laid out once.
    EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(564, 282)));
    ExpectLayout(*dlg);

    dlg->Show();
    ASSERT_TRUE(ResizeClient(*dlg, 800, 600));
    // The example size: Q = 200.
    EXPECT_EQ(RectOf(dlg->m_messageLogGroup).x, 10);
    EXPECT_EQ(RectOf(dlg->m_messageLogGroup).width, 600);
    EXPECT_EQ(RectOf(dlg->m_nodeListGroup).x, 620);
    EXPECT_EQ(RectOf(dlg->m_nodeListGroup).width, 170);
    ExpectLayout(*dlg);
    // A width that does not divide by four truncates Q.
    ASSERT_TRUE(ResizeClient(*dlg, 1003, 717));
    ExpectLayout(*dlg);

    // Minimised, the window is left alone; any other kind lays out again, from the
    // client size and not from cx and cy.
    const wxRect logGroup = RectOf(dlg->m_messageLogGroup);
    dlg->m_messageLogGroup->SetSize(1, 2, 3, 4);
    dlg->OnSize(SIZE_MINIMIZED, 0, 0);
    EXPECT_EQ(RectOf(dlg->m_messageLogGroup), wxRect(1, 2, 3, 4));
    dlg->OnSize(SIZE_MAXIMIZED, 10, 10);
    EXPECT_EQ(RectOf(dlg->m_messageLogGroup), logGroup);

    // A tiny window gives negative sizes by the formulas: they become 0, without an
    // assertion from the toolkit.
    ASSERT_TRUE(ResizeClient(*dlg, 120, 90));
    EXPECT_EQ(dlg->m_messageLog.GetSize().y, 0);
    EXPECT_GE(dlg->m_nodeList->GetSize().x, 0);
}

TEST(MainWindowTest, ShowsTheTemplatesTextsColumnsMenusAndAboutBox)
{
    auto dlg = MakeWindow(false);
    EXPECT_EQ(dlg->GetTitle(), "Tessarin");
    const std::pair<const wxWindow*, const char*> labels[] = {
        {dlg->m_xyRssiReq, "XY-RSSI Req"},        {dlg->m_refConfReq, "Ref.Conf.Req"},
        {dlg->m_refConf, "Ref. Conf."},           {dlg->m_blindFindReq, "Blind Find Req"},
        {dlg->m_blindConfReq, "Blind Conf. Req"}, {dlg->m_blindConf, "Blind Conf."},
        {dlg->m_showParameters, "Show parameters"}, {dlg->m_sendMessageGroup, "Send Message"},
        {dlg->m_messageLogGroup, "Message Log"},  {dlg->m_nodeListGroup, "Node List"},
    };
    for (const auto& [window, label] : labels)
        EXPECT_EQ(window->GetLabel(), label);
    EXPECT_EQ(dlg->m_nodeList->GetId(), IDC_NODE_LIST);
    EXPECT_TRUE(dlg->m_nodeList->HasFlag(wxLB_SORT));

    ASSERT_EQ(dlg->m_messageLog.GetColumnCount(), 5);
    const std::pair<const char*, int> columns[] = {{"Time", 80}, {"Dir", 30}, {"Addr", 50}, {"Message", 140}, {"Payload", 0}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(dlg->m_messageLog.GetColumn(i).title, columns[i].first);
        EXPECT_EQ(dlg->m_messageLog.GetColumn(i).width, columns[i].second);
    }

    // "&File" with its two commands, then "&Help" with the about box.
    wxMenuBar* bar = dlg->GetMenuBar();
    ASSERT_EQ(bar->GetMenuCount(), 2u);
    EXPECT_EQ(bar->GetMenuLabel(0), "&File");
    EXPECT_EQ(bar->GetMenuLabel(1), "&Help");
    ASSERT_EQ(bar->GetMenu(0)->GetMenuItemCount(), 2u);
    struct Item {
        int menu;
        size_t pos;
        int id;
        const char* label;
    };
    const Item items[] = {{0, 0, MenuItemId(ID_LOG_FILE), "Log File ..."},
                          {0, 1, MenuItemId(ID_APPEND_TO_LOG_FILE), "Append to Log File"},
                          {1, 0, IDM_ABOUTBOX, "&About Tessarin..."}};
    for (const Item& expected : items) {
        const wxMenuItem* item = bar->GetMenu(expected.menu)->FindItemByPosition(expected.pos);
        EXPECT_EQ(item->GetId(), expected.id);
        EXPECT_EQ(item->GetItemLabel(), expected.label);
        // Program ids only: a stock id would bring an accelerator of its own.
        EXPECT_EQ(item->GetAccel(), nullptr) << expected.label;
    }
    EXPECT_TRUE(bar->GetMenu(0)->FindItemByPosition(1)->IsCheckable());

    // The about box opens modally from the menu and from the system command, whose low
    // four bits are the system's own; another system command opens nothing.
    class ExpectAbout : public wxExpectModalBase<CAboutDlg, ExpectAbout> {
    protected:
        int OnInvoked(CAboutDlg* dlg) const override
        {
            EXPECT_EQ(dlg->GetTitle(), "About Tessarin");
            EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(235, 55)));
            return wxID_OK;
        }
    };
    wxCommandEvent menu(wxEVT_MENU, IDM_ABOUTBOX);
    wxTEST_DIALOG(dlg->ProcessWindowEvent(menu), ExpectAbout());
    wxTEST_DIALOG(dlg->OnSysCommand(IDM_ABOUTBOX | 0x3), ExpectAbout());
    dlg->OnSysCommand(0xF060);

    // A double click on the Node List with no entry selected picks nothing.
    dlg->m_nSelectedNode = 77;
    wxMouseEvent doubleClick(wxEVT_LEFT_DCLICK);
    doubleClick.SetEventObject(dlg->m_nodeList);
    dlg->PreTranslateMessage(doubleClick);
    EXPECT_EQ(dlg->m_nSelectedNode, 77);
}

TEST(MainWindowTest, EnterKeepsTheWindowAndEscapeOrTheCloseBoxEndsIt)
{
    auto dlg = MakeWindow(true);
    wxUIActionSimulator sim;
    // Keys go to the window under the pointer when no window manager gives focus.
    sim.MouseMove(dlg->m_nodeList->GetScreenRect().GetPosition() + wxPoint(5, 5));
    dlg->m_showParameters->SetFocus();
    PumpFor(200);
    sim.Char(WXK_RETURN);
    PumpFor(300);
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_FALSE(dlg->IsDialogEnded());

    sim.Char(WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return dlg->IsDialogEnded(); }));
    EXPECT_EQ(dlg->GetModalResult(), wxID_CANCEL);
    EXPECT_FALSE(dlg->IsShown());

    auto second = MakeWindow(true);
    EXPECT_TRUE(second->Close());
    EXPECT_TRUE(second->IsDialogEnded());
    EXPECT_EQ(second->GetModalResult(), wxID_CANCEL);
    EXPECT_FALSE(second->IsShown());
}

TEST(MainWindowTest, EngineAnnouncementsAndWarningsReachTheWindowThread)
{
    auto dlg = MakeWindow(false);

    // One event per announcement, from any thread, on the window thread. The events
    // are taken here, before the window's own handler would look for lines.
    std::atomic<int> seen{0};
    bool offThread = false;
    dlg->Bind(wxEVT_THREAD, [&](wxThreadEvent&) {
        offThread = offThread || !wxThread::IsMain();
        ++seen;
    }, WM_LINE_READY);
    std::thread poster([&] {
        for (int i = 0; i < 1000; ++i)
            dlg->PostLineReady();
    });
    poster.join();
    EXPECT_TRUE(PumpUntil([&] { return seen.load() == 1000; })) << seen.load();
    PumpFor(50);
    EXPECT_EQ(seen.load(), 1000);
    EXPECT_FALSE(offThread);

    // On the window thread a warning is shown at once, with the program's title.
    const wxString title = CTessarinDlg::AppTitle();
    EXPECT_EQ(title, "window_test");
    wxTEST_DIALOG(dlg->ShowWarning("Not able to open COM port!"), ExpectMessageBox(title, "Not able to open COM port!"));

    // From another thread the call returns at once; the same text sent again while its
    // box is on its way is not queued twice, a different text is.
    std::thread warner([&] {
        for (int i = 0; i < 20; ++i)
            dlg->ShowWarning("Not able to read from COM port!");
        dlg->ShowWarning("Not able to write to log file!");
    });
    warner.join();
    wxTEST_DIALOG(PumpFor(300), ExpectMessageBox(title, "Not able to read from COM port!"),
                  ExpectMessageBox(title, "Not able to write to log file!"));

    // Once its box is closed, the text can be shown again.
    std::thread again([&] { dlg->ShowWarning("Not able to read from COM port!"); });
    again.join();
    wxTEST_DIALOG(PumpFor(300), ExpectMessageBox(title, "Not able to read from COM port!"));
}
