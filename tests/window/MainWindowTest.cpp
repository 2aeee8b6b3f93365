#include "tests/window/WindowTestSupport.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/uiaction.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <pty.h>
#include <unistd.h>

#include "app/AboutDlg.h"
#include "app/TessarinDlg.h"
#include "app/TessarinSettings.h"
#include "res/Resources.h"

namespace {

std::unique_ptr<CTessarinDlg> MakeWindow(bool show = true)
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

void StoreSettings(uint32_t append, uint32_t chkParam, const char* logFile)
{
    CTessarinSettings settings;
    settings.Load();
    settings.m_nAppendToLogFile = append;
    settings.m_nChkParam = chkParam;
    ASSERT_TRUE(settings.SetLogFile(logFile));
    ASSERT_TRUE(settings.Save());
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
    const int Q = W / 4;
    const int yTop = T + 14;
    const int yBottom = H - S - 80;
    const int yS = H - S - 70;
    SCOPED_TRACE(testing::Message() << "client " << W << " x " << H << ", T " << T << ", S " << S);

    EXPECT_GT(T, 0);
    EXPECT_GT(S, 0);
    EXPECT_EQ(dlg.m_toolBar.GetPosition(), wxPoint(0, 0));
    EXPECT_EQ(dlg.m_toolBar.GetSize().x, W);
    EXPECT_EQ(RectOf(&dlg.m_statusBar), wxRect(0, H - dlg.m_statusBar.GetSize().y, W, dlg.m_statusBar.GetSize().y));
    EXPECT_EQ(RectOf(dlg.m_separator), wxRect(0, T + 2, W, 2));
    EXPECT_EQ(RectOf(dlg.m_messageLogGroup), wxRect(10, yTop, 3 * Q, yBottom - yTop));
    EXPECT_EQ(RectOf(&dlg.m_messageLog), wxRect(20, yTop + 20, 3 * Q - 20, yBottom - yTop - 30));
    EXPECT_EQ(RectOf(dlg.m_nodeListGroup), wxRect(3 * Q + 20, yTop, W - 30 - 3 * Q, yBottom - yTop));
    EXPECT_EQ(RectOf(dlg.m_nodeList), wxRect(3 * Q + 30, yTop + 20, W - 50 - 3 * Q, yBottom - yTop - 30));
    EXPECT_EQ(RectOf(dlg.m_sendMessageGroup), wxRect(10, yS, W - 20, 70));
    EXPECT_EQ(dlg.m_showParameters->GetPosition(), wxPoint(20, yS + 20));

    const int cw = dlg.m_showParameters->GetSize().x;
    const int bh = dlg.m_xyRssiReq->GetSize().y;
    const int B = (W - cw - 20) / 4;
    const int x0 = cw + 30;
    EXPECT_EQ(RectOf(dlg.m_xyRssiReq), wxRect(x0, yS + 13, B, bh));
    EXPECT_EQ(RectOf(dlg.m_refConfReq), wxRect(x0 + B, yS + 13, B, bh));
    EXPECT_EQ(RectOf(dlg.m_refConf), wxRect(x0 + 2 * B, yS + 13, B, bh));
    EXPECT_EQ(RectOf(dlg.m_blindFindReq), wxRect(x0, yS + 18 + bh, B, bh));
    EXPECT_EQ(RectOf(dlg.m_blindConfReq), wxRect(x0 + B, yS + 18 + bh, B, bh));
    EXPECT_EQ(RectOf(dlg.m_blindConf), wxRect(x0 + 2 * B, yS + 18 + bh, B, bh));
    // The two rows stay inside the 70-pixel group on this toolkit's fonts.
    EXPECT_LE(yS + 18 + 2 * bh, yS + 70);
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

    // Widths that do not divide by four truncate Q.
    for (const wxSize& size : {wxSize(1003, 717), wxSize(641, 455), wxSize(1222, 760)}) {
        ASSERT_TRUE(ResizeClient(*dlg, size.x, size.y)) << size.x << " x " << size.y;
        ExpectLayout(*dlg);
    }

    // A tiny window gives negative sizes by the formulas: they become 0, without an
    // assertion from the toolkit.
    ASSERT_TRUE(ResizeClient(*dlg, 120, 90));
    EXPECT_EQ(dlg->m_messageLog.GetSize().y, 0);
    EXPECT_GE(dlg->m_nodeList->GetSize().x, 0);
}

TEST(MainWindowTest, LayoutIsIgnoredBeforeInitialisationAndWhenMinimised)
{
    // No windows yet: a layout request must not touch any.
    CTessarinDlg unborn;
    unborn.OnSize(SIZE_RESTORED, 0, 0);
    EXPECT_EQ(unborn.m_nodeList, nullptr);
    EXPECT_EQ(unborn.m_toolBar.GetHandle(), nullptr);

    auto dlg = MakeWindow();
    ASSERT_TRUE(ResizeClient(*dlg, 800, 600));
    const wxRect logGroup = RectOf(dlg->m_messageLogGroup);
    dlg->m_messageLogGroup->SetSize(1, 2, 3, 4);
    dlg->m_nodeList->SetSize(5, 6, 7, 8);
    dlg->OnSize(SIZE_MINIMIZED, 0, 0);
    EXPECT_EQ(RectOf(dlg->m_messageLogGroup), wxRect(1, 2, 3, 4));
    EXPECT_EQ(RectOf(dlg->m_nodeList), wxRect(5, 6, 7, 8));

    // Any other kind lays out again, from the client size and not from cx and cy.
    dlg->OnSize(SIZE_MAXIMIZED, 10, 10);
    EXPECT_EQ(RectOf(dlg->m_messageLogGroup), logGroup);
    ExpectLayout(*dlg);
}

TEST(MainWindowTest, StartsIdleWithItsMenusColumnsAndEmptyStatus)
{
    auto dlg = MakeWindow();
    EXPECT_EQ(dlg->GetTitle(), "Tessarin");

    // Toolbar: Start on, Stop and PING off, Clear and Refresh on.
    EXPECT_TRUE(dlg->m_toolBar.GetToolEnabled(ID_CLEAR_LOG));
    EXPECT_TRUE(dlg->m_toolBar.GetToolEnabled(ID_START_CAPTURE));
    EXPECT_FALSE(dlg->m_toolBar.GetToolEnabled(ID_STOP_CAPTURE));
    EXPECT_FALSE(dlg->m_toolBar.GetToolEnabled(ID_PING));
    EXPECT_TRUE(dlg->m_toolBar.GetToolEnabled(ID_REFRESH_COM_PORTS));
    EXPECT_TRUE(dlg->m_pComPortCombo->IsEnabled());

    // Message buttons and their group off; "Show parameters" on.
    for (wxWindow* w : {static_cast<wxWindow*>(dlg->m_xyRssiReq), static_cast<wxWindow*>(dlg->m_refConfReq),
                        static_cast<wxWindow*>(dlg->m_refConf), static_cast<wxWindow*>(dlg->m_blindConfReq),
                        static_cast<wxWindow*>(dlg->m_blindConf), static_cast<wxWindow*>(dlg->m_sendMessageGroup),
                        static_cast<wxWindow*>(dlg->m_blindFindReq)})
        EXPECT_FALSE(w->IsEnabled()) << w->GetLabel();
    EXPECT_TRUE(dlg->m_showParameters->IsEnabled());
    EXPECT_TRUE(dlg->m_nodeList->IsEnabled());

    // The template's texts and ids.
    EXPECT_EQ(dlg->m_xyRssiReq->GetLabel(), "XY-RSSI Req");
    EXPECT_EQ(dlg->m_refConfReq->GetLabel(), "Ref.Conf.Req");
    EXPECT_EQ(dlg->m_refConf->GetLabel(), "Ref. Conf.");
    EXPECT_EQ(dlg->m_blindFindReq->GetLabel(), "Blind Find Req");
    EXPECT_EQ(dlg->m_blindConfReq->GetLabel(), "Blind Conf. Req");
    EXPECT_EQ(dlg->m_blindConf->GetLabel(), "Blind Conf.");
    EXPECT_EQ(dlg->m_showParameters->GetLabel(), "Show parameters");
    EXPECT_EQ(dlg->m_sendMessageGroup->GetLabel(), "Send Message");
    EXPECT_EQ(dlg->m_messageLogGroup->GetLabel(), "Message Log");
    EXPECT_EQ(dlg->m_nodeListGroup->GetLabel(), "Node List");
    EXPECT_EQ(dlg->m_nodeList->GetId(), IDC_NODE_LIST);
    EXPECT_TRUE(dlg->m_nodeList->HasFlag(wxLB_SORT));

    // Status bar: three panes ending at 125 and 350, count 0, no dongle.
    ASSERT_EQ(dlg->m_statusBar.GetFieldsCount(), 3);
    EXPECT_EQ(dlg->m_statusBar.GetStatusWidth(0), 125);
    EXPECT_EQ(dlg->m_statusBar.GetStatusWidth(1), 225);
    EXPECT_EQ(dlg->m_statusBar.GetStatusText(0), "Message count: 0");
    EXPECT_EQ(dlg->m_statusBar.GetStatusText(1), "");
    EXPECT_EQ(dlg->m_statusBar.GetStatusText(2), "Dongle: Disconnected");

    // Message Log columns.
    ASSERT_EQ(dlg->m_messageLog.GetColumnCount(), 5);
    const char* titles[] = {"Time", "Dir", "Addr", "Message", "Payload"};
    const int widths[] = {80, 30, 50, 140};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(dlg->m_messageLog.GetColumn(i).title, titles[i]);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dlg->m_messageLog.GetColumn(i).width, widths[i]);
    EXPECT_EQ(dlg->m_messageLog.GetRowCount(), 0);

