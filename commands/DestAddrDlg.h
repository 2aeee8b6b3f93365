#pragma once
// The small modal form in which the destination of a configuration request is
// confirmed or changed before the request is sent.

#include <wx/dialog.h>

class wxTextCtrl;

class CDestAddrDlg : public wxDialog {
public:
    enum { ID_ADDRESS = 1039 };

    // Shows *addr as "%04X" after a "0x" label. addr must outlive the dialog. With no
    // parent the application's top window owns it.
    CDestAddrDlg(int* addr, wxWindow* parent = nullptr);

    // ShowModal() (UI thread) returns wxID_OK once the text read as an address 0x0000 to
    // 0xFFFF, which is then stored in *addr; wxID_CANCEL after Cancel, Escape or the
    // close box, *addr untouched.

private:
    void OnOK(wxCommandEvent& event);

    int* m_pAddr;
    wxTextCtrl* m_pEdit;
};
