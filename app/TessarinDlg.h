#pragma once

#include <wx/event.h>
#include <wx/frame.h>
#include <wx/icon.h>
#include <wx/iconbndl.h>
#include <wx/timer.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/MqttPublishing.h"
#include "controls/MainToolBar.h"
#include "controls/MessageLogCtrl.h"
#include "controls/StatusBarEx.h"
#include "controls/ToolTipCtrlEx.h"
#include "link/DongleLink.h"
#include "link/LinkNotify.h"
#include "platform/ComPortNames.h"
#include "platform/PortWatcher.h"

class wxButton;
class wxCheckBox;
class wxChoice;
class wxListBox;
class wxPanel;
class wxStaticBox;
class wxStaticLine;
class wxTextCtrl;
class wxMenu;
class wxMenuBar;

// The announcement of one queued line, posted by the capture engine from any thread.
constexpr int WM_LINE_READY = 0x8001;

// The main window: a top-level frame that behaves as the program's one modal dialog.
// It owns the capture engine, the toolbar with the COM port list, the status bar, the
// Message Log, the Node List, the message buttons and the hover help. Everything here
// runs on the user-interface thread, except PostLineReady and ShowWarning.
class CTessarinDlg : public wxFrame, public ILineReadyNotify, public IWarningSink {
public:
    CTessarinDlg();
    ~CTessarinDlg() override;

    CTessarinDlg(const CTessarinDlg&) = delete;
    CTessarinDlg& operator=(const CTessarinDlg&) = delete;

    // Creates the window from its template (IDD_TESSARIN_DIALOG, IDR_MENU) and runs
    // OnInitDialog. The window stays hidden. False when a window cannot be created.
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

    // Lays the window out from its client size; a minimised window and a window before
    // OnInitDialog are left alone.
    void OnSize();

    // Main window (start-up, layout, about box)
    void DoDataExchange();
    bool OnInitDialog();
    void OnOK();
    void OnCancel();
    void OnSysCommand(int nID);
    bool OnToolTipNotify(int idFrom, wxString* pText);

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
    // The list made again after serial devices came or went (also after Stop, when our
    // own port is free again): the selection follows its port, or a new USB device.
    void OnComPortsChanged();
    // The COM box's hover help with the device of the selected port.
    std::string ComPortHelpText(const char* szHelp) const;

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

    // Reading a long log: the filter bar, find, the Capture menu and keys
    void ShowFilterBar(const wxString& text = wxString());
    void HideFilterBar();
    void ApplyFilter();
    // Selects the next (or previous) row that matches the filter bar's text.
    bool FindNext(bool forward);
    // Shows only the rows of the Node List entry under the pointer or selected.
    void ShowOnlyNode(int32_t nodeAddr);
    // Pane 1: the filter's count and the cue of a paused view.
    void UpdateReadingPane();
    // The Capture menu's items enabled as the toolbar's buttons are.
    void SyncCaptureMenu();

    // The parts of the window, for what drives it from outside (tests, benchmarks).
    CDongleLink& GetLink() { return m_link; }
    CMessageLogCtrl& GetMessageLog() { return m_messageLog; }
    const CToolTipCtrlEx& GetToolTip() const { return m_toolTip; }
    wxChoice* GetComPortCombo() const { return m_pComPortCombo; }
    const std::string& GetComPort() const { return m_strComPort; }
    // The status bar's hover help while capturing: the capture's device, else "".
    const std::string& GetCaptureDevice() const { return m_strCaptureDevice; }
    const std::string& GetLogFile() const { return m_strLogFile; }
    int32_t GetSelectedNode() const { return m_nSelectedNode; }

private:
    // The template's twelve controls, made with the window and bound by DoDataExchange
    // in this order.
    wxListBox* m_nodeList = nullptr;
    wxStaticLine* m_separator = nullptr;
    wxStaticBox* m_nodeListGroup = nullptr;
    wxStaticBox* m_messageLogGroup = nullptr;
    wxCheckBox* m_showParameters = nullptr;
    wxButton* m_xyRssiReq = nullptr;
    wxButton* m_refConfReq = nullptr;
    wxButton* m_refConf = nullptr;
    wxButton* m_blindConfReq = nullptr;
    wxButton* m_blindConf = nullptr;
    wxStaticBox* m_sendMessageGroup = nullptr;
    wxButton* m_blindFindReq = nullptr;

