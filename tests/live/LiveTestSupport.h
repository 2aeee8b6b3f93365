#pragma once
// What the live-capture tests share: the modal hook, the window made and shown, toolbar
// presses as a user makes them, and log lines in the form the engine writes them.

#include "tests/dialogs/ModalTesting.h"

#include <wx/choice.h>
#include <wx/listbox.h>

#include <memory>
#include <string>
#include <vector>

#include "app/TessarinDlg.h"
#include "link/LogLine.h"
#include "res/Resources.h"

// Runs code with the modal hook in place and no dialog expected: one that opens anyway is
// a test failure, and is cancelled instead of waiting for a user.
#define EXPECT_NO_DIALOG(code)                                                           \
    do {                                                                                 \
        GTestModalHook noDialogHook(__FILE__, __LINE__, __func__);                       \
        code;                                                                            \
        noDialogHook.CheckUnmetExpectations();                                           \
    } while (0)

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

// A pick in the COM port list, as the list reports it.
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

struct NodeEntry {
    std::string text;
    unsigned long addr;
    bool operator==(const NodeEntry& o) const { return text == o.text && addr == o.addr; }
};

inline std::ostream& operator<<(std::ostream& os, const NodeEntry& e)
{
    return os << "\"" << e.text << "\" (0x" << std::hex << e.addr << std::dec << ")";
}

// The Node List as shown: entry texts and the address each carries.
inline std::vector<NodeEntry> NodeEntries(const CTessarinDlg& dlg)
{
    std::vector<NodeEntry> entries;
    for (unsigned i = 0; i < dlg.m_nodeList->GetCount(); ++i)
        entries.push_back({dlg.m_nodeList->GetString(i).utf8_string(),
                           static_cast<unsigned long>(reinterpret_cast<wxUIntPtr>(dlg.m_nodeList->GetClientData(i)))});
    return entries;
}

inline std::vector<std::string> Rows(const CTessarinDlg& dlg)
{
    std::vector<std::string> rows;
    for (int i = 0; i < dlg.m_messageLog.GetRowCount(); ++i)
        rows.emplace_back(dlg.m_messageLog.GetRowText(i));
    return rows;
}

// A log line as the engine forms it, at a fixed time.
inline std::string LogLine(bool sent, uint16_t addr, const char* name, const char* hex = "01 02 ")
{
    char line[LOG_LINE_SIZE];
    UtcTimeOfDay t;
    t.nHour = 12;
    t.nMinute = 34;
    t.nSecond = 56;
    t.nMillisecond = 789;
    FormatLogLine(line, t, sent, addr, name, hex);
    return line;
}

inline std::string TabForm(std::string line)
{
    for (char& c : line) {
        if (c == '|')
            c = '\t';
    }
    return line;
}

inline wxString StatusText(CTessarinDlg& dlg, int pane)
{
    return dlg.m_statusBar.GetStatusText(pane);
}
