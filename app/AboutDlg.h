#pragma once

#include <wx/dialog.h>

// The about box (IDD_ABOUTBOX): the program's name, version and icon, and OK.
class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};
