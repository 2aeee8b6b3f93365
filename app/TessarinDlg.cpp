#include "app/TessarinDlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/filename.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stdpaths.h>
#include <wx/thread.h>

#include <algorithm>
#include <cstring>

#include "app/AboutDlg.h"
#include "app/settings/TessarinSettings.h"
#include "controls/Accessible.h"
#include "res/Resources.h"

// clang-format off
wxBEGIN_EVENT_TABLE(CTessarinDlg, wxFrame)
    EVT_SIZE(CTessarinDlg::OnSizeEvent)
    EVT_PAINT(CTessarinDlg::OnPaint)
    EVT_CLOSE(CTessarinDlg::OnClose)
    EVT_CHAR_HOOK(CTessarinDlg::OnCharHook)
    EVT_ACTIVATE(CTessarinDlg::OnActivate)
    EVT_TIMER(ID_STATUS_TIMER, CTessarinDlg::OnTimerEvent)
    EVT_THREAD(WM_LINE_READY, CTessarinDlg::OnLineReadyEvent)
    EVT_MENU(IDM_ABOUTBOX, CTessarinDlg::OnAboutBox)
    EVT_MENU(MenuItemId(ID_LOG_FILE), CTessarinDlg::Command<&CTessarinDlg::OnLogFile>)
    EVT_MENU(MenuItemId(ID_APPEND_TO_LOG_FILE), CTessarinDlg::Command<&CTessarinDlg::OnAppendToLogFile>)
    EVT_TOOL(ID_CLEAR_LOG, CTessarinDlg::Command<&CTessarinDlg::OnClearLog>)
    EVT_TOOL(ID_START_CAPTURE, CTessarinDlg::Command<&CTessarinDlg::OnStartCapture>)
    EVT_TOOL(ID_STOP_CAPTURE, CTessarinDlg::Command<&CTessarinDlg::OnStopCapture>)
    EVT_TOOL(ID_PING, CTessarinDlg::Command<&CTessarinDlg::OnPing>)
    EVT_TOOL(ID_REFRESH_COM_PORTS, CTessarinDlg::Command<&CTessarinDlg::OnRefreshComPorts>)
    EVT_BUTTON(IDC_BLIND_FIND_REQ, CTessarinDlg::Command<&CTessarinDlg::OnBlindFindReq>)
    EVT_BUTTON(IDC_XY_RSSI_REQ, CTessarinDlg::Command<&CTessarinDlg::OnXyRssiReq>)
    EVT_CHECKBOX(IDC_SHOW_PARAMETERS, CTessarinDlg::Command<&CTessarinDlg::OnShowParameters>)
    EVT_BUTTON(IDC_REF_CONF_REQ, CTessarinDlg::Command<&CTessarinDlg::OnRefConfReq>)
    EVT_BUTTON(IDC_REF_CONF, CTessarinDlg::Command<&CTessarinDlg::OnRefConf>)
    EVT_BUTTON(IDC_BLIND_CONF_REQ, CTessarinDlg::Command<&CTessarinDlg::OnBlindConfReq>)
    EVT_BUTTON(IDC_BLIND_CONF, CTessarinDlg::Command<&CTessarinDlg::OnBlindConf>)
    EVT_LISTBOX_DCLICK(IDC_NODE_LIST, CTessarinDlg::OnNodeListDoubleClick)
    // The combo box's window id is the toolkit's: numbers from 32767 up are refused for
    // windows. It is told apart by its window instead.
    EVT_CHOICE(wxID_ANY, CTessarinDlg::OnComPortComboEvent)
wxEND_EVENT_TABLE()
// clang-format on

