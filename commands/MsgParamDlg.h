#pragma once
// The modal form in which the destination and parameters of a Reference or Blind Node
// Configuration are reviewed and edited before the message is sent.

#include "link/DongleMessage.h"

#include <wx/dialog.h>

struct ParamField;
class wxTextCtrl;

class CMsgParamDlg : public wxDialog {
public:
    enum : unsigned {
        MODE_BLIND = 0,       // edits words 1..9 of the record (so does any mode but 1)
        MODE_REFERENCE = 1,   // edits words 1..3
    };

    // Shows what record holds for the fields of mode; the other mode's fields stay
    // empty and greyed out. record must outlive the dialog. With no parent the
    // application's top window owns it.
    CMsgParamDlg(DongleMessage* record, unsigned mode, wxWindow* parent = nullptr);

    // ShowModal() (UI thread) returns wxID_OK once every field of the mode was valid and
    // its value stored in the record, wxID_CANCEL after Cancel, Escape or the close box.
    // The record changes only on wxID_OK; word 0 is never touched.

private:
    void CreateControls();
    void CreateGroup(const wxString& title, int id, wxRect box, const ParamField* fields, int count,
                     bool active, int labelWidth);
    void Fill();
    void OnOK(wxCommandEvent& event);

    unsigned m_nMode;
    DongleMessage* m_pRecord;
};
