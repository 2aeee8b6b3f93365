#include "app/TessarinDlg.h"

#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/statbox.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "res/Resources.h"

namespace {

// Pane 0 ends at 125 pixels, measured for a smaller system font than this toolkit's: a
// count of two digits would already be cut to "Message count:...". Once the count no
// longer fits, the pane widens to hold any count, and pane 1 moves along.
void FitCountPane(wxStatusBar& bar, const char* text)
{
    // The pane's borders and the two-pixel text margin on each side.
    const int margin = 2 * bar.GetBorderX() + 4;
    if (bar.GetTextExtent(text).x + margin <= bar.GetStatusWidth(0))
        return;
    const int widths[3] = {bar.GetTextExtent("Message count: -2147483648").x + margin, bar.GetStatusWidth(1),
                           -1};
    bar.SetStatusWidths(3, widths);
}

}   // namespace

void CTessarinDlg::OnStartCapture()
{
    if (m_strComPort.empty()) {
        WarningBox("COM port not selected!");
        return;
    }
    // A failed start has told the user why; the window still moves to capturing, and the
    // PING below then says it cannot be sent. Stop brings the two back together.
    m_link.StartCapture(m_strComPort.c_str(), m_strLogFile.c_str(), m_bAppendToLogFile);
    m_strCaptureDevice = m_link.IsCapturing() ? ComPortDescription(m_strComPort.c_str()) : std::string();
    m_toolBar.EnableTool(ID_START_CAPTURE, false);
    m_toolBar.EnableTool(ID_STOP_CAPTURE, true);
    m_toolBar.EnableTool(ID_PING, true);
    SyncCaptureMenu();
    EnableNodeButtons(true);
    OnPing();
}

void CTessarinDlg::OnStopCapture()
{
    // Nothing to tell when no capture ran: the window was only out of step.
    m_link.StopCapture();
    m_strCaptureDevice.clear();
    m_toolBar.EnableTool(ID_START_CAPTURE, true);
    m_toolBar.EnableTool(ID_STOP_CAPTURE, false);
    m_toolBar.EnableTool(ID_PING, false);
    SyncCaptureMenu();
    EnableNodeButtons(false);
    // Our own port is free again; no device event says so.
    OnComPortsChanged();
}

void CTessarinDlg::OnClearLog()
{
    m_messageLog.DeleteAllRows();
    m_nRefusedRows = 0;
    if (m_nodeList)
        m_nodeList->Clear();
    ForgetNodeKeys();
    m_pendingNodes.clear();
    // Lines queued but not yet taken go too; their announcements will find nothing.
    if (m_pDataBuffer)
        m_pDataBuffer->Clear();
    m_nSelectedNode = 0;
}

void CTessarinDlg::OnPing()
{
    DongleMessage msg;
    msg.word[0] = MSG_PING_REQUEST;
    if (!m_link.SendDongleMessage(msg))
        WarningBox(
            "Not able to send PING!\nNote that \"Capture\" should be started before PING can be sent.");
}

void CTessarinDlg::EnableNodeButtons(bool bEnable)
{
    wxWindow* const controls[] = {m_xyRssiReq, m_refConfReq,       m_refConf,     m_blindConfReq,
                                  m_blindConf, m_sendMessageGroup, m_blindFindReq};
    for (wxWindow* control : controls) {
        if (control)
            control->Enable(bEnable);
    }
}

void CTessarinDlg::UpdateStatusBar()
{
    if (!m_statusBar.GetHandle())
        return;
    char count[128];
    std::snprintf(count, sizeof count, "Message count: %d", m_link.GetLineCounter());
    char dongle[128];
    int shortAddr = 0;
    uint64_t ieeeAddr = 0;
    if (m_link.GetDongleInfo(&shortAddr, &ieeeAddr))
        std::snprintf(dongle, sizeof dongle,
                      "Dongle: Connected, Short Addr: 0x%4.4X, IEEE Addr: 0x%016" PRIX64,
                      static_cast<unsigned>(shortAddr), ieeeAddr);
    else if (m_link.IsCapturing() && m_link.IsDeviceGone())
        std::snprintf(dongle, sizeof dongle, "Dongle: Reconnecting...");
    else
        std::snprintf(dongle, sizeof dongle, "Dongle: Disconnected");

    // The count's text fitted its pane when it was shown, and the digits of a UI font
    // share one width: only a text of another length needs measuring. Measuring asks
    // the toolkit for the bar's font, which costs more than the rest of the tick.
    if (m_statusBar.GetStatusText(0).length() != std::strlen(count))
        FitCountPane(m_statusBar, count);
    m_statusBar.SetStatusText(count, 0);
    m_statusBar.SetStatusText(dongle, 2);
}

void CTessarinDlg::OnTimer(int nIDEvent)
{
    if (nIDEvent == ID_STATUS_TIMER) {
        UpdateStatusBar();
        // New nodes of a burst that ended wait for no further line.
        FlushNodeList();
        // A copy of the Node List holding entries the list has lost would keep their
        // nodes out (UpdateNodeList compares sizes only on a miss); emptied, it is made
        // again at the next received line.
        if (m_nodeList && m_nodeKeys.size() != m_nodeList->GetCount() + m_pendingNodes.size())
            ForgetNodeKeys();
    }
}