    wxIcon m_hIcon;           // IDR_MAINFRAME at 16 x 16
    CMqttPublishing m_mqtt;   // before the engine, which taps lines into it
    CDongleLink m_link;
    CDataBuffer* m_pDataBuffer = nullptr;
    CMainToolBar m_toolBar;     // IDC_TOOLBAR
    CStatusBarEx m_statusBar;   // IDC_STATUS_BAR
    CMessageLogCtrl m_messageLog;
    wxChoice* m_pComPortCombo = nullptr;   // on the toolbar
    std::string m_strComPort;              // text of the selected entry
    std::string m_strComPortDescription;   // its device ("COM5: /dev/ttyUSB0, ..."), or ""
    std::string m_strCaptureDevice;        // the capture's device, while capturing
    std::string m_strLogFile;              // UTF-8 path handed to the engine
    int32_t m_bAppendToLogFile = 0;        // its menu item: MenuItemId(ID_APPEND_TO_LOG_FILE)
    // Node List entries carry their node address as client data: (void*)(wxUIntPtr)addr.
    int32_t m_nSelectedNode = 0;
    CToolTipCtrlEx m_toolTip;

    // The client area: every child above lives on this panel, which always covers the
    // frame's client rectangle, so that keyboard navigation works as in a dialog.
    wxPanel* m_pClient = nullptr;

    // A layout size in pixels made for the 8-point font's 13-pixel text, for the text
    // this window has: unchanged at that size, larger with larger text.
    int Scaled(int px) const { return m_nTextHeight8 <= kTextHeight8 ? px : (px * m_nTextHeight8 + 6) / 13; }
    static constexpr int kTextHeight8 = 13;
    int m_nTextHeight8 = kTextHeight8;

    bool CreateFromTemplate();
    bool CreateToolBar();
    bool CreateStatusBar();
    void CreateComPortCombo();

    // Hover help and the Node List double click. Every window inside this one has its
    // mouse and key events seen here before its own handlers run.
    void WatchMouseAndKeys(wxWindow* window);
    void OnChildMouse(wxMouseEvent& event);
    void OnChildKey(wxKeyEvent& event);
    // Hides the tip and keeps it away from the child under the pointer until it leaves.
    void SuppressHoverHelp();
    // The pointer moved or left a window: hides a tip it left, ends a leave watch and
    // asks for the help of the area it is over.
    void TrackPointer(wxMouseEvent& event);
    // Hover help for a pointer resting over `window`, a child of the client panel.
    void ShowHoverHelp(wxWindow* window);
    void OnNodeListDoubleClick(wxCommandEvent& event);
    void StartComPortList();
    void FillComPortList(bool bFollowDevices);
    void OnPortsChangedEvent(wxThreadEvent& event);
    // The main window's child under a client point (the panel itself over its bare
    // background); null outside the client area.
    wxWindow* ChildWindowFromPoint(const wxPoint& clientPt) const;
    void ShowWarningNow(const wxString& text);
    void CreateReadingMenus(wxMenuBar* menuBar, wxMenu* file);
    bool CreateFilterBar();
    // The keys the window handles before its children; true when the key was used.
    bool OnReadingKey(const wxKeyEvent& event);
    void OnCaptureMenu(wxCommandEvent& event);
    void OnCaptureMenuUpdate(wxUpdateUIEvent& event);
    void OnNodeListMenu(wxContextMenuEvent& event);
    struct NodeHeard;
    // Notes a received line's node for the Node List's hover text. Returns the node's
    // record when the line names it in the log's own form, 0x and four hex digits.
    NodeHeard* NoteNodeHeard(const char* szLine);
    // The Node List entry under a screen point; wxNOT_FOUND when none.
    int NodeEntryAt(const wxPoint& screen) const;
    // When the entry's node was last heard and how many messages it sent.
    wxString NodeHoverText(int entry) const;
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

    wxPanel* m_pFilterBar = nullptr;
    wxTextCtrl* m_pFilterText = nullptr;
    wxCheckBox* m_pFilterOnly = nullptr;
    wxString m_strFindNote;   // what the last find could not find, for pane 1
    // Per received address: the time text of its last line, when that came and how many.
    struct NodeHeard {
        char szTime[16] = {};
        std::chrono::steady_clock::time_point when;
        long long nMessages = 0;
        // The Node List was known to hold the node while m_nNodeKeysGeneration had this
        // value: its later lines skip the list's own test.
        unsigned nListedIn = 0;
    };
    std::unordered_map<unsigned, NodeHeard> m_nodesHeard;
    int m_nHoverNodeEntry = -1;   // the Node List entry the tip shows, -1 for none

    wxIconBundle m_icons;
    wxTimer m_statusTimer;
    CPortWatcher m_portWatcher;   // stopped first of all in the destructor: it posts to us
    bool m_bInitialized = false;
    bool m_bEnded = false;
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
    // Changes whenever the copy is emptied or made again: the list may have lost entries.
    unsigned m_nNodeKeysGeneration = 1;
    void ForgetNodeKeys();
    // New entries not yet in the list: a burst of them goes in at once (FlushNodeList).
    static constexpr std::chrono::milliseconds kNodeListInterval{250};
    std::vector<std::string> m_pendingNodes;
    std::chrono::steady_clock::time_point m_nextNodeListFlush;
    // Lines the Message Log could not store (its disk full), since the last Clear.
    long m_nRefusedRows = 0;

    wxDECLARE_EVENT_TABLE();
};