namespace {
// IDD_TESSARIN_DIALOG: the twelve controls in the order they are made, in dialog units.
// Group boxes come before the controls they frame, so that a point inside a group
// finds the group first, as the hover help expects.
enum ControlKind { GROUP, BUTTON, CHECK, LINE, LISTBOX };

struct TemplateControl {
    int id;
    ControlKind kind;
    const char* caption;
    int x, y, cx, cy;
};

const TemplateControl kDialogTemplate[] = {
    {IDC_SEPARATOR, LINE, "", 0, 19, 564, 1},
    {IDC_MESSAGE_LOG_GROUP, GROUP, "Message Log", 5, 27, 413, 200},
    {IDC_NODE_LIST_GROUP, GROUP, "Node List", 428, 27, 131, 200},
    {IDC_SEND_MESSAGE_GROUP, GROUP, "Send Message", 5, 235, 554, 42},
    {IDC_NODE_LIST, LISTBOX, "", 433, 39, 121, 182},
    // Captions carry their Alt keys; the menus' own letters (F, C, H) are left to them.
    {IDC_SHOW_PARAMETERS, CHECK, "Show &parameters", 10, 247, -1, -1},
    {IDC_XY_RSSI_REQ, BUTTON, "&XY-RSSI Req", 85, 243, 50, 12},
    {IDC_REF_CONF_REQ, BUTTON, "&Ref.Conf.Req", 135, 243, 50, 12},
    {IDC_REF_CONF, BUTTON, "Ref. C&onf.", 185, 243, 50, 12},
    {IDC_BLIND_FIND_REQ, BUTTON, "Blind F&ind Req", 85, 258, 50, 12},
    {IDC_BLIND_CONF_REQ, BUTTON, "&Blind Conf. Req", 135, 258, 50, 12},
    {IDC_BLIND_CONF, BUTTON, "Blin&d Conf.", 185, 258, 50, 12},
};

// Hover areas in the order they are tested, with their help texts.
const char kSendMessageHelp[] =
    "Send messages to the nodes.\r\n"
    " - XY-RSSI Request (Cluster ID: 0x0011). Broadcast.\r\n"
    " - Blind Node Find Request (Cluster ID: 0x0013). Broadcast.\r\n"
    " - Reference Node Configuration Request (Cluster ID: 0x0017). Unicast.\r\n"
    " - Blind Node Configuration Request (Cluster ID: 0x0018). Unicast.\r\n"
    " - Reference Node Configuration (Cluster ID: 0x0015). Unicast.\r\n"
    " - Blind Node Configuration (Cluster ID: 0x0016). Unicast.\r\n"
    "\r\n"
    "The check box \"Show Parameters\" is used to show an input dialog or not for the unicast "
    "messages.\r\n";
const char kMessageLogHelp[] =
    "All incoming and outgoing messages.\r\n"
    "The direction is indicated with an arrow: --> IN, <-- OUT\r\n"
    "All outgoing messages are shown with the destination address while the incoming messages are "
    "shown with source address.";
const char kNodeListHelp[] =
    "Listing of Node addresses retrieved from the incoming messages.\r\n"
    "A double click on the Node ID, will cause the address to be used in the Unicast messages.";
const char kComPortHelp[] =
    "List of available COM ports.\r\n"
    "Use the button to the left to refresh the list of COM ports.";

const int kHoverWrapWidth = 400;
const int kStatusTimerMs = 250;

// Moves and sizes a child; sizes the formulas make negative on a tiny window become 0.
void Place(wxWindow* window, int x, int y, int cx, int cy)
{
    window->SetSize(x, y, std::max(cx, 0), std::max(cy, 0), wxSIZE_ALLOW_MINUS_ONE);
}

}   // namespace

CTessarinDlg::CTessarinDlg()
{
    // The 16 x 16 picture is the window's icon; the larger ones serve the desktop.
    for (int size : {16, 32, 48}) {
        wxImage image;
        // A picture that does not decode only leaves the window without that size.
        if (!LoadIconImage(IDR_MAINFRAME, size, &image))
            continue;
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(image));
        m_icons.AddIcon(icon);
        if (size == 16)
            m_hIcon = icon;
    }
    m_statusTimer.SetOwner(this, ID_STATUS_TIMER);
}

CTessarinDlg::~CTessarinDlg()
{
    m_portWatcher.Stop();
    m_statusTimer.Stop();
    // The capture thread must be gone before this window is: it posts to it. Its last
    // warnings go to the standard error stream, as no box can open now.
    m_link.SetWarningSink(nullptr);
    m_link.StopCapture();
    m_link.SetNotifyWindow(nullptr);

    if (m_pComPortCombo) {
        // The toolbar holds the combo box as one of its tools; deleting the tool
        // destroys the window.
        m_toolBar.DeleteTool(m_pComPortCombo->GetId());
        m_pComPortCombo = nullptr;
    }
}