    // Connected to the engine, nothing picked, no port in an empty device folder.
    EXPECT_NE(dlg->m_pDataBuffer, nullptr);
    EXPECT_EQ(dlg->m_nSelectedNode, 0);
    EXPECT_EQ(dlg->m_pComPortCombo->GetCount(), 0u);
    EXPECT_EQ(dlg->m_strComPort, "");

    // Menus: "&File" with its two commands, then "&Help" with the about box.
    wxMenuBar* bar = dlg->GetMenuBar();
    ASSERT_EQ(bar->GetMenuCount(), 2u);
    EXPECT_EQ(bar->GetMenuLabel(0), "&File");
    EXPECT_EQ(bar->GetMenuLabel(1), "&Help");
    wxMenu* file = bar->GetMenu(0);
    ASSERT_EQ(file->GetMenuItemCount(), 2u);
    EXPECT_EQ(file->FindItemByPosition(0)->GetId(), MenuItemId(ID_LOG_FILE));
    EXPECT_EQ(file->FindItemByPosition(0)->GetItemLabel(), "Log File ...");
    EXPECT_EQ(file->FindItemByPosition(1)->GetId(), MenuItemId(ID_APPEND_TO_LOG_FILE));
    EXPECT_EQ(file->FindItemByPosition(1)->GetItemLabel(), "Append to Log File");
    EXPECT_TRUE(file->FindItemByPosition(1)->IsCheckable());
    wxMenuItem* about = bar->GetMenu(1)->FindItemByPosition(0);
    EXPECT_EQ(about->GetId(), IDM_ABOUTBOX);
    EXPECT_EQ(about->GetItemLabel(), "&About Tessarin...");
    // Program ids only: a stock id would bring an accelerator of its own.
    EXPECT_EQ(about->GetAccel(), nullptr);
}

