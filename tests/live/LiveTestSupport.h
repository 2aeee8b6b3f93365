#pragma once
// What the live-capture tests share: the window made and shown, toolbar presses and port
// picks as a user makes them, what the lists show, and log lines as the engine forms them.

#include "tests/support/GuiTesting.h"

#include <wx/choice.h>
#include <wx/listbox.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TessarinDlg.h"
#include "link/LogLine.h"
#include "res/Resources.h"
#include "tests/e2e/E2eSupport.h"

inline std::unique_ptr<CTessarinDlg> MakeWindow(const std::string& logFile)
{
    auto dlg = std::make_unique<CTessarinDlg>();
    EXPECT_TRUE(dlg->Create());
    dlg->m_strLogFile = logFile;
    dlg->m_bAppendToLogFile = 0;
    dlg->Show();
    EXPECT_TRUE(PumpUntil([&] { return dlg->IsShownOnScreen(); }));
    return dlg;
}

// A click on a toolbar button: only an enabled one can be pressed.
inline void Press(CTessarinDlg& dlg, int command)
{
    ASSERT_TRUE(dlg.m_toolBar.GetToolEnabled(command)) << "toolbar button " << command << " is disabled";
    wxCommandEvent click(wxEVT_TOOL, command);
    click.SetEventObject(&dlg.m_toolBar);
    dlg.m_toolBar.GetEventHandler()->ProcessEvent(click);
}

inline void PickPort(CTessarinDlg& dlg, int index)
{
    dlg.m_pComPortCombo->SetSelection(index);
    wxCommandEvent pick(wxEVT_CHOICE, dlg.m_pComPortCombo->GetId());
    pick.SetEventObject(dlg.m_pComPortCombo);
    pick.SetInt(index);
    dlg.m_pComPortCombo->GetEventHandler()->ProcessEvent(pick);
}

inline std::vector<std::string> PortEntries(const CTessarinDlg& dlg)
{
    std::vector<std::string> entries;
    for (unsigned i = 0; i < dlg.m_pComPortCombo->GetCount(); ++i)
        entries.push_back(dlg.m_pComPortCombo->GetString(i).utf8_string());
    return entries;
}

// The Node List as shown: each entry's text, then '@' and the address it carries in hex.
inline std::vector<std::string> NodeEntries(const CTessarinDlg& dlg)
{
    std::vector<std::string> entries;
    for (unsigned i = 0; i < dlg.m_nodeList->GetCount(); ++i)
        entries.push_back(dlg.m_nodeList->GetString(i).utf8_string() +
                          wxString::Format("@%lX", reinterpret_cast<wxUIntPtr>(dlg.m_nodeList->GetClientData(i))).utf8_string());
    return entries;
}

// The rows as log lines: tabs back to the file's separators.
inline std::vector<std::string> Rows(const CTessarinDlg& dlg)
{
    std::vector<std::string> rows;
    for (int i = 0; i < dlg.m_messageLog.GetRowCount(); ++i) {
        rows.emplace_back(dlg.m_messageLog.GetRowText(i));
        std::replace(rows.back().begin(), rows.back().end(), '\t', '|');
    }
    return rows;
}

// A log line as the engine forms it, at a fixed time.
inline std::string LogLine(bool sent, uint16_t addr, const char* name, const char* hex = "01 02 ")
{
    char line[LOG_LINE_SIZE];
    FormatLogLine(line, UtcTimeOfDay{12, 34, 56, 789}, sent, addr, name, hex);
    return line;
}

inline wxString Status(CTessarinDlg& dlg, int pane)
{
    return dlg.m_statusBar.GetStatusText(pane);
}

// A warning box that the user leaves open, the event loop running meanwhile as under a
// real box: until `until` holds, or for a moment when there is none.
class ExpectBoxLeftOpen : public wxExpectModalBase<wxMessageDialog, ExpectBoxLeftOpen> {
public:
    ExpectBoxLeftOpen(const wxString& text, std::function<bool()> until = {}) : m_text(text), m_until(std::move(until)) {}

protected:
    int OnInvoked(wxMessageDialog* dlg) const override
    {
        EXPECT_EQ(dlg->GetMessage(), m_text);
        EXPECT_EQ(dlg->GetMessageDialogStyle() & wxICON_MASK, wxICON_EXCLAMATION);
        if (m_until)
            EXPECT_TRUE(PumpUntil(m_until, 20000));
        else
            PumpFor(300);
        return wxID_OK;
    }
    wxString GetDefaultDescription() const override { return "message box \"" + m_text + "\" left open"; }

private:
    wxString m_text;
    std::function<bool()> m_until;
};