bool CTessarinDlg::Create(wxWindow* parent)
{
    // After every event the toolkit offers idle time and interface updates to every
    // window; at one event per received line that walk costs more than the line. Only
    // the windows that ask for them get them (the Message Log's filter runs on idle).
    wxIdleEvent::SetMode(wxIDLE_PROCESS_SPECIFIED);
    wxUpdateUIEvent::SetMode(wxUPDATE_UI_PROCESS_SPECIFIED);
    if (!wxFrame::Create(parent, wxID_ANY, "Tessarin", wxDefaultPosition, wxDefaultSize,
                         wxDEFAULT_FRAME_STYLE, "Tessarin"))
        return false;

    auto* file = new wxMenu;
    file->Append(MenuItemId(ID_LOG_FILE), "Log File ...");
    file->AppendCheckItem(MenuItemId(ID_APPEND_TO_LOG_FILE), "Append to Log File");
    auto* menuBar = new wxMenuBar;
    menuBar->Append(file, "&File");
    CreateReadingMenus(menuBar, file);
    SetMenuBar(menuBar);

    if (!CreateFromTemplate())
        return false;
    return OnInitDialog();
}

bool CTessarinDlg::CreateFromTemplate()
{
    m_pClient =
        new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE);
    // Nothing here handles erasing, which then falls to the theme's background anyway; an
    // erase makes a DC that asks the theme for fonts and colours at every child's paint.
    SetBackgroundStyle(wxBG_STYLE_SYSTEM);
    m_pClient->SetBackgroundStyle(wxBG_STYLE_SYSTEM);
    // The layout's pixel sizes were made for an 8-point font 13 pixels high; the desktop's
    // large-text setting makes it higher.
    wxFont font8 = m_pClient->GetFont();
    font8.SetPointSize(8);
    int textWidth = 0;
    m_pClient->GetTextExtent("Xg", &textWidth, &m_nTextHeight8, nullptr, nullptr, &font8);
    // The template's dialog units, measured with this window's own font.
    // A screen smaller than that gets a window that fits it, frame and menu included.
    wxSize size = ConvertDialogToPixels(wxSize(564, 282));
    const wxRect work = wxGetClientDisplayRect();
    const int frameExtra = 80;
    if (work.width > 0 && work.height > 0) {
        size.x = std::min(size.x, work.width - frameExtra / 4);
        size.y = std::min(size.y, work.height - frameExtra);
    }
    SetClientSize(size);
    m_pClient->SetSize(GetClientSize());

    for (const TemplateControl& c : kDialogTemplate) {
        const wxPoint pos = ConvertDialogToPixels(wxPoint(c.x, c.y));
        const wxSize size = (c.cx < 0) ? wxDefaultSize : ConvertDialogToPixels(wxSize(c.cx, c.cy));
        wxWindow* control = nullptr;
        switch (c.kind) {
        case GROUP:
            control = new wxStaticBox(m_pClient, c.id, c.caption, pos, size);
            break;
        case BUTTON:
            control = new wxButton(m_pClient, c.id, c.caption, pos, size);
            break;
        case CHECK:
            control = new wxCheckBox(m_pClient, c.id, c.caption, pos, size);
            break;
        case LINE:
            control = new wxStaticLine(m_pClient, c.id, pos, wxSize(size.x, 2), wxLI_HORIZONTAL);
            break;
        case LISTBOX:
            control = new wxListBox(m_pClient, c.id, pos, size, 0, nullptr,
                                    wxLB_SORT | wxLB_SINGLE | wxLB_NEEDED_SB | wxBORDER_SUNKEN);
            break;
        }
        if (!control)
            return false;
    }
    return true;
}

void CTessarinDlg::DoDataExchange()
{
    // Binding order of the template's controls.
    m_nodeList = wxDynamicCast(m_pClient->FindWindow(IDC_NODE_LIST), wxListBox);
    m_separator = wxDynamicCast(m_pClient->FindWindow(IDC_SEPARATOR), wxStaticLine);
    m_nodeListGroup = wxDynamicCast(m_pClient->FindWindow(IDC_NODE_LIST_GROUP), wxStaticBox);
    m_messageLogGroup = wxDynamicCast(m_pClient->FindWindow(IDC_MESSAGE_LOG_GROUP), wxStaticBox);
    m_showParameters = wxDynamicCast(m_pClient->FindWindow(IDC_SHOW_PARAMETERS), wxCheckBox);
    m_xyRssiReq = wxDynamicCast(m_pClient->FindWindow(IDC_XY_RSSI_REQ), wxButton);
    m_refConfReq = wxDynamicCast(m_pClient->FindWindow(IDC_REF_CONF_REQ), wxButton);
    m_refConf = wxDynamicCast(m_pClient->FindWindow(IDC_REF_CONF), wxButton);
    m_blindConfReq = wxDynamicCast(m_pClient->FindWindow(IDC_BLIND_CONF_REQ), wxButton);
    m_blindConf = wxDynamicCast(m_pClient->FindWindow(IDC_BLIND_CONF), wxButton);
    m_sendMessageGroup = wxDynamicCast(m_pClient->FindWindow(IDC_SEND_MESSAGE_GROUP), wxStaticBox);
    m_blindFindReq = wxDynamicCast(m_pClient->FindWindow(IDC_BLIND_FIND_REQ), wxButton);
}

