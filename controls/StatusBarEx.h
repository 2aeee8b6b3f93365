#pragma once

#include <wx/font.h>
#include <wx/statusbr.h>

// The window's status bar. Where the toolkit draws the bar itself, a changed pane is
// painted with the window's next paint, and alone: the toolkit's own bar paints at once
// and waits for the display to finish, and lays out every pane's text again, which at
// every status tick of a capture costs more than the tick's own work. A native bar
// (Windows) is left as it is.
class CStatusBarEx : public wxStatusBar {
protected:
    void DoUpdateStatusText(int number) override;

private:
    void OnPaint(wxPaintEvent& event);

    wxFont m_heightFont;   // the font m_nTextHeight was measured in
    int m_nTextHeight = 0;

    wxDECLARE_EVENT_TABLE();
};
