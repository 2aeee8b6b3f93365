#pragma once
// Answers for the modal hook when the code under test opens one of the parameter
// dialogs: wxExpectModal<CMsgParamDlg>({{1018, "12"}}) types "12" into the A field and
// presses OK; a button id as the second argument presses that one instead, and a check
// as the third looks at the dialog after the press.

#include "tests/support/GuiTesting.h"

#include <wx/textctrl.h>

#include <functional>
#include <utility>
#include <vector>

#include "commands/DestAddrDlg.h"
#include "commands/MsgParamDlg.h"

// Shows the dialog, types the texts, presses the button. An OK that the dialog refused
// is followed by Cancel, as a user who gives up.
template <class Dlg>
class FillAndPress : public wxExpectModalBase<Dlg> {
public:
    using Edits = std::vector<std::pair<int, wxString>>;
    using Check = std::function<void(Dlg*)>;

    explicit FillAndPress(Edits edits = {}, int button = wxID_OK, Check check = {})
        : m_edits(std::move(edits)), m_button(button), m_check(std::move(check))
    {
    }

protected:
    int OnInvoked(Dlg* dlg) const override
    {
        dlg->Show();
        // Focus events need the window on screen and the pending work of showing done.
        EXPECT_TRUE(PumpUntil([dlg] { return dlg->IsShownOnScreen(); }));
        PumpFor(300);

        for (const auto& [id, text] : m_edits) {
            if (auto* edit = wxDynamicCast(dlg->FindWindow(id), wxTextCtrl))
                edit->SetValue(text);
            else
                ADD_FAILURE() << "no edit control " << id;
        }
        dlg->SetReturnCode(0);
        wxCommandEvent click(wxEVT_BUTTON, m_button);
        if (wxWindow* button = dlg->FindWindow(m_button)) {
            click.SetEventObject(button);
            button->ProcessWindowEvent(click);
        } else {
            ADD_FAILURE() << "no button " << m_button;
        }
        PumpFor(100);
        if (m_check)
            m_check(dlg);

        const int rc = m_button == wxID_OK && dlg->GetReturnCode() == wxID_OK ? wxID_OK : wxID_CANCEL;
        dlg->Hide();
        return rc;
    }

private:
    Edits m_edits;
    int m_button;
    Check m_check;
};

template <> class wxExpectModal<CMsgParamDlg> : public FillAndPress<CMsgParamDlg> { public: using FillAndPress::FillAndPress; };
template <> class wxExpectModal<CDestAddrDlg> : public FillAndPress<CDestAddrDlg> { public: using FillAndPress::FillAndPress; };
