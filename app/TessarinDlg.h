#pragma once

#include <wx/event.h>
#include <wx/eventfilter.h>
#include <wx/frame.h>
#include <wx/icon.h>
#include <wx/iconbndl.h>
#include <wx/statusbr.h>
#include <wx/timer.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "controls/MainToolBar.h"
#include "controls/MessageLogCtrl.h"
#include "controls/ToolTipCtrlEx.h"
#include "link/DongleLink.h"
#include "link/LinkNotify.h"
#include "platform/ComPortNames.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxListBox;
class wxPanel;
class wxStaticBox;
class wxStaticLine;

// The announcement of one queued line, posted by the capture engine from any thread.
constexpr int WM_LINE_READY = 0x8001;

// Layout request kinds of OnSize.
constexpr int SIZE_RESTORED = 0;
constexpr int SIZE_MINIMIZED = 1;
constexpr int SIZE_MAXIMIZED = 2;

// Mouse message of OnSetCursor that the hover help acts on, and the one hit-test code
// this toolkit can report (every wx window is client area).
constexpr int WM_MOUSEMOVE = 0x0200;
constexpr int HTCLIENT = 1;

// The main window: a top-level frame that behaves as the program's one modal dialog.
// It owns the capture engine, the toolbar with the COM port list, the status bar, the
// Message Log, the Node List, the message buttons and the hover help. Everything here
// runs on the user-interface thread, except PostLineReady and ShowWarning.
class CTessarinDlg : public wxFrame, public ILineReadyNotify, public IWarningSink, private wxEventFilter {
public:
    CTessarinDlg();
    ~CTessarinDlg() override;

    CTessarinDlg(const CTessarinDlg&) = delete;
    CTessarinDlg& operator=(const CTessarinDlg&) = delete;

    // Creates the window from its template (dialog 102, menu 129) and runs OnInitDialog.
    // The window stays hidden. False when a window cannot be created.
    bool Create(wxWindow* parent = nullptr);
    // Creates the window, shows it and runs the event loop until the dialog ends (Escape
    // or the close box). Returns the result EndDialog was given, or -1 when the window
    // could not be created.
    int DoModal();
    // Ends the dialog: stops the capture, hides the window and leaves DoModal's loop.
    void EndDialog(int nResult);
    bool IsDialogEnded() const { return m_bEnded; }
    int GetModalResult() const { return m_nModalResult; }

    // ILineReadyNotify, any thread: one WM_LINE_READY event to this window per line.
    void PostLineReady() override;
    // IWarningSink, any thread: the text is shown in a warning box, one box at a time, in
    // the order the texts came; another thread hands it over and returns. A text already
    // open, queued or on its way is not queued again; no other text is dropped.
    void ShowWarning(const char* text) override;

    // A modal warning box: exclamation icon, OK button, the program's title as caption.
    void WarningBox(const wxString& text);
    // The caption of the program's message boxes: the executable's base name.
    static wxString AppTitle();

    // Lays the window out from its client size. cx and cy are not used; a minimised
    // window and a window before OnInitDialog are left alone.
    void OnSize(int nType, int cx, int cy);

    // Main window (start-up, layout, about box)
    void DoDataExchange();
    bool OnInitDialog();
    void OnOK();
    void OnCancel();
    void OnSysCommand(int nID);
    bool OnToolTipNotify(int idFrom, wxString* pText);
    // Hover help for a mouse message over `window`; always lets the default run.
    void OnSetCursor(wxWindow* window, int nHitTest, int nMouseMessage);
    // Sees every event of this window, of the windows inside it and of the tip before
    // they are handled: hover-help hiding and suppression, and the Node List double
    // click. Returns false: the event always goes on.
    bool PreTranslateMessage(wxEvent& event);

    // Line hand-off and Node List
    void OnLineReady();
    void UpdateNodeList(const char* szLine);
    // Puts the new Node List entries that wait into the list now.
    void FlushNodeList();

    // Capture controls and status bar
    void OnStartCapture();
    void OnStopCapture();
    void OnClearLog();
    void OnPing();
    void EnableNodeButtons(bool bEnable);
    void UpdateStatusBar();
    void OnTimer(int nIDEvent);

    // COM port list
    void OnRefreshComPorts();
    PortStatus ProbeComPort(const char* szDeviceName);
    void OnComPortSelChange();

    // Node commands
    void OnXyRssiReq();
    void OnBlindFindReq();
    void OnRefConfReq();
    void OnBlindConfReq();
    void OnRefConf();
    void OnBlindConf();
    void OnShowParameters();

    // Log file options
    void OnLogFile();
    void OnAppendToLogFile();

