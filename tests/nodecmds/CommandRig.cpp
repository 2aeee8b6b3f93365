#include "tests/nodecmds/CommandRig.h"

#include <wx/listbox.h>
#include <wx/uiaction.h>

#include <cstdio>

namespace {

struct NamedValue {
    const char* name;
    uint32_t CTessarinSettings::*member;
};

const NamedValue kValues[] = {
    {"chkParam", &CTessarinSettings::m_nChkParam},
    {"chkBroadcast", &CTessarinSettings::m_nChkBroadcast},
    {"destAddrRefN", &CTessarinSettings::m_nDestAddrRefN},
    {"xPos", &CTessarinSettings::m_nXPos},
    {"yPos", &CTessarinSettings::m_nYPos},
    {"destAddrBlindN", &CTessarinSettings::m_nDestAddrBlindN},
    {"A", &CTessarinSettings::m_nA},
    {"nIndex", &CTessarinSettings::m_nIndex},
    {"mode", &CTessarinSettings::m_nMode},
    {"collectTime", &CTessarinSettings::m_nCollectTime},
    {"cycleTime", &CTessarinSettings::m_nCycleTime},
    {"reportShortAddr", &CTessarinSettings::m_nReportShortAddr},
    {"reportEndpoint", &CTessarinSettings::m_nReportEndpoint},
    {"minRefNodes", &CTessarinSettings::m_nMinRefNodes},
    {"appendToLogFile", &CTessarinSettings::m_nAppendToLogFile},
};

} // namespace

std::vector<std::string> StoredSettings()
{
    CTessarinSettings settings;
    settings.Load();
    std::vector<std::string> values;
    char text[64];
    for (const NamedValue& v : kValues) {
        std::snprintf(text, sizeof text, "%s=0x%X", v.name, static_cast<unsigned>(settings.*v.member));
        values.push_back(text);
    }
    values.push_back(std::string("strLogFile=") + settings.m_szLogFile);
    return values;
}

void StoreSettings(const std::function<void(CTessarinSettings&)>& change)
{
    CTessarinSettings settings;
    settings.Load();
    change(settings);
    ASSERT_TRUE(settings.Save());
}

int ExpectLogFileDialog::OnInvoked(wxFileDialog* dlg) const
{
    const long style = dlg->GetWindowStyle();
    EXPECT_TRUE(style & wxFD_SAVE);
    EXPECT_TRUE(style & wxFD_OVERWRITE_PROMPT);
    EXPECT_FALSE(style & wxFD_FILE_MUST_EXIST);
    EXPECT_EQ(dlg->GetWildcard(), "Tessarin Log files (*.log)|*.log|All files (*.*)|*.*;*");
    EXPECT_EQ(dlg->GetFilterIndex(), 0);
    EXPECT_EQ(dlg->GetFilename(), "");
    if (m_answer == CANCEL)
        return wxID_CANCEL;
    if (m_answer == OK_WITH_NOTHING)
        return wxID_OK;   // as a dialog that hands back no name at all

    // This toolkit's chooser reports a path only while it is on screen.
    dlg->Show();
    EXPECT_TRUE(PumpUntil([dlg] { return dlg->IsShownOnScreen(); }));
    PumpFor(300);
    if (m_answer == TYPE) {
        wxUIActionSimulator sim;
        sim.Text(m_path.utf8_str());
        PumpFor(200);
    } else {
        dlg->SetPath(m_path);
        PumpFor(100);
    }
    dlg->Hide();
    return wxID_OK;
}

int ExpectBox::OnInvoked(wxMessageDialog* dlg) const
{
    EXPECT_EQ(dlg->GetCaption(), m_caption);
    EXPECT_EQ(dlg->GetMessage(), m_text);
    const long style = dlg->GetMessageDialogStyle();
    EXPECT_EQ(style & wxICON_MASK, m_icon) << m_text;
    EXPECT_EQ(style & (wxOK | wxCANCEL | wxYES_NO), m_buttons) << m_text;
    return m_answer;
}

void CommandRig::SetUp()
{
    m_pFolder = std::make_unique<CTestFolder>();
}

void CommandRig::TearDown()
{
    m_dlg.reset();
    m_sim.Stop();
    m_pFolder.reset();
}

bool CommandRig::StartSimulator()
{
    return m_sim.Start({"--com", "21", "--quiet", "--record", Folder("record")});
}

void CommandRig::OpenWindow()
{
    m_dlg = std::make_unique<CTessarinDlg>();
    ASSERT_TRUE(m_dlg->Create());
    // Room for every node of the simulated network in the Node List.
    m_dlg->SetClientSize(1000, 700);
    m_dlg->Show();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->IsShownOnScreen(); }));
    PumpFor(300);
}

void CommandRig::Restart()
{
    m_dlg.reset();
    PumpFor(100);
    OpenWindow();
}

bool CommandRig::StartCapture()
{
    if (m_dlg->m_strComPort != "COM21") {
        ADD_FAILURE() << "COM21 not selected: \"" << m_dlg->m_strComPort << "\"";
        return false;
    }
    EXPECT_NO_DIALOG(m_dlg->OnStartCapture());
    // The PING's answer brings the device information.
    return m_dlg->m_link.IsCapturing() &&
           PumpUntil([&] { return m_dlg->m_link.GetDongleInfo(nullptr, nullptr); }, 5000);
}

void CommandRig::Click(wxWindow* control)
{
    wxUIActionSimulator sim;
    const wxRect rect = control->GetScreenRect();
    sim.MouseMove(rect.GetPosition() + wxPoint(rect.width / 2, rect.height / 2));
    PumpFor(50);
    sim.MouseClick();
    PumpFor(200);
}

void CommandRig::DoubleClickNode(const wxString& text)
{
    wxListBox* list = m_dlg->m_nodeList;
    const int row = list->FindString(text, true);
    ASSERT_NE(row, wxNOT_FOUND) << text;
    list->EnsureVisible(row);
    PumpFor(100);
    const wxRect rect = list->GetScreenRect();
    wxPoint at = rect.GetPosition();
    bool found = false;
    for (int y = 2; y < rect.height && !found; ++y) {
        if (list->HitTest(wxPoint(10, y)) == row) {
            at += wxPoint(10, y + 3);
            found = true;
        }
    }
    ASSERT_TRUE(found) << "entry " << text << " is not on screen";
    wxUIActionSimulator sim;
    sim.MouseMove(at);
    PumpFor(100);
    sim.MouseDblClick();
    PumpFor(300);
}

bool CommandRig::WaitForNode(const wxString& text)
{
    return PumpUntil([&] { return m_dlg->m_nodeList->FindString(text, true) != wxNOT_FOUND; }, 5000);
}

std::vector<std::string> CommandRig::Frames() const
{
    return ReadLines(Folder("record"));
}

std::string CommandRig::FrameAfter(size_t count)
{
    std::vector<std::string> frames;
    PumpUntil([&] {
        frames = Frames();
        return frames.size() > count;
    });
    return frames.size() > count ? frames[count] : std::string();
}
