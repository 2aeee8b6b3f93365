#pragma once
// The rig of the command tests: a folder of its own for the settings and COM links, the
// dongle simulator recording every frame it receives, and the main window on screen.

#include "tests/dialogs/DialogExpectations.h"
#include "tests/e2e/E2eSupport.h"

#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/uiaction.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TessarinDlg.h"
#include "app/settings/TessarinSettings.h"

using Texts = std::vector<std::string>;

// The sixteen stored values as "name=value" texts, for comparisons that name what moved.
inline Texts StoredSettings()
{
    using S = CTessarinSettings;
    static const std::pair<const char*, uint32_t S::*> values[] = {
        {"chkParam", &S::m_nChkParam},         {"chkBroadcast", &S::m_nChkBroadcast},
        {"destAddrRefN", &S::m_nDestAddrRefN}, {"xPos", &S::m_nXPos},
        {"yPos", &S::m_nYPos},                 {"destAddrBlindN", &S::m_nDestAddrBlindN},
        {"A", &S::m_nA},                       {"nIndex", &S::m_nIndex},
        {"mode", &S::m_nMode},                 {"collectTime", &S::m_nCollectTime},
        {"cycleTime", &S::m_nCycleTime},       {"reportShortAddr", &S::m_nReportShortAddr},
        {"reportEndpoint", &S::m_nReportEndpoint}, {"minRefNodes", &S::m_nMinRefNodes},
        {"appendToLogFile", &S::m_nAppendToLogFile},
    };
    S settings;
    settings.Load();
    Texts texts;
    char text[64];
    for (const auto& [name, member] : values) {
        std::snprintf(text, sizeof text, "%s=0x%X", name, static_cast<unsigned>(settings.*member));
        texts.push_back(text);
    }
    texts.push_back(std::string("strLogFile=") + settings.m_szLogFile);
    return texts;
}

// Loads the stored record, lets change() edit it and saves it.
inline void StoreSettings(const std::function<void(CTessarinSettings&)>& change)
{
    CTessarinSettings settings;
    settings.Load();
    change(settings);
    ASSERT_TRUE(settings.Save());
}

// What a parameter dialog shows in the given fields when action opens it; then answered
// with button.
template <class Dlg>
Texts Offered(const std::function<void()>& action, const std::vector<int>& ids, int button = wxID_CANCEL)
{
    Texts shown;
    wxTEST_DIALOG(action(), wxExpectModal<Dlg>({}, button, [&](Dlg* dlg) {
                      for (int id : ids) {
                          auto* edit = wxDynamicCast(dlg->FindWindow(id), wxTextCtrl);
                          shown.push_back(std::to_string(id) + "=" + (edit ? edit->GetValue().utf8_string() : "?"));
                      }
                  }));
    return shown;
}

// The file dialog shown as a user sees it, answered with a path (set as if picked in the
// list, or typed into the name field) or cancelled. The dialog must be the log file's:
// saving kind with the overwrite prompt, both filters, the first one selected, no name.
class ExpectLogFileDialog : public wxExpectModalBase<wxFileDialog, ExpectLogFileDialog> {
public:
    enum Answer { PICK, TYPE, CANCEL, OK_WITH_NOTHING };
    ExpectLogFileDialog(const wxString& path, Answer answer = PICK) : m_path(path), m_answer(answer) {}

protected:
    int OnInvoked(wxFileDialog* dlg) const override
    {
        const long style = dlg->GetWindowStyle();
        EXPECT_EQ(style & (wxFD_SAVE | wxFD_OVERWRITE_PROMPT | wxFD_FILE_MUST_EXIST), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        EXPECT_EQ(dlg->GetWildcard(), "Tessarin Log files (*.log)|*.log|All files (*.*)|*.*;*");
        EXPECT_EQ(dlg->GetFilterIndex(), 0);
        EXPECT_EQ(dlg->GetFilename(), "");
        if (m_answer == CANCEL || m_answer == OK_WITH_NOTHING)
            return m_answer == CANCEL ? wxID_CANCEL : wxID_OK;

        // This toolkit's chooser reports a path only while it is on screen.
        dlg->Show();
        EXPECT_TRUE(PumpUntil([dlg] { return dlg->IsShownOnScreen(); }));
        PumpFor(300);
        if (m_answer == TYPE)
            wxUIActionSimulator().Text(m_path.utf8_str());
        else
            dlg->SetPath(m_path);
        PumpFor(200);
        dlg->Hide();
        return wxID_OK;
    }
    wxString GetDefaultDescription() const override { return "log file dialog"; }

private:
    wxString m_path;
    Answer m_answer;
};

class CommandRig : public testing::Test {
protected:
    void SetUp() override { m_pFolder = std::make_unique<CTestFolder>(); }

