#include "app/TessarinDlg.h"

#include <wx/button.h>
#include <wx/statbox.h>

#include <cinttypes>
#include <cstdio>

#include "res/Resources.h"

void CTessarinDlg::OnStartCapture()
{
    // Starts a capture on the selected port, switches to the capturing state and pings.
}

void CTessarinDlg::OnStopCapture()
{
    // Stops the capture and returns the window to the idle state.
}

void CTessarinDlg::OnClearLog()
{
    // Empties the Message Log, the Node List and the Data Buffer; forgets the picked node.
}

void CTessarinDlg::OnPing()
{
    // Sends a PING_REQUEST, or says why it cannot.
}

void CTessarinDlg::EnableNodeButtons(bool bEnable)
{
    wxWindow* const controls[] = {m_xyRssiReq, m_refConfReq, m_refConf, m_blindConfReq,
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
    char text[128];
    std::snprintf(text, sizeof text, "Message count: %d", m_link.GetLineCounter());
    m_statusBar.SetStatusText(text, 0);

    int shortAddr = 0;
    uint64_t ieeeAddr = 0;
    if (m_link.GetDongleInfo(&shortAddr, &ieeeAddr))
        std::snprintf(text, sizeof text, "Dongle: Connected, Short Addr: 0x%4.4X, IEEE Addr: 0x%016" PRIX64,
                      static_cast<unsigned>(shortAddr), ieeeAddr);
    else
        std::snprintf(text, sizeof text, "Dongle: Disconnected");
    m_statusBar.SetStatusText(text, 2);
}

void CTessarinDlg::OnTimer(int nIDEvent)
{
    if (nIDEvent == ID_STATUS_TIMER)
        UpdateStatusBar();
}
