#pragma once
// The main window as at a start of the program, and presses of its buttons, tools and
// Node List entries through its own event handling (only an enabled one is pressed);
// the simulator and pty peers of the live tests.

#include "tests/support/GuiTesting.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/TessarinDlg.h"
#include "app/settings/TessarinSettings.h"
#include "res/Resources.h"
#include "tests/support/PosixPeers.h"

// The window starts with the log file the settings name: logFile, when one is given.
inline std::unique_ptr<CTessarinDlg> OpenWindow(const std::string& logFile = "")
{
    if (!logFile.empty()) {
        CTessarinSettings settings;
        settings.Load();
        std::snprintf(settings.m_szLogFile, sizeof settings.m_szLogFile, "%s", logFile.c_str());
        EXPECT_TRUE(settings.Save());
    }
    auto dlg = std::make_unique<CTessarinDlg>();
    EXPECT_TRUE(dlg->Create());
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

// A double click on the entry of this address, as the list reports one.
inline void PickNode(CTessarinDlg& dlg, const char* addr)
{
    wxListBox* list = NodeList(dlg);
    list->SetSelection(wxNOT_FOUND);
    for (unsigned i = 0; i < list->GetCount(); ++i)
        list->GetString(i).StartsWith(addr) ? list->SetSelection(int(i)) : void();
    wxCommandEvent click(wxEVT_LISTBOX_DCLICK, IDC_NODE_LIST);
    click.SetEventObject(list);
    click.SetInt(list->GetSelection());
    list->ProcessWindowEvent(click);
}
