#include "app/TessarinDlg.h"

#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdio>
#include <cstring>

#include "controls/Accessible.h"
#include "platform/Text.h"
#include "res/Resources.h"

namespace {

// 1234567 as "1 234 567": long counts read at a glance.
wxString Grouped(long long n)
{
    wxString digits = wxString::Format("%lld", n < 0 ? -n : n);
    wxString out;
    for (size_t i = 0; i < digits.length(); ++i) {
        if (i && (digits.length() - i) % 3 == 0)
            out += ' ';
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

const char kFilterHint[] = "node:1234  msg:REF  dir:in  payload text";

}   // namespace

void CTessarinDlg::CreateReadingMenus(wxMenuBar* menuBar, wxMenu* file)
{
    file->AppendSeparator();
    file->Append(MenuItemId(ID_QUIT), "&Quit\tCtrl+Q");
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { OnCancel(); }, MenuItemId(ID_QUIT));

    // The toolbar's capture commands, under the menu numbers of the same commands.
    auto* capture = new wxMenu;
    capture->Append(MenuItemId(ID_START_CAPTURE), "&Start\tF5");
    capture->Append(MenuItemId(ID_STOP_CAPTURE), "S&top\tShift+F5");
    capture->Append(MenuItemId(ID_PING), "&PING\tCtrl+P");
    capture->Append(MenuItemId(ID_CLEAR_LOG), "&Clear\tCtrl+L");
    capture->AppendSeparator();
    capture->Append(MenuItemId(ID_REFRESH_COM_PORTS), "&Refresh ports\tCtrl+R");
    menuBar->Append(capture, "&Capture");
    Bind(wxEVT_MENU, &CTessarinDlg::OnCaptureMenu, this, MenuItemId(ID_CLEAR_LOG),
         MenuItemId(ID_REFRESH_COM_PORTS));
    Bind(wxEVT_UPDATE_UI, &CTessarinDlg::OnCaptureMenuUpdate, this, MenuItemId(ID_CLEAR_LOG),
         MenuItemId(ID_REFRESH_COM_PORTS));
}

void CTessarinDlg::OnCaptureMenuUpdate(wxUpdateUIEvent& event)
{
    event.Enable(m_toolBar.GetToolEnabled(event.GetId() + 0x8000));
}

void CTessarinDlg::SyncCaptureMenu()
{
    // This toolkit brings menus up to date only as they open, and a disabled item's
    // shortcut does nothing: the items follow the toolbar as it changes.
    wxMenuBar* const menuBar = GetMenuBar();
    if (!menuBar || !m_toolBar.GetHandle())
        return;
    for (int command : {ID_CLEAR_LOG, ID_START_CAPTURE, ID_STOP_CAPTURE, ID_PING, ID_REFRESH_COM_PORTS}) {
        const bool enabled = m_toolBar.GetToolEnabled(command);
        if (menuBar->IsEnabled(MenuItemId(command)) != enabled)
            menuBar->Enable(MenuItemId(command), enabled);
    }
}

void CTessarinDlg::OnCaptureMenu(wxCommandEvent& event)
{
    const int command = event.GetId() + 0x8000;
    // A shortcut may come before the menu's state is brought up to date: the toolbar
    // tells what may run now.
    if (!m_toolBar.GetToolEnabled(command))
        return;
    switch (command) {
    case ID_CLEAR_LOG:
        OnClearLog();
        break;
    case ID_START_CAPTURE:
        OnStartCapture();
        break;
    case ID_STOP_CAPTURE:
        OnStopCapture();
        break;
    case ID_PING:
        OnPing();
        break;
    case ID_REFRESH_COM_PORTS:
        OnRefreshComPorts();
        break;
    default:
        break;
    }
    SyncCaptureMenu();
}

bool CTessarinDlg::CreateFilterBar()
{
    m_pFilterBar = new wxPanel(m_pClient, IDC_FILTER_BAR, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    m_pFilterBar->Hide();
    auto* label = new wxStaticText(m_pFilterBar, wxID_ANY, "Fil&ter:");
    m_pFilterText = new wxTextCtrl(m_pFilterBar, IDC_FILTER_TEXT);
    m_pFilterText->SetHint(kFilterHint);
    m_pFilterOnly = new wxCheckBox(m_pFilterBar, IDC_FILTER_ONLY, "Only &matching rows");
    m_pFilterOnly->SetValue(true);
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(label, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    sizer->Add(m_pFilterText, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    sizer->Add(m_pFilterOnly, 0, wxALIGN_CENTER_VERTICAL);
    m_pFilterBar->SetSizer(sizer);
    SetAccessibleLabel(m_pFilterText, label);
    // The lists have their captions on the group boxes around them.
    SetAccessibleName(&m_messageLog, m_messageLogGroup->GetLabel());
    SetAccessibleName(m_nodeList, m_nodeListGroup->GetLabel());
    // In reading order: the bar comes before the log it narrows.
    m_pFilterBar->MoveBeforeInTabOrder(&m_messageLog);
    m_pFilterText->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { ApplyFilter(); });
    m_pFilterOnly->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { ApplyFilter(); });
    m_nodeList->Bind(wxEVT_CONTEXT_MENU, &CTessarinDlg::OnNodeListMenu, this);
    m_messageLog.SetCopySeparator('|');   // a row copies as the log line it came from
    return true;
}

void CTessarinDlg::ShowFilterBar(const wxString& text)
{
    if (!m_pFilterBar)
        return;
    if (!text.empty()) {
        m_pFilterOnly->SetValue(true);
        m_pFilterText->ChangeValue(text);
        ApplyFilter();
    }
    if (!m_pFilterBar->IsShown()) {
        m_pFilterBar->Show();
        OnSize();
    }
    m_pFilterText->SetFocus();
    m_pFilterText->SelectAll();
}

void CTessarinDlg::HideFilterBar()
{
    // The filter stays on; pane 1 says so, and Ctrl+F brings the bar back.
    if (!m_pFilterBar || !m_pFilterBar->IsShown())
        return;
    m_pFilterBar->Hide();
    OnSize();
    m_messageLog.SetFocus();
}

void CTessarinDlg::ApplyFilter()
{
    m_strFindNote.clear();
    m_messageLog.SetFilter(m_pFilterOnly->GetValue() ? m_pFilterText->GetValue() : wxString());
    UpdateReadingPane();
}

bool CTessarinDlg::FindNext(bool forward)
{
    const wxString text = m_pFilterText ? m_pFilterText->GetValue() : wxString();
    if (text.empty()) {
        ShowFilterBar();
        return false;
    }
    const bool found = m_messageLog.FindNext(text, forward);
    m_strFindNote = found ? wxString() : "Not found: " + text;
    UpdateReadingPane();
    return found;
}

void CTessarinDlg::ShowOnlyNode(int32_t nodeAddr)
{
    ShowFilterBar(wxString::Format("node:0x%4.4X", static_cast<unsigned>(nodeAddr)));
}

void CTessarinDlg::OnNodeListMenu(wxContextMenuEvent& event)
{
    // The entry under the pointer, or the selected one when the menu key opened it.
    int entry = m_nodeList->GetSelection();
    if (event.GetPosition() != wxDefaultPosition) {
        entry = m_nodeList->HitTest(m_nodeList->ScreenToClient(event.GetPosition()));
        if (entry != wxNOT_FOUND)
            m_nodeList->SetSelection(entry);
    }
    if (entry == wxNOT_FOUND)
        return;
    const auto addr = static_cast<int32_t>(reinterpret_cast<wxUIntPtr>(m_nodeList->GetClientData(entry)));
    wxMenu menu;
    menu.Append(1, "Show &only this node");
    if (m_nodeList->GetPopupMenuSelectionFromUser(menu) == 1)
        ShowOnlyNode(addr);
}

bool CTessarinDlg::OnReadingKey(const wxKeyEvent& event)
{
    wxWindow* const focus = wxWindow::FindFocus();
    const int key = event.GetKeyCode();
    const int mods = event.GetModifiers();
    const bool inBar = focus && m_pFilterBar && m_pFilterBar->IsShown() &&
                       (focus == m_pFilterBar || focus->GetParent() == m_pFilterBar);
    if (key == WXK_ESCAPE && inBar) {
        HideFilterBar();
        return true;
    }
    if ((key == WXK_RETURN || key == WXK_NUMPAD_ENTER) && mods == wxMOD_NONE) {
        if (focus == m_nodeList) {
            // Enter picks the node as a double click does.
            wxCommandEvent pick(wxEVT_LISTBOX_DCLICK, IDC_NODE_LIST);
            OnNodeListDoubleClick(pick);
            return true;
        }
        if (focus == m_pFilterText) {
            m_messageLog.SetFocus();   // typed: on to the rows
            return true;
        }
        return false;
    }
    if (key == 'F' && mods == wxMOD_CONTROL) {
        ShowFilterBar();
        return true;
    }
    if (key == WXK_F3 && (mods == wxMOD_NONE || mods == wxMOD_SHIFT)) {
        FindNext(mods == wxMOD_NONE);
        return true;
    }
    return false;
}

void CTessarinDlg::UpdateReadingPane()
{
    if (!m_statusBar.GetHandle())
        return;
    wxString text;
    if (m_messageLog.IsFilterActive()) {
        if (!m_messageLog.IsFilterValid())
            text = "Filter not understood";
        else
            text = wxString::Format("%s of %s rows match%s", Grouped(m_messageLog.GetRowCount()),
                                    Grouped(m_messageLog.GetStoredRowCount()),
                                    m_messageLog.IsFiltering() ? " so far" : "");
    }
    if (!m_strFindNote.empty())
        text += (text.empty() ? "" : "; ") + m_strFindNote;
    // Lines the log could not store (its disk full) are only in the log file.
    if (m_nRefusedRows > 0)
        text += (text.empty() ? "" : "; ") + wxString::Format("Rows not shown: %ld", m_nRefusedRows);
    const std::string publishing = m_mqtt.StatusText();
    if (!publishing.empty())
        text += (text.empty() ? "" : "; ") + wxString::FromUTF8(publishing);
    if (!m_messageLog.IsFollowing())
        text += wxString(text.empty() ? "" : "; ") +
                "Following paused: " + Grouped(m_messageLog.GetRowsWhilePaused()) +
                (m_messageLog.GetRowsWhilePaused() == 1 ? " new row" : " new rows") + "; End to follow";
    if (m_statusBar.GetStatusText(1) == text)
        return;
    // The pane keeps its width while empty, so a window that uses none of this looks
    // as before; a longer text widens it.
    const int margin = 2 * m_statusBar.GetBorderX() + 8;
    const int plain = Scaled(350) - Scaled(125);
    const int needed = text.empty() ? plain : m_statusBar.GetTextExtent(text).x + margin;
    if (needed != m_statusBar.GetStatusWidth(1) && (needed > plain || text.empty())) {
        const int widths[3] = {m_statusBar.GetStatusWidth(0), std::max(needed, plain), -1};
        m_statusBar.SetStatusWidths(3, widths);
    }
    m_statusBar.SetStatusText(text, 1);
}

CTessarinDlg::NodeHeard* CTessarinDlg::NoteNodeHeard(const char* szLine)
{
    // Received lines only: "time |-->| 0xADDR |NAME|...", the bars already tabs.
    const char* dir = std::strchr(szLine, '\t');
    if (!dir || std::strncmp(dir + 1, "-->", 3) != 0)
        return nullptr;
    const char* p = std::strchr(dir + 1, '\t');
    if (!p)
        return nullptr;
    ++p;
    while (IsTabOrSpace(*p))
        ++p;
    if (p[0] != '0' || p[1] != 'x')
        return nullptr;
    p += 2;
    unsigned addr = 0;
    int digits = 0;
    for (int value; (value = HexDigit(*p)) >= 0; ++p, ++digits)
        addr = (addr << 4) | static_cast<unsigned>(value);   // wraps as a scan would
    if (digits == 0)
        return nullptr;
    NodeHeard& node = m_nodesHeard[addr];
    const size_t timeLength = std::min<size_t>(static_cast<size_t>(dir - szLine), sizeof node.szTime - 1);
    std::memcpy(node.szTime, szLine, timeLength);
    node.szTime[timeLength] = '\0';
    node.when = std::chrono::steady_clock::now();
    ++node.nMessages;
    const bool logForm = digits == 4 && (*p == '\0' || IsTabOrSpace(*p));
    return logForm ? &node : nullptr;
}

int CTessarinDlg::NodeEntryAt(const wxPoint& screen) const
{
    if (!m_nodeList || !m_nodeList->GetScreenRect().Contains(screen))
        return wxNOT_FOUND;
    return m_nodeList->HitTest(m_nodeList->ScreenToClient(screen));
}

wxString CTessarinDlg::NodeHoverText(int entry) const
{
    if (entry < 0 || static_cast<unsigned>(entry) >= m_nodeList->GetCount())
        return wxString();
    const auto addr = static_cast<unsigned>(reinterpret_cast<wxUIntPtr>(m_nodeList->GetClientData(entry)));
    const auto found = m_nodesHeard.find(addr);
    if (found == m_nodesHeard.end())
        return wxString::Format("0x%4.4X: not heard yet", addr);
    const NodeHeard& node = found->second;
    const auto ago =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - node.when);
    return wxString::Format("0x%4.4X: last heard at %s UTC, %s s ago; %s messages", addr,
                            wxString(node.szTime).Trim(), Grouped(ago.count()), Grouped(node.nMessages));
}