bool CTessarinDlg::OnInitDialog()
{
    DoDataExchange();
    if (!m_nodeList || !m_separator || !m_nodeListGroup || !m_messageLogGroup || !m_showParameters ||
        !m_xyRssiReq || !m_refConfReq || !m_refConf || !m_blindConfReq || !m_blindConf ||
        !m_sendMessageGroup || !m_blindFindReq)
        return false;

    // This toolkit offers no system menu a program can extend, so the about box's entry
    // gets a menu of its own after "&File".
    const char* about = LoadStringResource(IDS_ABOUTBOX);
    if (*about) {
        auto* help = new wxMenu;
        help->Append(IDM_ABOUTBOX, wxString::FromUTF8(about));
        GetMenuBar()->Append(help, "&Help");
    }

    SetIcons(m_icons);

    if (!CreateToolBar() || !CreateStatusBar())
        return false;
    SyncCaptureMenu();

    if (!m_messageLog.Create(m_pClient, wxID_ANY, wxPoint(0, 0), wxSize(400, 200),
                             wxBORDER_SUNKEN | wxVSCROLL | wxTAB_TRAVERSAL))
        return false;
    m_messageLog.SetLabel(wxString());
    m_messageLog.InsertColumn("Time", Scaled(80), 0);
    m_messageLog.InsertColumn("Dir", Scaled(30), 1);
    m_messageLog.InsertColumn("Addr", Scaled(50), 2);
    m_messageLog.InsertColumn("Message", Scaled(140), 3);
    m_messageLog.InsertColumn("Payload", 0, 4);
    // Keyboard order follows the window's reading order: the log, then the Node List.
    m_messageLog.MoveBeforeInTabOrder(m_nodeList);
    if (!CreateFilterBar())
        return false;

    m_link.SetNotifyWindow(this);
    m_link.SetWarningSink(this);
    m_link.GetDataBuffer(&m_pDataBuffer);

    CreateComPortCombo();
    StartComPortList();
    OnRefreshComPorts();

    CTessarinSettings settings;
    settings.Load();
    m_strLogFile = settings.m_szLogFile;
    m_showParameters->SetValue(settings.m_nChkParam != 0);
    m_bAppendToLogFile = static_cast<int32_t>(settings.m_nAppendToLogFile);
    GetMenuBar()->Check(MenuItemId(ID_APPEND_TO_LOG_FILE), m_bAppendToLogFile != 0);
    // Publishing to a broker, as last chosen.
    m_mqtt.Attach(this, GetMenuBar()->GetMenu(0), &m_link, [this] { return m_strComPort; });

    OnSize();

    UpdateStatusBar();
    m_statusTimer.Start(kStatusTimerMs);
    EnableNodeButtons(false);

    if (!m_toolTip.GetHandle())
        m_toolTip.Create(this);
    WatchMouseAndKeys(this);
    WatchMouseAndKeys(&m_toolTip);
    m_bInitialized = true;
    return true;
}

bool CTessarinDlg::CreateToolBar()
{
    if (!m_toolBar.Create(m_pClient, IDC_TOOLBAR, wxPoint(0, 0), wxDefaultSize,
                          wxTB_FLAT | wxTB_HORIZONTAL | wxTB_NODIVIDER))
        return false;
    static const CMainToolBar::TBBUTTON kButtons[] = {
        {0, ID_CLEAR_LOG},
        {1, ID_START_CAPTURE},
        {2, ID_STOP_CAPTURE},
        {3, ID_PING},
        {3, 0},   // separator, 3 pixels
        {4, ID_REFRESH_COM_PORTS},
    };
    if (!m_toolBar.AddButtons(kButtons, 6))
        return false;
    // The toolkit sizes the buttons round their 16 x 16 images itself.
    m_toolBar.SetToolBitmapSize(wxSize(16, 16));
    // A strip that fails leaves its buttons without those images; nothing to tell.
    m_toolBar.SetImageLists(16, IDB_TOOLBAR, IDB_TOOLBAR, IDB_TOOLBAR_DISABLED);
    for (const CMainToolBar::TBBUTTON& button : kButtons) {
        wxString tip;
        if (button.command != 0 && OnToolTipNotify(button.command, &tip))
            m_toolBar.SetToolShortHelp(button.command, tip);
    }
    m_toolBar.EnableTool(ID_START_CAPTURE, true);
    m_toolBar.EnableTool(ID_STOP_CAPTURE, false);
    m_toolBar.EnableTool(ID_PING, false);
    m_toolBar.Realize();
    NameToolsByTheirHelp(&m_toolBar);
    return true;
}