TEST(MainWindowTest, MenuCheckAndCheckBoxComeFromTheStoredSettings)
{
    StoreSettings(1, 1, "/tmp/capture one.log");
    {
        auto dlg = MakeWindow(false);
        EXPECT_TRUE(dlg->GetMenuBar()->IsChecked(MenuItemId(ID_APPEND_TO_LOG_FILE)));
        EXPECT_EQ(dlg->m_bAppendToLogFile, 1);
        EXPECT_TRUE(dlg->m_showParameters->GetValue());
        EXPECT_EQ(dlg->m_strLogFile, "/tmp/capture one.log");
    }
    StoreSettings(0, 0, "Tessarin.log");
    {
        auto dlg = MakeWindow(false);
        EXPECT_FALSE(dlg->GetMenuBar()->IsChecked(MenuItemId(ID_APPEND_TO_LOG_FILE)));
        EXPECT_EQ(dlg->m_bAppendToLogFile, 0);
        EXPECT_FALSE(dlg->m_showParameters->GetValue());
        EXPECT_EQ(dlg->m_strLogFile, "Tessarin.log");
    }
    // Any nonzero flag checks the item.
    StoreSettings(7, 0, "Tessarin.log");
    {
        auto dlg = MakeWindow(false);
        EXPECT_TRUE(dlg->GetMenuBar()->IsChecked(MenuItemId(ID_APPEND_TO_LOG_FILE)));
    }
}

