#include "commands/MsgParamDlg.h"

#include "controls/Accessible.h"

#include "commands/InputRules.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

namespace {

// The form in dialog units, which follow the dialog's own font.
constexpr int DLG_WIDTH = 304;
constexpr int DLG_HEIGHT = 255;
constexpr int MARGIN = 7;
constexpr int ROW_FIRST = 14;   // top of the first row below the top of its group
constexpr int ROW_PITCH = 22;
constexpr int ROW_HEIGHT = 14;
constexpr int GAP = 4;   // between a label and its edit
constexpr int BUTTON_WIDTH = 50;
constexpr int BUTTON_HEIGHT = 14;
constexpr int BUTTON_GAP = 7;

constexpr int BLIND_LEFT = 152;
const wxRect REF_BOX(MARGIN, MARGIN, BLIND_LEFT - 2 * MARGIN, ROW_FIRST + 2 * ROW_PITCH + ROW_HEIGHT + 10);
const wxRect BLIND_BOX(BLIND_LEFT, MARGIN, DLG_WIDTH - BLIND_LEFT - MARGIN,
                       ROW_FIRST + 8 * ROW_PITCH + ROW_HEIGHT + 10);
constexpr int REF_LABEL_WIDTH = 72;
constexpr int BLIND_LABEL_WIDTH = 92;

struct FieldSet {
    const ParamField* fields;
    int count;
};

// Any mode but the reference one is the blind mode, so the form is never left with no
// field to edit.
FieldSet FieldsOf(unsigned mode)
{
    if (mode == CMsgParamDlg::MODE_REFERENCE)
        return {REF_FIELDS, REF_FIELD_COUNT};
    return {BLIND_FIELDS, BLIND_FIELD_COUNT};
}

}   // namespace

CMsgParamDlg::CMsgParamDlg(DongleMessage* record, unsigned mode, wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Message Parameters"), m_nMode(mode), m_pRecord(record)
{
    CreateControls();
    Fill();
    Bind(wxEVT_BUTTON, &CMsgParamDlg::OnOK, this, wxID_OK);
}

void CMsgParamDlg::CreateControls()
{
    SetClientSize(ConvertDialogToPixels(wxSize(DLG_WIDTH, DLG_HEIGHT)));

    // Created first so that they lead the tab order and the focus starts on OK.
    const wxSize buttonSize = ConvertDialogToPixels(wxSize(BUTTON_WIDTH, BUTTON_HEIGHT));
    const int buttonTop = DLG_HEIGHT - MARGIN - BUTTON_HEIGHT;
    const int cancelLeft = DLG_WIDTH - MARGIN - BUTTON_WIDTH;
    auto* ok =
        new wxButton(this, wxID_OK, "OK",
                     ConvertDialogToPixels(wxPoint(cancelLeft - BUTTON_GAP - BUTTON_WIDTH, buttonTop)));
    auto* cancel =
        new wxButton(this, wxID_CANCEL, "Cancel", ConvertDialogToPixels(wxPoint(cancelLeft, buttonTop)));
    for (wxButton* b : {ok, cancel})
        b->SetSize(wxSize(buttonSize.x, std::max(buttonSize.y, b->GetBestSize().y)));
    ok->SetDefault();
    // Before the first show, or GTK focuses (and selects) the top left edit control.
    ok->SetFocus();

    CreateGroup("Reference node configuration", 1026, REF_BOX, REF_FIELDS, REF_FIELD_COUNT,
                m_nMode == MODE_REFERENCE, REF_LABEL_WIDTH);
    CreateGroup("Blind node configuration", wxID_ANY, BLIND_BOX, BLIND_FIELDS, BLIND_FIELD_COUNT,
                m_nMode != MODE_REFERENCE, BLIND_LABEL_WIDTH);
    Centre();
}

void CMsgParamDlg::CreateGroup(const wxString& title, int id, wxRect box, const ParamField* fields, int count,
                               bool active, int labelWidth)
{
    new wxStaticBox(this, id, title, ConvertDialogToPixels(box.GetPosition()),
                    ConvertDialogToPixels(box.GetSize()));

    const int labelLeft = box.x + 5;
    const int editLeft = labelLeft + labelWidth + GAP;
    const int editWidth = box.GetRight() - 5 - editLeft;
    for (int i = 0; i < count; ++i) {
        const ParamField& f = fields[i];
        const int top = box.y + ROW_FIRST + i * ROW_PITCH;
        auto* label = new wxStaticText(this, f.labelId, wxString::FromUTF8(f.label), wxDefaultPosition,
                                       wxDefaultSize, wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
        auto* edit = new wxTextCtrl(this, f.editId, wxEmptyString);
        SetAccessibleLabel(edit, label);

        // A theme that wants taller edits than the row grants gets them; the label is
        // centred on whatever height the edit ends up with.
        const wxPoint editPos = ConvertDialogToPixels(wxPoint(editLeft, top));
        const wxSize rowSize = ConvertDialogToPixels(wxSize(editWidth, ROW_HEIGHT));
        const int editHeight = std::max(rowSize.y, edit->GetBestSize().y);
        edit->SetSize(editPos.x, editPos.y, rowSize.x, editHeight);
        const int labelHeight = label->GetBestSize().y;
        const wxPoint labelPos = ConvertDialogToPixels(wxPoint(labelLeft, top));
        label->SetSize(labelPos.x, editPos.y + (editHeight - labelHeight) / 2,
                       ConvertDialogToPixels(wxSize(labelWidth, 0)).x, labelHeight);

        label->Enable(active);
        edit->Enable(active);
    }
}

void CMsgParamDlg::Fill()
{
    const FieldSet set = FieldsOf(m_nMode);
    for (int i = 0; i < set.count; ++i) {
        const ParamField& f = set.fields[i];
        static_cast<wxTextCtrl*>(FindWindow(f.editId))->ChangeValue(FormatField(f, m_pRecord->word[f.word]));
    }
}

void CMsgParamDlg::OnOK(wxCommandEvent&)
{
    const FieldSet set = FieldsOf(m_nMode);

    // Checked into a copy, so a Cancel after a refused field leaves the caller's record
    // as it was.
    DongleMessage checked = *m_pRecord;
    for (int i = 0; i < set.count; ++i) {
        const ParamField& f = set.fields[i];
        auto* edit = static_cast<wxTextCtrl*>(FindWindow(f.editId));
        uint32_t value = 0;
        if (!ReadField(f, edit->GetValue().utf8_string(), &value)) {
            wxMessageBox(f.message, f.caption, wxOK | wxICON_EXCLAMATION, this);
            edit->SetFocus();
            return;
        }
        checked.word[f.word] = value;
    }
    *m_pRecord = checked;

    // Without a modal loop (shown modeless, or answered by a test hook) hiding ends it.
    SetReturnCode(wxID_OK);
    EndDialog(wxID_OK);
}
