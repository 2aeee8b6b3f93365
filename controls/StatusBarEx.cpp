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
    m_bLayoutsKept = m_layouts.Begin(dc.GetGraphicsContext(), font);
    const wxRegion& damaged = GetUpdateRegion();
    for (int i = 0; i < GetFieldsCount(); ++i) {
        wxRect rect;
        if (!GetFieldRect(i, rect))
            continue;
        if (damaged.Contains(rect) == wxOutRegion)
            continue;   // its pixels stand
        if (!DrawFittingText(dc, i, rect))
            DrawField(dc, i, m_nTextHeight);
    }
}

bool CStatusBarEx::DrawFittingText(wxDC& dc, int i, const wxRect& rect)
{
    // The toolkit's bar asks whether every pane's text must be shortened at every paint,
    // measuring the text and an ellipsis, each laid out afresh: at a status tick that
    // cost more than all the rest. Text that fits with room to spare is written where
    // the bar writes it (inside its margin, one pixel down and right).
    constexpr int kMargin = 2;
    constexpr int kSpare = 4;   // the bar adds up its characters' widths, not the text's
    const wxString text = GetStatusText(i);
    if (rect.width <= 0 || GetEffectiveFieldStyle(i) != wxSB_NORMAL || !HasFlag(wxSTB_ELLIPSIZE_END) ||
        text.find('\t') != wxString::npos)
        return false;
    if (text.empty())
        return true;
    // A DC lays its text out afresh, in a context of its own, at every call: a millisecond.
    const wxScopedCharBuffer utf8 = text.utf8_str();
    const int width = m_bLayoutsKept ? m_layouts.Extent(static_cast<size_t>(i), utf8.data(), utf8.length()).x
                                     : dc.GetTextExtent(text).x;
    if (width > rect.width - 2 * kMargin - kSpare)
        return false;
    SetEllipsizedFlag(i, false);
    const int y = static_cast<int>(((rect.height - m_nTextHeight) / 2) + rect.y + 0.5);
    dc.DrawText(text, rect.x + kMargin + 1, y + 1);
    return true;
}