TEST(MainWindowTest, EnterKeepsTheWindowAndEscapeOrTheCloseBoxEndsIt)
{
    auto dlg = MakeWindow();
    wxUIActionSimulator sim;
    // Keys go to the window under the pointer when no window manager gives focus.
    sim.MouseMove(dlg->m_nodeList->GetScreenRect().GetPosition() + wxPoint(5, 5));
    dlg->m_nodeList->SetFocus();
    PumpFor(200);

    sim.Char(WXK_RETURN);
    PumpFor(300);
    EXPECT_TRUE(dlg->IsShown());
    EXPECT_FALSE(dlg->IsDialogEnded());

    dlg->m_showParameters->SetFocus();
    PumpFor(100);
    sim.Char(WXK_RETURN);
    PumpFor(300);
    EXPECT_FALSE(dlg->IsDialogEnded());

    sim.Char(WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return dlg->IsDialogEnded(); }));
    EXPECT_EQ(dlg->GetModalResult(), wxID_CANCEL);
    EXPECT_FALSE(dlg->IsShown());

    auto second = MakeWindow();
    EXPECT_TRUE(second->Close());
    EXPECT_TRUE(second->IsDialogEnded());
    EXPECT_EQ(second->GetModalResult(), wxID_CANCEL);
    EXPECT_FALSE(second->IsShown());
}

TEST(MainWindowTest, AboutBoxOpensModallyFromTheHelpMenu)
{
    class ExpectAbout : public wxExpectModalBase<CAboutDlg, ExpectAbout> {
    protected:
        int OnInvoked(CAboutDlg* dlg) const override
        {
            EXPECT_EQ(dlg->GetTitle(), "About Tessarin");
            EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(235, 55)));
            return wxID_OK;
        }
    };

    auto dlg = MakeWindow(false);
    wxTEST_DIALOG(dlg->OnSysCommand(IDM_ABOUTBOX), ExpectAbout());
    // The low four bits of the command are the system's own.
    wxTEST_DIALOG(dlg->OnSysCommand(IDM_ABOUTBOX | 0x3), ExpectAbout());
    wxCommandEvent menu(wxEVT_MENU, IDM_ABOUTBOX);
    wxTEST_DIALOG(dlg->ProcessWindowEvent(menu), ExpectAbout());
    // Another system command opens nothing.
    dlg->OnSysCommand(0xF060);
}

TEST(MainWindowTest, ComPortListOffersLinkedPortsAndSelectsTheFirst)
{
    const std::filesystem::path ports = std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "tessarin" / "ports";
    std::filesystem::create_directories(ports);
    int master[2] = {-1, -1}, slave[2] = {-1, -1};
    char name[2][256];
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(openpty(&master[i], &slave[i], name[i], nullptr, nullptr), 0);
    std::filesystem::create_symlink(name[0], ports / "COM23");
    std::filesystem::create_symlink(name[1], ports / "COM21");
    std::filesystem::create_symlink("/nonexistent/tty", ports / "COM22");

    {
        auto dlg = MakeWindow(false);
        // In port order, missing ones left out, the first selected.
        ASSERT_EQ(dlg->m_pComPortCombo->GetCount(), 2u);
        EXPECT_EQ(dlg->m_pComPortCombo->GetString(0), "COM21");
        EXPECT_EQ(dlg->m_pComPortCombo->GetString(1), "COM23");
        EXPECT_EQ(dlg->m_pComPortCombo->GetSelection(), 0);
        EXPECT_EQ(dlg->m_strComPort, "COM21");
        // The combo box sits on the toolbar, after the Refresh button.
        EXPECT_EQ(dlg->m_pComPortCombo->GetParent(), &dlg->m_toolBar);
        EXPECT_EQ(dlg->m_toolBar.GetToolPos(dlg->m_pComPortCombo->GetId()),
                  dlg->m_toolBar.GetToolPos(ID_REFRESH_COM_PORTS) + 1);

        // A selection by the user reaches the window through the toolbar.
        dlg->m_pComPortCombo->SetSelection(1);
        wxCommandEvent choice(wxEVT_CHOICE, dlg->m_pComPortCombo->GetId());
        choice.SetEventObject(dlg->m_pComPortCombo);
        choice.SetInt(1);
        dlg->m_pComPortCombo->ProcessWindowEvent(choice);
        EXPECT_EQ(dlg->m_strComPort, "COM23");
        // Refresh selects the first entry again.
        wxCommandEvent refresh(wxEVT_TOOL, ID_REFRESH_COM_PORTS);
        dlg->ProcessWindowEvent(refresh);
        EXPECT_EQ(dlg->m_strComPort, "COM21");
        EXPECT_EQ(dlg->m_pComPortCombo->GetCount(), 2u);
    }
    for (const char* com : {"COM21", "COM22", "COM23"})
        std::filesystem::remove(ports / com);
    for (int i = 0; i < 2; ++i) {
        close(slave[i]);
        close(master[i]);
    }
}