bool CTessarinDlg::CreateStatusBar()
{
    // No size grip: the window's own frame resizes it on this toolkit.
    if (!m_statusBar.Create(m_pClient, IDC_STATUS_BAR,
                            wxSTB_SHOW_TIPS | wxSTB_ELLIPSIZE_END | wxFULL_REPAINT_ON_RESIZE))
        return false;
    m_statusBar.SetSize(0, 0, 300, 16);
    const int widths[3] = {Scaled(125), Scaled(350) - Scaled(125), -1};
    m_statusBar.SetFieldsCount(3, widths);
    return true;
}

void CTessarinDlg::CreateComPortCombo()
{
    // Right of Refresh: 155 pixels wide. The toolkit's toolbar places its items itself,
    // so the combo box follows the Refresh button as the next item.
    m_pComPortCombo = new wxChoice(&m_toolBar, wxID_ANY, wxDefaultPosition, wxSize(Scaled(155), -1));
    m_pComPortCombo->SetLabel(wxString());
    m_toolBar.AddControl(m_pComPortCombo);
    m_toolBar.Realize();
    // Screen readers read the list by its hover text, on one line.
    wxString name = wxString::FromUTF8(kComPortHelp);
    name.Replace("\r\n", " ");
    SetAccessibleName(m_pComPortCombo, name.Trim());
}

int CTessarinDlg::DoModal()
{
    if (!Create())
        return -1;
    Show();
    wxTheApp->MainLoop();
    return m_nModalResult;
}

void CTessarinDlg::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    m_bEnded = true;
    m_statusTimer.Stop();
    m_toolTip.HideTip();
    // Stopped here, while the window can still show what stopping has to say.
    m_link.StopCapture();
    Hide();
    if (wxTheApp && wxTheApp->IsMainLoopRunning())
        wxTheApp->ExitMainLoop();
}

void CTessarinDlg::OnOK()
{
    // Enter leaves the window open.
}

void CTessarinDlg::OnCancel()
{
    EndDialog(wxID_CANCEL);
}

void CTessarinDlg::OnClose(wxCloseEvent&)
{
    OnCancel();
}

void CTessarinDlg::OnCharHook(wxKeyEvent& event)
{
    if (OnReadingKey(event))
        return;
    switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
        OnCancel();
        return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
        // A focused push button takes Enter as a click; elsewhere Enter is the dialog's
        // OK, which does nothing.
        // dynamic_cast, not wxDynamicCast: the latter downcasts before it checks, which
        // is undefined for a focus on anything but a button.
        if (!dynamic_cast<wxButton*>(wxWindow::FindFocus())) {
            OnOK();
            return;
        }
        break;
    default:
        break;
    }
    event.Skip();
}

void CTessarinDlg::OnSizeEvent(wxSizeEvent&)
{
    // The default processing: the client panel covers the client area.
    if (m_pClient)
        m_pClient->SetSize(GetClientSize());
    OnSize();
}

