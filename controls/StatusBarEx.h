#pragma once

#include <wx/font.h>
#include <wx/statusbr.h>

#include "controls/TextLayouts.h"

// The window's status bar. Where the toolkit draws the bar itself, a changed pane is
// painted with the window's next paint, alone, and looking as the toolkit's bar would
// paint it: that bar paints at once and waits for the display to finish, and measures
// every pane's text afresh, which at every status tick of a capture costs more than the
// tick's own work. A native bar (Windows) is left as it is.
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
    // Writes pane i's text as the toolkit's bar would when it surely fits; false when
    // the pane is the toolkit's to draw (a border, text to shorten, or near the edge).
    bool DrawFittingText(wxDC& dc, int i, const wxRect& rect);

    wxFont m_heightFont;   // the font m_nTextHeight was measured in
    int m_nTextHeight = 0;
    CTextLayouts m_layouts;        // one slot per pane, for measuring
    bool m_bLayoutsKept = false;   // this paint's context is one they can measure on
    mutable wxVisualAttributes m_theme;
    mutable bool m_bThemeKnown = false;

    wxDECLARE_EVENT_TABLE();
};
