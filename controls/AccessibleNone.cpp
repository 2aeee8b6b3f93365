#include "controls/Accessible.h"

// This toolkit reads a control's caption and tooltip itself; nothing more to tell.

void SetAccessibleName(wxWindow*, const wxString&) {}

void NameToolsByTheirHelp(wxToolBar*) {}

void SetAccessibleLabel(wxWindow*, wxWindow*) {}

wxString GetAccessibleName(wxWindow*)
{
    return wxString();
}

wxString GetToolAccessibleName(wxToolBar*, int)
{
    return wxString();
}
