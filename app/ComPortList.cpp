#include "app/TessarinDlg.h"

#include <wx/choice.h>

#include <cstdio>
#include <set>

#include "app/settings/TessarinSettings.h"

namespace {

// The announcement, from the watcher's thread, that serial devices came or went.
constexpr int kPortsChanged = WM_LINE_READY + 1;
// Quiet time after the last device event before the list is made again: a plug-in
// comes as a burst (node, modes, by-id link).
constexpr int kPortsSettleMs = 150;

}   // namespace

void CTessarinDlg::StartComPortList()
{
    // The numbers USB dongles were given before, so that each keeps its own.
    RememberComPortNumbers(LoadComPortIds());
    Bind(wxEVT_THREAD, &CTessarinDlg::OnPortsChangedEvent, this, kPortsChanged);
    // Without the watch (Windows) the list changes on Refresh only, as it always did.
    m_portWatcher.Start([this] { wxQueueEvent(this, new wxThreadEvent(wxEVT_THREAD, kPortsChanged)); },
                        kPortsSettleMs);
}

void CTessarinDlg::OnPortsChangedEvent(wxThreadEvent&)
{
    OnComPortsChanged();
}

void CTessarinDlg::OnRefreshComPorts()
{
    FillComPortList(false);
}

void CTessarinDlg::OnComPortsChanged()
{
    FillComPortList(true);
}

void CTessarinDlg::FillComPortList(bool bFollowDevices)
{
    if (!m_pComPortCombo)
        return;
    if (AssignComPortNumbers()) {
        // Unsaved, the numbers still hold for this run; the next one assigns them again.
        (void)SaveComPortIds(RememberedComPortNumbers());
    }
    const int oldNumber = ComPortNumber(m_strComPort.substr(0, m_strComPort.find(' ')).c_str());
    std::set<int> oldNumbers;
    for (const wxString& entry : m_pComPortCombo->GetStrings())
        oldNumbers.insert(ComPortNumber(entry.BeforeFirst(' ').utf8_string().c_str()));
    while (m_pComPortCombo->GetCount() > 0)
        m_pComPortCombo->Delete(0);

    int keep = wxNOT_FOUND;
    int appeared = wxNOT_FOUND;
    for (int n = FIRST_COM_PORT; n <= LAST_COM_PORT; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%d", n);
        wxString entry = name;
        switch (ProbeComPort(name)) {
        case PORT_AVAILABLE:
            break;
        case PORT_IN_USE:
            entry += " (in use)";
            break;
        case PORT_NO_ACCESS:
            entry += " (no access)";
            break;
        case PORT_MISSING:
        case PORT_FAILED:
            entry.clear();
            break;
        }
        if (!entry.empty()) {
            const int index = m_pComPortCombo->Append(entry);
            if (n == oldNumber)
                keep = index;
            if (appeared == wxNOT_FOUND && oldNumbers.count(n) == 0 && IsUsbSerialPort(name))
                appeared = index;
        }
        // The list visibly fills while the ports are probed.
        m_pComPortCombo->Update();
    }

    // Refresh starts over at the first entry. Following the devices, the selection stays
    // on its port while it exists, else goes to a USB serial device just plugged in.
    int select = m_pComPortCombo->GetCount() > 0 ? 0 : wxNOT_FOUND;
    if (bFollowDevices && keep != wxNOT_FOUND)
        select = keep;
    else if (bFollowDevices && appeared != wxNOT_FOUND)
        select = appeared;
    m_pComPortCombo->SetSelection(select);
    m_strComPort =
        select == wxNOT_FOUND ? std::string() : m_pComPortCombo->GetString(unsigned(select)).utf8_string();
    m_strComPortDescription = ComPortDescription(m_strComPort.c_str());
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
    m_strComPortDescription = ComPortDescription(m_strComPort.c_str());
}

std::string CTessarinDlg::ComPortHelpText(const char* szHelp) const
{
    return m_strComPortDescription.empty() ? szHelp : szHelp + std::string("\r\n") + m_strComPortDescription;
}
