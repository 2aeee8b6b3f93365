#include "app/TessarinDlg.h"

void CTessarinDlg::OnLogFile()
{
    // Chooses the log file of the next capture and stores its name.
}

void CTessarinDlg::OnAppendToLogFile()
{
    // Toggles appending to the log file, its check mark and its stored value.
}
