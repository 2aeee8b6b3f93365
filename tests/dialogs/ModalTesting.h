#pragma once
// wxWidgets' modal test hook wired to GoogleTest: every expected dialog is answered in
// turn, a failure is a test failure, and an unexpected dialog is cancelled instead of
// running (which would wait for a user forever).

#include <gtest/gtest.h>

#define wxTEST_DIALOG_HOOK_CLASS GTestModalHook
#include <wx/app.h>
#include <wx/button.h>
#include <wx/testing.h>
#include <wx/textctrl.h>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

class GTestModalHook : public wxTestingModalHook {
public:
    GTestModalHook(const char* file, int line, const char* func)
        : wxTestingModalHook(file, line, func), m_file(file), m_line(line)
    {
    }

protected:
    int Enter(wxDialog* dlg) override
    {
        const int rc = wxTestingModalHook::Enter(dlg);
        return rc == wxID_NONE ? wxID_CANCEL : rc;
    }

    void ReportFailure(const wxString& msg) override
    {
        ADD_FAILURE_AT(m_file, m_line) << msg.utf8_string();
    }

private:
    const char* m_file;
    int m_line;
};

// Runs pending events until cond() holds; false when it still fails after ms.
template <class Cond> bool PumpUntil(Cond cond, int ms = 3000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        wxTheApp->Yield(true);
        wxTheApp->ProcessIdle();
        wxMilliSleep(5);
    }
    return true;
}

inline void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}

// A message box with exactly this caption and text, an OK button only and the
// exclamation icon, owned by owner when one is given; answered with OK.
class ExpectMessageBox : public wxExpectModalBase<wxMessageDialog, ExpectMessageBox> {
public:
    ExpectMessageBox(const wxString& caption, const wxString& text, wxWindow* owner = nullptr)
        : m_caption(caption), m_text(text), m_owner(owner)
    {
    }

protected:
    int OnInvoked(wxMessageDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetCaption(), m_caption);
        EXPECT_EQ(dlg->GetMessage(), m_text);
        const long style = dlg->GetMessageDialogStyle();
        EXPECT_EQ(style & wxICON_MASK, wxICON_EXCLAMATION) << m_caption;
        EXPECT_TRUE(style & wxOK) << m_caption;
        EXPECT_FALSE(style & (wxCANCEL | wxYES_NO)) << m_caption;
        if (m_owner) {
            EXPECT_EQ(dlg->GetParent(), m_owner) << m_caption;
        }
        return wxID_OK;
    }

    wxString GetDefaultDescription() const override
    {
        return "message box \"" + m_caption + "\"";
    }

private:
    wxString m_caption;
    wxString m_text;
    wxWindow* m_owner;
};

// Answers one of our dialogs as a user would: shows it, types the given texts into the
// given edit controls, presses a button, then lets check() look at it. An OK that the
// dialog refused is followed by Cancel, as a user who gives up.
template <class Dlg>
class FillAndPress : public wxExpectModalBase<Dlg> {
public:
    using Edits = std::vector<std::pair<int, wxString>>;
    using Check = std::function<void(Dlg*)>;

    FillAndPress(Edits edits, int button, Check check)
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
            auto* edit = wxDynamicCast(dlg->FindWindow(id), wxTextCtrl);
            if (!edit) {
                ADD_FAILURE() << "no edit control " << id;
                continue;
            }
            edit->SetValue(text);
        }
        dlg->SetReturnCode(0);
        auto* button = wxDynamicCast(dlg->FindWindow(m_button), wxButton);
        EXPECT_NE(button, nullptr);
        if (button) {
            wxCommandEvent click(wxEVT_BUTTON, m_button);
            click.SetEventObject(button);
            button->GetEventHandler()->ProcessEvent(click);
        }
        PumpFor(100);
        if (m_check)
            m_check(dlg);

        const int rc = m_button == wxID_OK && dlg->GetReturnCode() == wxID_OK ? wxID_OK
                                                                             : wxID_CANCEL;
        dlg->Hide();
        return rc;
    }

private:
    Edits m_edits;
    int m_button;
    Check m_check;
};
