#include "app/TessarinDlg.h"

#include <wx/choice.h>

#include <cstdio>

void CTessarinDlg::OnRefreshComPorts()
{
    if (!m_pComPortCombo)
        return;
    while (m_pComPortCombo->GetCount() > 0)
        m_pComPortCombo->Delete(0);

    for (int n = FIRST_COM_PORT; n <= LAST_COM_PORT; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", n);
        switch (ProbeComPort(name)) {
        case PORT_AVAILABLE:
            m_pComPortCombo->Append(name);
            break;
        case PORT_IN_USE:
            m_pComPortCombo->Append(wxString(name) + " (in use)");
            break;
        case PORT_MISSING:
        case PORT_FAILED:
            break;
        }
        // The list visibly fills while the ports are probed.
        m_pComPortCombo->Update();
    }

    if (m_pComPortCombo->GetCount() > 0) {
        m_pComPortCombo->SetSelection(0);
        m_strComPort = m_pComPortCombo->GetString(0).utf8_string();
    } else {
        m_pComPortCombo->SetSelection(wxNOT_FOUND);
        m_strComPort.clear();
    }
}

PortStatus CTessarinDlg::ProbeComPort(const char* szDeviceName)
{
    return ::ProbeComPort(szDeviceName);
}

void CTessarinDlg::OnComPortSelChange()
{
    if (!m_pComPortCombo)
        return;
    const int sel = m_pComPortCombo->GetSelection();
    if (sel != wxNOT_FOUND)
        m_strComPort = m_pComPortCombo->GetString(static_cast<unsigned>(sel)).utf8_string();
}
