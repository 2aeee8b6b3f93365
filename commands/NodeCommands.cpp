#include "app/TessarinDlg.h"

#include <wx/checkbox.h>

#include "app/settings/TessarinSettings.h"
#include "commands/DestAddrDlg.h"
#include "commands/MsgParamDlg.h"
#include "link/DongleMessage.h"

namespace {

using SettingsValue = uint32_t CTessarinSettings::*;

enum class CommandDialog { DestAddr, RefParams, BlindParams };

// One unicast command: its message, the stored destination it shares with its sibling,
// the stored parameters of words 2.. and the dialog that "Show parameters" opens.
struct UnicastCommand {
    uint32_t type;
    SettingsValue dest;
    CommandDialog dialog;
    int paramCount;
    SettingsValue params[8];
};

const UnicastCommand kRefConfReq = {
    MSG_REF_NODE_REQ_CONF, &CTessarinSettings::m_nDestAddrRefN, CommandDialog::DestAddr, 0, {}};

const UnicastCommand kBlindConfReq = {
    MSG_BLIND_NODE_REQ_CONF, &CTessarinSettings::m_nDestAddrBlindN, CommandDialog::DestAddr, 0, {}};

const UnicastCommand kRefConf = {MSG_REF_NODE_CONF,
                                 &CTessarinSettings::m_nDestAddrRefN,
                                 CommandDialog::RefParams,
                                 2,
                                 {&CTessarinSettings::m_nXPos, &CTessarinSettings::m_nYPos}};

const UnicastCommand kBlindConf = {
    MSG_BLIND_NODE_CONF,
    &CTessarinSettings::m_nDestAddrBlindN,
    CommandDialog::BlindParams,
    8,
    {&CTessarinSettings::m_nA, &CTessarinSettings::m_nIndex, &CTessarinSettings::m_nMode,
     &CTessarinSettings::m_nCollectTime, &CTessarinSettings::m_nCycleTime,
     &CTessarinSettings::m_nReportShortAddr, &CTessarinSettings::m_nReportEndpoint,
     &CTessarinSettings::m_nMinRefNodes}};

// The user is told at once of a message that did not leave; the log says it too.
bool Send(CDongleLink& link, const DongleMessage& msg, CTessarinDlg* owner)
{
    if (link.SendDongleMessage(msg) == 1)
        return true;
    owner->WarningBox(wxString::Format("Not able to send %s!", DongleMessageName(msg.word[0])));
    return false;
}

void SendBroadcast(CDongleLink& link, uint32_t type, CTessarinDlg* owner)
{
    DongleMessage msg;
    msg.word[0] = type;
    msg.word[1] = BROADCAST_ADDR;
    // Nothing is remembered of a broadcast, so its result changes nothing else here.
    Send(link, msg, owner);
}

// False when the user cancelled: the command then ends with nothing sent or saved.
bool RunDialog(CommandDialog dialog, DongleMessage* msg, wxWindow* owner)
{
    if (dialog == CommandDialog::DestAddr) {
        int addr = static_cast<int>(msg->word[1]);
        CDestAddrDlg dlg(&addr, owner);
        if (dlg.ShowModal() == wxID_CANCEL)
            return false;
        msg->word[1] = static_cast<uint32_t>(addr);
        return true;
    }
    const unsigned mode =
        dialog == CommandDialog::RefParams ? CMsgParamDlg::MODE_REFERENCE : CMsgParamDlg::MODE_BLIND;
    CMsgParamDlg dlg(msg, mode, owner);
    return dlg.ShowModal() != wxID_CANCEL;
}

void SendUnicast(const UnicastCommand& cmd, CDongleLink& link, int32_t selectedNode, bool showParameters,
                 CTessarinDlg* owner)
{
    // Afresh for every press: the last successful send of this kind gives the defaults.
    // A key that cannot be read leaves every value 0, and the command goes on with them.
    CTessarinSettings settings;
    settings.Load();

    DongleMessage msg;
    msg.word[1] = selectedNode > 0 ? static_cast<uint32_t>(selectedNode) : settings.*cmd.dest;
    for (int i = 0; i < cmd.paramCount; ++i)
        msg.word[2 + i] = settings.*cmd.params[i];

    if (showParameters && !RunDialog(cmd.dialog, &msg, owner))
        return;

    msg.word[0] = cmd.type;
    // A send that failed leaves the stored values as they were: they describe what the
    // node was last told, and it was told nothing.
    if (!Send(link, msg, owner))
        return;

    settings.*cmd.dest = msg.word[1];
    for (int i = 0; i < cmd.paramCount; ++i)
        settings.*cmd.params[i] = msg.word[2 + i];
    // A store that cannot be written is not reported: the message went out all the same.
    settings.Save();
}

}   // namespace

void CTessarinDlg::OnXyRssiReq()
{
    SendBroadcast(m_link, MSG_XY_RSSI_REQ, this);
}

void CTessarinDlg::OnBlindFindReq()
{
    SendBroadcast(m_link, MSG_BLIND_FIND_REQ, this);
}

void CTessarinDlg::OnRefConfReq()
{
    SendUnicast(kRefConfReq, m_link, m_nSelectedNode, m_showParameters->GetValue(), this);
}

void CTessarinDlg::OnBlindConfReq()
{
    SendUnicast(kBlindConfReq, m_link, m_nSelectedNode, m_showParameters->GetValue(), this);
}

void CTessarinDlg::OnRefConf()
{
    SendUnicast(kRefConf, m_link, m_nSelectedNode, m_showParameters->GetValue(), this);
}

void CTessarinDlg::OnBlindConf()
{
    SendUnicast(kBlindConf, m_link, m_nSelectedNode, m_showParameters->GetValue(), this);
}

void CTessarinDlg::OnShowParameters()
{
    CTessarinSettings settings;
    settings.Load();
    settings.m_nChkParam = m_showParameters->GetValue() ? 1 : 0;
    // Not reported when it fails, like every other save: the box itself stays ticked.
    settings.Save();
}
