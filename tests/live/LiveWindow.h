#pragma once
// The main window as at a start of the program, and presses of its buttons, tools and
// Node List entries through its own event handling (only an enabled one is pressed);
// the simulator and pty peers of the live tests.

#include "tests/support/GuiTesting.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>

#include <algorithm>
#include <memory>

#include "app/TessarinDlg.h"
#include "res/Resources.h"
#include "tests/support/PosixPeers.h"

inline std::unique_ptr<CTessarinDlg> OpenWindow(const std::string& logFile = "")
{
    auto dlg = std::make_unique<CTessarinDlg>();
    EXPECT_TRUE(dlg->Create());
    dlg->m_strLogFile = logFile.empty() ? dlg->m_strLogFile : logFile;
    dlg->Show();
    EXPECT_TRUE(PumpUntil([&] { return dlg->IsShownOnScreen(); }));
    return dlg;
}

inline void Press(wxWindow* control, int tool = 0)
{
    ASSERT_TRUE(tool ? static_cast<wxToolBar*>(control)->GetToolEnabled(tool) : control->IsEnabled()) << tool;
    wxCommandEvent click(tool ? wxEVT_TOOL : wxEVT_BUTTON, tool ? tool : control->GetId());
    click.SetEventObject(control);
    control->ProcessWindowEvent(click);
}

// A double click on the entry of this address.
inline void PickNode(CTessarinDlg& dlg, const char* addr)
{
    dlg.m_nodeList->SetSelection(wxNOT_FOUND);
    for (unsigned i = 0; i < dlg.m_nodeList->GetCount(); ++i)
        dlg.m_nodeList->GetString(i).StartsWith(addr) ? dlg.m_nodeList->SetSelection(int(i)) : void();
    wxMouseEvent click(wxEVT_LEFT_DCLICK);
    click.SetEventObject(dlg.m_nodeList);
    dlg.m_nodeList->GetEventHandler()->ProcessEvent(click);
}
