#pragma once
// What the GUI tests share: wxWidgets' modal test hook wired to GoogleTest (a failure is
// a test failure, an unexpected dialog is cancelled instead of waiting for a user), event
// pumping, and the expectation of a message box.

#include <gtest/gtest.h>

#define wxTEST_DIALOG_HOOK_CLASS GTestModalHook
#include <wx/app.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/testing.h>
#include <wx/utils.h>

#include <chrono>

#include "res/Resources.h"

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

// A window's child by its resource number, as a user's automation finds it; null when
// there is none of that kind.
template <class T = wxWindow>
T* Child(wxWindow& window, int id)
{
    return dynamic_cast<T*>(window.FindWindow(id));
}
inline wxToolBar* ToolBar(wxWindow& window)
{
    return Child<wxToolBar>(window, IDC_TOOLBAR);
}
inline wxStatusBar* StatusBar(wxWindow& window)
{
    return Child<wxStatusBar>(window, IDC_STATUS_BAR);
}
inline wxListBox* NodeList(wxWindow& window)
{
    return Child<wxListBox>(window, IDC_NODE_LIST);
}

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

// A message box with exactly this caption, text, buttons and icon, owned by owner when
// one is given; answered with answer.
class ExpectMessageBox : public wxExpectModalBase<wxMessageDialog, ExpectMessageBox> {
public:
    ExpectMessageBox(const wxString& caption, const wxString& text, wxWindow* owner = nullptr,
                     long buttons = wxOK, long icon = wxICON_EXCLAMATION, int answer = wxID_OK)
        : m_caption(caption), m_text(text), m_owner(owner), m_buttons(buttons), m_icon(icon), m_answer(answer)
    {
    }

protected:
    int OnInvoked(wxMessageDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetCaption(), m_caption);
        EXPECT_EQ(dlg->GetMessage(), m_text);
        const long style = dlg->GetMessageDialogStyle();
        EXPECT_EQ(style & wxICON_MASK, m_icon) << m_text;
        EXPECT_EQ(style & (wxOK | wxCANCEL | wxYES_NO), m_buttons) << m_text;
        if (m_owner) {
            EXPECT_EQ(dlg->GetParent(), m_owner) << m_text;
        }
        return m_answer;
    }

    wxString GetDefaultDescription() const override { return "message box \"" + m_caption + "\": " + m_text; }

private:
    wxString m_caption;
    wxString m_text;
    wxWindow* m_owner;
    long m_buttons;
    long m_icon;
    int m_answer;
};
