#pragma once

#include <wx/dialog.h>

// The about box (template 100): the program's name, version and icon, and OK.
class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};