void CTessarinDlg::OnSize()
{
    if (!m_toolBar.GetHandle() || !m_statusBar.GetHandle() || !m_messageLog.GetHandle() || !m_nodeList ||
        IsIconized())
        return;

    const wxSize client = GetClientSize();
    const int W = client.x;
    const int H = client.y;

    // The toolbar sizes itself at the top and the status bar docks at the bottom.
    m_toolBar.SetSize(0, 0, W, m_toolBar.GetBestSize().y);
    const int statusHeight = m_statusBar.GetBestSize().y;
    m_statusBar.SetSize(0, H - statusHeight, W, statusHeight);

    const int T = m_toolBar.GetClientSize().y;
    const int S = m_statusBar.GetClientSize().y;
    const int Q = W / 4;

    Place(m_separator, 0, T + 2, W, 2);

    // Every size below is for 13-pixel text (Scaled); the message buttons are as high as
    // the toolkit makes them, so with larger text their group grows to hold both rows.
    const int bh = m_xyRssiReq->GetSize().y;
    int groupHeight = Scaled(70);
    if (Scaled(100) != 100)
        groupHeight = std::max(groupHeight, Scaled(18) + 2 * bh + Scaled(4));
    const int yTop = T + Scaled(14);
    const int yBottom = H - S - groupHeight - Scaled(10);
    const int m10 = Scaled(10), m20 = Scaled(20);
    Place(m_messageLogGroup, m10, yTop, 3 * Q, yBottom - yTop);
    int logTop = yTop + m20;
    if (m_pFilterBar && m_pFilterBar->IsShown()) {
        // The bar takes the top of the log's place while it is open.
        const int barHeight = m_pFilterBar->GetBestSize().y;
        Place(m_pFilterBar, m20, logTop, 3 * Q - m20, barHeight);
        m_pFilterBar->Layout();
        logTop += barHeight + Scaled(4);
    }
    Place(&m_messageLog, m20, logTop, 3 * Q - m20, yBottom - logTop - m10);
    Place(m_nodeListGroup, 3 * Q + m20, yTop, W - m10 - m20 - 3 * Q, yBottom - yTop);
    Place(m_nodeList, 3 * Q + m20 + m10, yTop + m20, W - 2 * m20 - m10 - 3 * Q, yBottom - yTop - m20 - m10);

    const int yS = H - S - groupHeight;
    Place(m_sendMessageGroup, m10, yS, W - m20, groupHeight);
    const wxSize check = m_showParameters->GetSize();
    Place(m_showParameters, m20, yS + m20, check.x, check.y);

    const int cw = check.x;
    const int B = (W - cw - m20) / 4;
    const int x0 = cw + m20 + m10;
    const int row1 = yS + Scaled(13);
    const int row2 = yS + Scaled(18) + bh;
    Place(m_xyRssiReq, x0, row1, B, bh);
    Place(m_refConfReq, x0 + B, row1, B, bh);
    Place(m_refConf, x0 + 2 * B, row1, B, bh);
    Place(m_blindFindReq, x0, row2, B, bh);
    Place(m_blindConfReq, x0 + B, row2, B, bh);
    Place(m_blindConf, x0 + 2 * B, row2, B, bh);

    m_pClient->Refresh(true);
}

void CTessarinDlg::OnPaint(wxPaintEvent& event)
{
    // Every paint of a child comes here too: a paint DC costs more than the child's
    // own paint of a row, and the default processing validates the area just as well.
    if (!IsIconized() || !m_hIcon.IsOk()) {
        event.Skip();
        return;
    }
    wxPaintDC dc(this);
    const wxSize client = GetClientSize();
    const int cxIcon = wxSystemSettings::GetMetric(wxSYS_ICON_X, this);
    const int cyIcon = wxSystemSettings::GetMetric(wxSYS_ICON_Y, this);
    dc.Clear();
    dc.DrawIcon(m_hIcon, (client.x - cxIcon + 1) / 2, (client.y - cyIcon + 1) / 2);
}

void CTessarinDlg::OnSysCommand(int nID)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlg(this);
        dlg.ShowModal();
    }
}

void CTessarinDlg::OnAboutBox(wxCommandEvent& event)
{
    OnSysCommand(event.GetId());
}

void CTessarinDlg::OnActivate(wxActivateEvent& event)
{
    // With no window of this program active, nothing should float over other programs.
    if (!event.GetActive())
        m_toolTip.HideTip();
    event.Skip();
}

bool CTessarinDlg::OnToolTipNotify(int idFrom, wxString* pText)
{
    if (idFrom == 0)
        return false;
    *pText = wxString::FromUTF8(LoadStringResource(idFrom & 0xFFFF));
    return true;
}

void CTessarinDlg::OnTimerEvent(wxTimerEvent& event)
{
    OnTimer(event.GetId());
    if (event.GetId() == ID_STATUS_TIMER) {
        UpdateReadingPane();
        SyncCaptureMenu();
    }
}

void CTessarinDlg::OnComPortComboEvent(wxCommandEvent& event)
{
    if (m_pComPortCombo && event.GetEventObject() == m_pComPortCombo)
        OnComPortSelChange();
    event.Skip();
}

// ---- Hover help ----