    // The members, in the order they are made. The twelve controls of the template are
    // created with the window and bound here by DoDataExchange.
    wxListBox* m_nodeList = nullptr;             // 1041 Node List
    wxStaticLine* m_separator = nullptr;         // 1011
    wxStaticBox* m_nodeListGroup = nullptr;      // 1010 "Node List"
    wxStaticBox* m_messageLogGroup = nullptr;    // 1009 "Message Log"
    wxCheckBox* m_showParameters = nullptr;      // 1003 "Show parameters"
    wxButton* m_xyRssiReq = nullptr;             // 1002 "XY-RSSI Req"
    wxButton* m_refConfReq = nullptr;            // 1005 "Ref.Conf.Req"
    wxButton* m_refConf = nullptr;               // 1006 "Ref. Conf."
    wxButton* m_blindConfReq = nullptr;          // 1007 "Blind Conf. Req"
    wxButton* m_blindConf = nullptr;             // 1008 "Blind Conf."
    wxStaticBox* m_sendMessageGroup = nullptr;   // 1000 "Send Message"
    wxButton* m_blindFindReq = nullptr;          // 1001 "Blind Find Req"

    wxIcon m_hIcon;   // icon 128 at 16 x 16
    CDongleLink m_link;
    CDataBuffer* m_pDataBuffer = nullptr;
    CMainToolBar m_toolBar;    // 132
    wxStatusBar m_statusBar;   // 103
    CMessageLogCtrl m_messageLog;
    wxChoice* m_pComPortCombo = nullptr;   // on the toolbar
    std::string m_strComPort;              // text of the selected entry
    std::string m_strLogFile;              // UTF-8 path handed to the engine
    int32_t m_bAppendToLogFile = 0;        // its menu item: MenuItemId(ID_APPEND_TO_LOG_FILE)
    // Node List entries carry their node address as client data: (void*)(wxUIntPtr)addr.
    int32_t m_nSelectedNode = 0;
    CToolTipCtrlEx m_toolTip;

    // The client area: every child above lives on this panel, which always covers the
    // frame's client rectangle, so that keyboard navigation works as in a dialog.
    wxPanel* m_pClient = nullptr;

private:
    // wxEventFilter: hands each event to PreTranslateMessage.
    int FilterEvent(wxEvent& event) override;

    bool CreateFromTemplate();
    bool CreateToolBar();
    bool CreateStatusBar();
    void CreateComPortCombo();
    // The main window's child under a client point (the panel itself over its bare
    // background); null outside the client area.
    wxWindow* ChildWindowFromPoint(const wxPoint& clientPt) const;
    // The end of a mouse-leave watch, as the pointer is seen to leave the watched child.
    void CheckMouseLeave(const wxPoint& screenPt);
    bool IsOwnWindow(const wxObject* object) const;
    void ShowWarningNow(const wxString& text);
    void ShowQueuedWarnings();

    template <void (CTessarinDlg::*Handler)()>
    void Command(wxCommandEvent&)
    {
        (this->*Handler)();
    }
    void OnSizeEvent(wxSizeEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnTimerEvent(wxTimerEvent& event);
    void OnLineReadyEvent(wxThreadEvent& event);
    void OnComPortComboEvent(wxCommandEvent& event);
    void OnAboutBox(wxCommandEvent& event);
    void OnActivate(wxActivateEvent& event);

    wxIconBundle m_icons;
    wxTimer m_statusTimer;
    wxWindow* m_pTrackedChild = nullptr;
    bool m_bInitialized = false;
    bool m_bEnded = false;
    bool m_bFilterAdded = false;
    int m_nModalResult = 0;

    // Warning texts on their way from other threads: fixed slots, so that the capture
    // thread never allocates. The window thread empties a slot as soon as its event loop
    // runs (an open box's loop included) into its own queue, whose front is the open box.
    // All under m_warningLock.
    static constexpr int kWarningSlots = 16;
    static constexpr int kWarningLength = 256;
    std::mutex m_warningLock;
    std::condition_variable m_warningSlotFreed;
    char m_szWarnings[kWarningSlots][kWarningLength] = {};
    std::deque<std::string> m_warningQueue;
    bool m_bWarningOpen = false;   // window thread only

    // The Node List's entry texts in lower case, kept beside the list so that the test
    // for a new node does not ask the toolkit for every entry at every received line.
    std::multiset<std::string, std::less<>> m_nodeKeys;
    // New entries not yet in the list: a burst of them goes in at once (FlushNodeList).
    static constexpr std::chrono::milliseconds kNodeListInterval{250};
    std::vector<std::string> m_pendingNodes;
    std::chrono::steady_clock::time_point m_nextNodeListFlush;

    wxDECLARE_EVENT_TABLE();
};
