#pragma once

#include <wx/font.h>
#include <wx/statusbr.h>

// The window's status bar. Where the toolkit draws the bar itself, a changed pane is
// painted with the window's next paint, and alone: the toolkit's own bar paints at once
// and waits for the display to finish, and lays out every pane's text again, which at
// every status tick of a capture costs more than the tick's own work. A native bar
// (Windows) is left as it is.
class CStatusBarEx : public wxStatusBar {
public:
    // The theme's font and colours for the bar, asked of the toolkit once rather than at
    // every paint, and again when the theme changes.
    wxVisualAttributes GetDefaultAttributes() const override;

protected:
    void DoUpdateStatusText(int number) override;

private:
    void OnPaint(wxPaintEvent& event);
    void OnSysColourChanged(wxSysColourChangedEvent& event);

    wxFont m_heightFont;   // the font m_nTextHeight was measured in
    int m_nTextHeight = 0;
    mutable wxVisualAttributes m_theme;
    mutable bool m_bThemeKnown = false;

    wxDECLARE_EVENT_TABLE();
};