    void TearDown() override
    {
        m_dlg.reset();
        m_sim.Stop();
        m_pFolder.reset();
    }

    // The simulator as COM21, quiet, recording into Folder("record").
    bool StartSimulator() { return m_sim.Start({"--com", "21", "--quiet", "--record", Folder("record")}); }

    // A new main window, shown, as at a start of the program.
    void OpenWindow()
    {
        m_dlg = std::make_unique<CTessarinDlg>();
        ASSERT_TRUE(m_dlg->Create());
        // Room for every node of the simulated network in the Node List.
        m_dlg->SetClientSize(1000, 700);
        m_dlg->Show();
        ASSERT_TRUE(PumpUntil([&] { return m_dlg->IsShownOnScreen(); }));
        PumpFor(300);
    }

    // Closes the window and opens a new one: a restart of the program.
    void Restart()
    {
        m_dlg.reset();
        PumpFor(100);
        OpenWindow();
    }

    // Start on the toolbar; true once the capture runs and the dongle answered its PING.
    bool StartCapture()
    {
        if (m_dlg->m_strComPort != "COM21") {
            ADD_FAILURE() << "COM21 not selected: \"" << m_dlg->m_strComPort << "\"";
            return false;
        }
        m_dlg->OnStartCapture();
        return m_dlg->m_link.IsCapturing() &&
               PumpUntil([&] { return m_dlg->m_link.GetDongleInfo(nullptr, nullptr); }, 5000);
    }

    // A real click at a screen point, and the events it leads to.
    void ClickAt(const wxPoint& at, bool twice = false)
    {
        wxUIActionSimulator sim;
        sim.MouseMove(at);
        PumpFor(100);
        twice ? sim.MouseDblClick() : sim.MouseClick();
        PumpFor(300);
    }

    void Click(wxWindow* control) { ClickAt(control->GetScreenRect().GetPosition() + control->GetSize() / 2); }

    // A real double click on the Node List entry with this text.
    void DoubleClickNode(const wxString& text)
    {
        wxListBox* list = m_dlg->m_nodeList;
        const int row = list->FindString(text, true);
        ASSERT_NE(row, wxNOT_FOUND) << text;
        list->EnsureVisible(row);
        PumpFor(100);
        const wxRect rect = list->GetScreenRect();
        int y = 2;
        while (y < rect.height && list->HitTest(wxPoint(10, y)) != row)
            ++y;
        ASSERT_LT(y, rect.height) << "entry " << text << " is not on screen";
        ClickAt(rect.GetPosition() + wxPoint(10, y + 3), true);
    }

    // Waits until the Node List holds an entry of this text.
    bool WaitForNode(const wxString& text)
    {
        return PumpUntil([&] { return m_dlg->m_nodeList->FindString(text, true) != wxNOT_FOUND; }, 5000);
    }

    // The frames the simulator has received so far, as hex lines.
    Texts Frames() const { return ReadLines(Folder("record")); }

    // Waits until more than `count` frames were received; the one after the first count,
    // or "" when none came.
    std::string FrameAfter(size_t count)
    {
        Texts frames;
        PumpUntil([&] {
            frames = Frames();
            return frames.size() > count;
        });
        return frames.size() > count ? frames[count] : std::string();
    }

    // The frame a click on a button sends.
    std::string FrameOf(wxWindow* button)
    {
        const size_t count = Frames().size();
        Click(button);
        return FrameAfter(count);
    }

    std::string Folder(const std::string& name) const { return *m_pFolder / name; }

    std::unique_ptr<CTestFolder> m_pFolder;
    CSimProcess m_sim;
    std::unique_ptr<CTessarinDlg> m_dlg;
};