wxWindow* CTessarinDlg::ChildWindowFromPoint(const wxPoint& clientPt) const
{
    if (!m_pClient || !wxRect(m_pClient->GetClientSize()).Contains(clientPt))
        return nullptr;
    for (wxWindow* child : m_pClient->GetChildren()) {
        if (child->IsShown() && child->GetRect().Contains(clientPt))
            return child;
    }
    return m_pClient;
}

void CTessarinDlg::WatchMouseAndKeys(wxWindow* window)
{
    // The bindings run before the window's own handlers, as a dialog's message
    // pre-translation does; each lets the event go on.
    for (const wxEventTypeTag<wxMouseEvent>& type :
         {wxEVT_MOTION, wxEVT_LEAVE_WINDOW, wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_RIGHT_DOWN, wxEVT_RIGHT_UP,
          wxEVT_MIDDLE_DOWN, wxEVT_MIDDLE_UP})
        window->Bind(type, &CTessarinDlg::OnChildMouse, this);
    window->Bind(wxEVT_KEY_DOWN, &CTessarinDlg::OnChildKey, this);
    window->Bind(wxEVT_KEY_UP, &CTessarinDlg::OnChildKey, this);
    for (wxWindow* child : window->GetChildren()) {
        if (child != &m_toolTip && !child->IsTopLevel())
            WatchMouseAndKeys(child);
    }
}

void CTessarinDlg::OnChildMouse(wxMouseEvent& event)
{
    event.Skip();
    if (!m_bInitialized)
        return;
    const wxEventType type = event.GetEventType();
    if (type == wxEVT_MOTION || type == wxEVT_LEAVE_WINDOW)
        TrackPointer(event);
    else
        SuppressHoverHelp();
}

void CTessarinDlg::OnChildKey(wxKeyEvent& event)
{
    event.Skip();
    if (m_bInitialized)
        SuppressHoverHelp();
}

void CTessarinDlg::SuppressHoverHelp()
{
    m_toolTip.Suppress(m_toolTip.GetControl());
    m_toolTip.HideTip();
}

void CTessarinDlg::TrackPointer(wxMouseEvent& event)
{
    if (event.GetEventObject() == &m_toolTip)
        return;   // the tip forwards the moves it does not keep
    const wxPoint screen = wxGetMousePosition();
    m_toolTip.CheckLeave(ChildWindowFromPoint(m_pClient->ScreenToClient(screen)));
    if (m_toolTip.IsShown() && NodeEntryAt(screen) != m_nHoverNodeEntry) {
        // Each Node List entry has a text of its own.
        m_toolTip.HideTip();
        m_toolTip.Suppress(nullptr);
    }
    if (m_toolTip.IsShown()) {
        // What the tip would see through a mouse capture: it stays while the pointer is
        // over its window and hides, letting the move through, once it leaves.
        wxWindow* const control = m_toolTip.GetControl();
        if (control && control->GetScreenRect().Contains(screen))
            return;
        m_toolTip.HideTip();
        m_toolTip.Suppress(nullptr);
    }
    if (event.GetEventType() == wxEVT_MOTION) {
        wxWindow* window = wxFindWindowAtPoint(screen);
        if (!window || wxGetTopLevelParent(window) != this)
            window = dynamic_cast<wxWindow*>(event.GetEventObject());
        ShowHoverHelp(window);
    }
}

void CTessarinDlg::ShowHoverHelp(wxWindow* window)
{
    const wxPoint screen = wxGetMousePosition();
    wxWindow* child = ChildWindowFromPoint(m_pClient->ScreenToClient(screen));
    if (!child)
        return;
    m_toolTip.TrackLeave(child);

    if (child == m_toolTip.GetSuppressed()) {
        m_toolTip.HideTip();
    } else {
        if (!(m_toolTip.IsShown() && child == m_toolTip.GetControl())) {
            m_toolTip.HideTip();
            m_nHoverNodeEntry = NodeEntryAt(screen);
            const std::string comPortHelp = ComPortHelpText(kComPortHelp);
            const struct {
                wxWindow* area;
                const char* text;
            } areas[] = {
                {m_sendMessageGroup, kSendMessageHelp},
                {m_messageLogGroup, kMessageLogHelp},
                {m_nodeListGroup, kNodeListHelp},
                {m_pComPortCombo, comPortHelp.c_str()},
                // The capture's device: the bar's panes are spoken for.
                {m_strCaptureDevice.empty() ? nullptr : &m_statusBar, m_strCaptureDevice.c_str()},
            };
            // The window under the pointer is asked first: the combo box lies inside the
            // toolbar, which is the client panel's child there.
            const wxString node =
                m_nHoverNodeEntry == wxNOT_FOUND ? wxString() : NodeHoverText(m_nHoverNodeEntry);
            if (!node.empty())
                m_toolTip.ShowTip(m_nodeList, screen.x, screen.y, node.utf8_str(), kHoverWrapWidth);
            for (const auto& a : areas) {
                if (!node.empty())
                    break;
                if (a.area && (window == a.area || child == a.area)) {
                    m_toolTip.ShowTip(a.area, screen.x, screen.y, a.text, kHoverWrapWidth);
                    break;
                }
            }
        }
        m_toolTip.Suppress(nullptr);
    }
    m_toolTip.SetControl(child);
}

