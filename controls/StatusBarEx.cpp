#include "controls/StatusBarEx.h"

#include <wx/generic/statusbr.h>

void CStatusBarEx::DoUpdateStatusText(int number)
{
    wxRect rect;
    // A native bar (Windows) sets its text itself; only the drawn one is ours to refresh.
    if (!wxDynamicCast(this, wxStatusBarGeneric) || !GetFieldRect(number, rect)) {
        wxStatusBar::DoUpdateStatusText(number);
        return;
    }
    Refresh(true, &rect);
}
