#include "controls/StatusBarEx.h"

#include <wx/dcclient.h>

// clang-format off
wxBEGIN_EVENT_TABLE(CStatusBarEx, wxStatusBar)
    EVT_PAINT(CStatusBarEx::OnPaint)
    EVT_SYS_COLOUR_CHANGED(CStatusBarEx::OnSysColourChanged)
wxEND_EVENT_TABLE()
// clang-format on

wxVisualAttributes CStatusBarEx::GetDefaultAttributes() const
{
    if (!m_bThemeKnown) {
        m_theme = wxStatusBar::GetDefaultAttributes();
        m_bThemeKnown = true;
    }
    return m_theme;
}

void CStatusBarEx::OnSysColourChanged(wxSysColourChangedEvent& event)
{
    m_bThemeKnown = false;
    m_nTextHeight = 0;
    event.Skip();   // the bar's own colours follow too
}

void CStatusBarEx::DoUpdateStatusText(int number)
{
    wxRect rect;
    if (!GetFieldRect(number, rect)) {
        wxStatusBar::DoUpdateStatusText(number);
        return;
    }
    Refresh(true, &rect);
}

void CStatusBarEx::OnPaint(wxPaintEvent& event)
{
    if (ShowsSizeGrip()) {
        event.Skip();   // the grip is the toolkit's to draw
        return;
    }
    wxPaintDC dc(this);
    const wxFont& font = GetFont();
    if (font.IsOk())
        dc.SetFont(font);
    // Measuring asks the toolkit for a layout of the font: once per font, not per tick.
    if (m_nTextHeight == 0 || font != m_heightFont) {
        m_nTextHeight = dc.GetCharHeight();
        m_heightFont = font;
    }
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const wxRegion& damaged = GetUpdateRegion();
    for (int i = 0; i < GetFieldsCount(); ++i) {
        wxRect rect;
        if (GetFieldRect(i, rect) && damaged.Contains(rect) == wxOutRegion)
            continue;   // its pixels stand
        DrawField(dc, i, m_nTextHeight);
    }
}
