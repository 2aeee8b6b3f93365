#pragma once
// wxWidgets' modal test hook wired to GoogleTest (a failure is a test failure, an
// unexpected dialog is cancelled instead of waiting for a user), and event pumping.

#include <gtest/gtest.h>

#define wxTEST_DIALOG_HOOK_CLASS GTestModalHook
#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/utils.h>

#include <chrono>

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

    void ReportFailure(const wxString& msg) override { ADD_FAILURE_AT(m_file, m_line) << msg.utf8_string(); }

private:
    const char* m_file;
    int m_line;
};

// Runs pending events until cond() holds; false when it still fails after ms.
template <class Cond>
bool PumpUntil(Cond cond, int ms = 3000)
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

// A warning box: this caption and text, OK only, the exclamation icon; answered OK.
class ExpectWarningBox : public wxExpectModalBase<wxMessageDialog, ExpectWarningBox> {
public:
    ExpectWarningBox(const wxString& caption, const wxString& text) : m_caption(caption), m_text(text) {}

protected:
    int OnInvoked(wxMessageDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetCaption(), m_caption);
        EXPECT_EQ(dlg->GetMessage(), m_text);
        const long style = dlg->GetMessageDialogStyle();
        EXPECT_EQ(style & wxICON_MASK, wxICON_EXCLAMATION);
        EXPECT_TRUE(style & wxOK);
        EXPECT_FALSE(style & (wxCANCEL | wxYES_NO));
        return wxID_OK;
    }

    wxString GetDefaultDescription() const override { return "warning box \"" + m_text + "\""; }

private:
    wxString m_caption;
    wxString m_text;
};
