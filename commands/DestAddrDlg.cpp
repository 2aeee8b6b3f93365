#include "commands/DestAddrDlg.h"

#include "controls/Accessible.h"

#include "commands/InputRules.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

namespace {

// The form in dialog units, which follow the dialog's own font.
constexpr int DLG_WIDTH = 124;
constexpr int DLG_HEIGHT = 66;
constexpr int MARGIN = 7;
constexpr int EDIT_TOP = 19;
constexpr int EDIT_HEIGHT = 14;
constexpr int PREFIX_WIDTH = 12;
constexpr int PREFIX_GAP = 2;   // between "0x" and the edit
constexpr int BUTTON_INSET = 2;
constexpr int BUTTON_WIDTH = 50;
constexpr int BUTTON_HEIGHT = 14;

}   // namespace

CDestAddrDlg::CDestAddrDlg(int* addr, wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Destination Address"), m_pAddr(addr), m_pEdit(nullptr)
{
    SetClientSize(ConvertDialogToPixels(wxSize(DLG_WIDTH, DLG_HEIGHT)));

    // Created first so that they lead the tab order and the focus starts on OK.
    const int buttonTop = DLG_HEIGHT - MARGIN - BUTTON_HEIGHT;
    auto* ok =
        new wxButton(this, wxID_OK, "OK", ConvertDialogToPixels(wxPoint(MARGIN + BUTTON_INSET, buttonTop)));
    auto* cancel = new wxButton(
        this, wxID_CANCEL, "Cancel",
        ConvertDialogToPixels(wxPoint(DLG_WIDTH - MARGIN - BUTTON_INSET - BUTTON_WIDTH, buttonTop)));
    const wxSize buttonSize = ConvertDialogToPixels(wxSize(BUTTON_WIDTH, BUTTON_HEIGHT));
    for (wxButton* b : {ok, cancel})
        b->SetSize(wxSize(buttonSize.x, std::max(buttonSize.y, b->GetBestSize().y)));
    ok->SetDefault();
    // Before the first show, or GTK focuses (and selects) the top left edit control.
    ok->SetFocus();

    auto* title = new wxStaticText(this, wxID_ANY,
                                   "Destination Address:", ConvertDialogToPixels(wxPoint(MARGIN, MARGIN)));
    title->SetSize(ConvertDialogToPixels(wxSize(DLG_WIDTH - 2 * MARGIN, 0)).x, title->GetBestSize().y);

    auto* prefix = new wxStaticText(this, wxID_ANY, "0x", wxDefaultPosition, wxDefaultSize,
                                    wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    m_pEdit = new wxTextCtrl(this, ID_ADDRESS, wxEmptyString);
    SetAccessibleLabel(m_pEdit, title);
    const int editLeft = MARGIN + PREFIX_WIDTH + PREFIX_GAP;
    const wxPoint editPos = ConvertDialogToPixels(wxPoint(editLeft, EDIT_TOP));
    const wxSize editSize = ConvertDialogToPixels(wxSize(DLG_WIDTH - MARGIN - editLeft, EDIT_HEIGHT));
    const int editHeight = std::max(editSize.y, m_pEdit->GetBestSize().y);
    m_pEdit->SetSize(editPos.x, editPos.y, editSize.x, editHeight);
    const int prefixHeight = prefix->GetBestSize().y;
    prefix->SetSize(ConvertDialogToPixels(wxPoint(MARGIN, 0)).x, editPos.y + (editHeight - prefixHeight) / 2,
                    ConvertDialogToPixels(wxSize(PREFIX_WIDTH, 0)).x, prefixHeight);

    m_pEdit->ChangeValue(FormatHex4(static_cast<uint32_t>(*m_pAddr)));

    Bind(wxEVT_BUTTON, &CDestAddrDlg::OnOK, this, wxID_OK);
    Centre();
}

void CDestAddrDlg::OnOK(wxCommandEvent&)
{
    uint32_t address = 0;
    if (!ReadNodeAddress(m_pEdit->GetValue().utf8_string(), &address)) {
        // Unlike the parameters form, the focus is left where it was.
        wxMessageBox("Give a hex value between 0x0000 and 0xFFFF", "Invalid Destination Address!",
                     wxOK | wxICON_EXCLAMATION, this);
        return;
    }
    *m_pAddr = static_cast<int>(address);

    // Without a modal loop (shown modeless, or answered by a test hook) hiding ends it.
    SetReturnCode(wxID_OK);
    EndDialog(wxID_OK);
}