void CTessarinDlg::OnNodeListDoubleClick(wxCommandEvent& event)
{
    event.Skip();
    const int sel = m_nodeList->GetSelection();
    if (sel != wxNOT_FOUND)
        m_nSelectedNode = static_cast<int32_t>(reinterpret_cast<wxUIntPtr>(m_nodeList->GetClientData(sel)));
}

// ---- Warnings and line announcements from the capture engine ----

void CTessarinDlg::PostLineReady()
{
    wxQueueEvent(this, new wxThreadEvent(wxEVT_THREAD, WM_LINE_READY));
}

void CTessarinDlg::OnLineReadyEvent(wxThreadEvent&)
{
    OnLineReady();
}

void CTessarinDlg::ShowWarning(const char* text)
{
    if (!text)
        return;
    if (!*text)
        text = " ";
    std::unique_lock<std::mutex> lock(m_warningLock);
    // The same text open, queued or on its way is not shown twice.
    auto pending = [&] {
        for (const std::string& queued : m_warningQueue)
            if (std::strncmp(queued.c_str(), text, kWarningLength - 1) == 0)
                return true;
        for (const auto& slot : m_szWarnings)
            if (slot[0] && std::strncmp(slot, text, kWarningLength - 1) == 0)
                return true;
        return false;
    };
    if (pending())
        return;
    if (wxThread::IsMain()) {
        m_warningQueue.emplace_back(text, strnlen(text, kWarningLength - 1));
        lock.unlock();
        ShowQueuedWarnings();
        return;
    }

    int slot = -1;
    auto freeSlot = [&] {
        for (int i = 0; i < kWarningSlots; ++i)
            if (!m_szWarnings[i][0])
                return slot = i, true;
        return pending();
    };
    // Slots are freed by the window's event loop, not by the user: this waits only while
    // that loop is held up (at worst by a Stop that waits for this thread, hence the limit).
    if (!m_warningSlotFreed.wait_for(lock, std::chrono::seconds(1), freeSlot) || slot < 0)
        return;
    std::strncpy(m_szWarnings[slot], text, kWarningLength - 1);
    m_szWarnings[slot][kWarningLength - 1] = '\0';
    lock.unlock();
    // Posted events run in order, so the texts keep theirs.
    CallAfter([this, slot] {
        {
            std::lock_guard<std::mutex> guard(m_warningLock);
            m_warningQueue.emplace_back(m_szWarnings[slot]);
            m_szWarnings[slot][0] = '\0';
        }
        m_warningSlotFreed.notify_all();
        ShowQueuedWarnings();
    });
}

void CTessarinDlg::ShowQueuedWarnings()
{
    // One box at a time: texts that come while one is open wait for it to close.
    if (m_bWarningOpen)
        return;
    m_bWarningOpen = true;
    for (;;) {
        wxString message;
        {
            std::lock_guard<std::mutex> guard(m_warningLock);
            if (m_warningQueue.empty())
                break;
            message = wxString::FromUTF8(m_warningQueue.front());
        }
        ShowWarningNow(message);
        std::lock_guard<std::mutex> guard(m_warningLock);
        m_warningQueue.pop_front();
    }
    m_bWarningOpen = false;
}

void CTessarinDlg::ShowWarningNow(const wxString& text)
{
    WarningBox(text);
}

void CTessarinDlg::WarningBox(const wxString& text)
{
    wxMessageBox(text, AppTitle(), wxOK | wxICON_EXCLAMATION, IsShown() ? this : nullptr);
}

wxString CTessarinDlg::AppTitle()
{
    return wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetName();
}
