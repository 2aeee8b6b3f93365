#include "controls/StatusBarEx.h"

// The native bar paints itself, and cheaply.

// clang-format off
wxBEGIN_EVENT_TABLE(CStatusBarEx, wxStatusBar)
wxEND_EVENT_TABLE()
// clang-format on

wxVisualAttributes CStatusBarEx::GetDefaultAttributes() const
{
    return wxStatusBar::GetDefaultAttributes();
}

void CStatusBarEx::OnSysColourChanged(wxSysColourChangedEvent& event)
{
    event.Skip();
}

void CStatusBarEx::DoUpdateStatusText(int number)
{
    wxStatusBar::DoUpdateStatusText(number);
}

void CStatusBarEx::OnPaint(wxPaintEvent& event)
{
    event.Skip();
}
