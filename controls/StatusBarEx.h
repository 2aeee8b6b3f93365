#pragma once

#include <wx/statusbr.h>

// The window's status bar. A changed pane is painted with the window's next paint: the
// toolkit's own bar paints it at once and waits for the display to finish, which at
// every status tick of a capture costs more than the tick's own work.
class CStatusBarEx : public wxStatusBar {
protected:
    void DoUpdateStatusText(int number) override;
};