TEST(MainWindowTest, EngineAnnouncementsAndWarningsReachTheWindowThread)
{
    auto dlg = MakeWindow(false);

    // One event per announcement, from any thread, on the window thread. The events
    // are taken here, before the window's own handler would look for lines.
    std::atomic<int> seen{0};
    bool offThread = false;
    dlg->Bind(wxEVT_THREAD, [&](wxThreadEvent&) {
        if (!wxThread::IsMain())
            offThread = true;
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
    wxTEST_DIALOG(dlg->ShowWarning("Not able to open COM port!"),
                  ExpectWarningBox(title, "Not able to open COM port!"));

    // From another thread the call returns at once; the same text sent again while its
    // box is on its way is not queued twice, a different text is.
    std::thread warner([&] {
        for (int i = 0; i < 20; ++i)
            dlg->ShowWarning("Not able to read from COM port!");
        dlg->ShowWarning("Not able to write to log file!");
    });
    warner.join();
    wxTEST_DIALOG(PumpFor(300), ExpectWarningBox(title, "Not able to read from COM port!"),
                  ExpectWarningBox(title, "Not able to write to log file!"));

    // Once its box is closed, the text can be shown again.
    std::thread again([&] { dlg->ShowWarning("Not able to read from COM port!"); });
    again.join();
    wxTEST_DIALOG(PumpFor(300), ExpectWarningBox(title, "Not able to read from COM port!"));
}

TEST(MainWindowTest, DoubleClickInTheNodeListPicksTheDestination)
{
    auto dlg = MakeWindow();
    wxListBox* list = dlg->m_nodeList;
    wxUIActionSimulator sim;
    auto rowPoint = [&](int row) {
        const wxRect rect = list->GetScreenRect();
        for (int y = 2; y < rect.height; ++y) {
            if (list->HitTest(wxPoint(10, y)) == row)
                return rect.GetPosition() + wxPoint(10, y + 3);
        }
        ADD_FAILURE() << "row " << row << " not found";
        return rect.GetPosition();
    };
    auto doubleClick = [&](const wxPoint& pt) {
        sim.MouseMove(pt);
        PumpFor(100);
        sim.MouseDblClick();
        PumpFor(300);
    };

    // No entry selected: nothing changes.
    dlg->m_nSelectedNode = 77;
    doubleClick(list->GetScreenRect().GetPosition() + wxPoint(10, 10));
    EXPECT_EQ(dlg->m_nSelectedNode, 77);

    list->Append("0x1234 REF   ", reinterpret_cast<void*>(static_cast<wxUIntPtr>(0x1234)));
    list->Append("0x0000 COORD ", reinterpret_cast<void*>(static_cast<wxUIntPtr>(0)));
    PumpFor(100);
    ASSERT_EQ(list->GetString(1), "0x1234 REF   ");
    doubleClick(rowPoint(1));
    EXPECT_EQ(dlg->m_nSelectedNode, 0x1234);
    // The dongle's entry carries 0: no node picked.
    doubleClick(rowPoint(0));
    EXPECT_EQ(dlg->m_nSelectedNode, 0);
}
