#pragma once

#include <wx/string.h>

class wxToolBar;
class wxWindow;

// What screen readers are told about a window, where the toolkit lets a program say
// it: a name, and the caption that labels a field. Where it does not, these do nothing
// and the names read back empty. The user-interface thread only.

// Names a window (a list without a caption, say) as a screen reader reads it.
void SetAccessibleName(wxWindow* window, const wxString& name);
// Names each of the toolbar's tools by its hover text.
void NameToolsByTheirHelp(wxToolBar* toolbar);
// Ties a field to its caption: the field is read by the caption's text, mnemonic and
// trailing colon left out.
void SetAccessibleLabel(wxWindow* field, wxWindow* caption);

// The name a screen reader reads for a window, or for the tool of a toolbar.
wxString GetAccessibleName(wxWindow* window);
wxString GetToolAccessibleName(wxToolBar* toolbar, int toolId);
