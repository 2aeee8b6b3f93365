#include "app/TessarinDlg.h"

void CTessarinDlg::OnXyRssiReq()
{
    // Broadcasts an XY-RSSI request.
}

void CTessarinDlg::OnBlindFindReq()
{
    // Broadcasts a blind node find request.
}

void CTessarinDlg::OnRefConfReq()
{
    // Asks the picked or remembered reference node for its configuration.
}

void CTessarinDlg::OnBlindConfReq()
{
    // Asks the picked or remembered blind node for its configuration.
}

void CTessarinDlg::OnRefConf()
{
    // Sends a reference node its X and Y position.
}

void CTessarinDlg::OnBlindConf()
{
    // Sends a blind node its eight parameters.
}

void CTessarinDlg::OnShowParameters()
{
    // Stores the state of "Show parameters".
}
