#pragma once
// The rig of the command tests: a folder of its own for the settings and COM links, the
// dongle simulator recording every frame it receives, and the main window on screen.

#include "tests/dialogs/DialogExpectations.h"
#include "tests/e2e/E2eSupport.h"

#include <wx/filedlg.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TessarinDlg.h"
#include "app/TessarinSettings.h"

// Runs code with the modal hook in place and no dialog expected: a dialog that opens
// anyway is a test failure, and is cancelled instead of waiting for a user.
#define EXPECT_NO_DIALOG(code)                                                           \
    do {                                                                                 \
        GTestModalHook noDialogHook(__FILE__, __LINE__, __func__);                       \
        code;                                                                            \
        noDialogHook.CheckUnmetExpectations();                                           \
    } while (0)

// The sixteen stored values as "name=value" texts, for comparisons that name what moved.
std::vector<std::string> StoredSettings();
// Loads the stored record, lets change() edit it and saves it.
void StoreSettings(const std::function<void(CTessarinSettings&)>& change);

// The file dialog shown as a user sees it, answered with a path (set as if picked in the
// list, or typed into the name field when typed is true) or cancelled. The dialog must
// be the log file's: saving kind with the overwrite prompt, both filters, the first one
// selected, no initial name.
class ExpectLogFileDialog : public wxExpectModalBase<wxFileDialog, ExpectLogFileDialog> {
public:
    enum Answer { PICK, TYPE, CANCEL, OK_WITH_NOTHING };
    ExpectLogFileDialog(const wxString& path, Answer answer = PICK) : m_path(path), m_answer(answer) {}

protected:
    int OnInvoked(wxFileDialog* dlg) const override;
    wxString GetDefaultDescription() const override { return "log file dialog"; }

private:
    wxString m_path;
    Answer m_answer;
};

// A message box with this caption and text, the given buttons and icon; answered with
// the given button.
class ExpectBox : public wxExpectModalBase<wxMessageDialog, ExpectBox> {
public:
    ExpectBox(const wxString& caption, const wxString& text, long buttons, long icon, int answer)
        : m_caption(caption), m_text(text), m_buttons(buttons), m_icon(icon), m_answer(answer)
    {
    }

protected:
    int OnInvoked(wxMessageDialog* dlg) const override;
    wxString GetDefaultDescription() const override { return "message box \"" + m_text + "\""; }

private:
    wxString m_caption;
    wxString m_text;
    long m_buttons;
    long m_icon;
    int m_answer;
};

class CommandRig : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The simulator as COM21, quiet, recording into Folder()/record.
    bool StartSimulator();
    // A new main window, shown, as at a start of the program.
    void OpenWindow();
    // Closes the window and opens a new one: a restart of the program.
    void Restart();
    // Start on the toolbar; true once the capture runs and the dongle answered its PING.
    bool StartCapture();

    // A real click in the middle of a control, and the events it leads to.
    void Click(wxWindow* control);
    // A real double click on the Node List entry with this text.
    void DoubleClickNode(const wxString& text);
    // Waits until the Node List holds an entry of this text.
    bool WaitForNode(const wxString& text);

    // The frames the simulator has received so far, as hex lines.
    std::vector<std::string> Frames() const;
    // Waits until more than `count` frames were received; the one after the first count,
    // or "" when none came.
    std::string FrameAfter(size_t count);

    std::string Folder(const std::string& name) const { return *m_pFolder / name; }

    std::unique_ptr<CTestFolder> m_pFolder;
    CSimProcess m_sim;
    std::unique_ptr<CTessarinDlg> m_dlg;
};
