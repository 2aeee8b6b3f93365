#include "app/TessarinDlg.h"

void CTessarinDlg::OnLineReady()
{
    // Takes one line from the Data Buffer, shows it as the Message Log's last row and
    // lists its sender in the Node List.
}

void CTessarinDlg::UpdateNodeList(const char*)
{
    // Adds the node of a received tab-form line to the Node List when it is new.
}
