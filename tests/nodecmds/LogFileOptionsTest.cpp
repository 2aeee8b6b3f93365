// The File menu: the log file's name and the append mode, stored at once and used by
// the next capture.

#include "tests/nodecmds/CommandRig.h"

#include <wx/menu.h>

#include <algorithm>

#include "res/Resources.h"

namespace {

size_t CountLines(const std::string& file, const std::string& part)
{
    const Texts lines = ReadLines(file);
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(part) != std::string::npos;
    }));
}

std::string StoredLogFile()
{
    CTessarinSettings settings;
    settings.Load();
    return settings.m_szLogFile;
}

} // namespace

using LogFileOptionsTest = CommandRig;

TEST_F(LogFileOptionsTest, AChosenFileIsStoredAndTakenByTheNextCaptureNotTheRunningOne)
{
    const std::string first = Folder("first.log");
    const std::string second = Folder("second.log");
    ASSERT_TRUE(StartSimulator());
    OpenWindow();
    EXPECT_EQ(m_dlg->m_strLogFile, "Tessarin.log");

    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(first));
    EXPECT_EQ(m_dlg->m_strLogFile, first);
    EXPECT_EQ(StoredLogFile(), first);
    EXPECT_FALSE(FileExists(first));   // only a capture opens it
    ASSERT_TRUE(StartCapture());

    // A new name, typed without an extension, while the capture runs.
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(Folder("second"), ExpectLogFileDialog::TYPE));
    EXPECT_EQ(m_dlg->m_strLogFile, second);
    EXPECT_EQ(StoredLogFile(), second);
    m_dlg->OnXyRssiReq();
    EXPECT_TRUE(PumpUntil([&] { return CountLines(first, "XY_RSSI_REQ") == 1; }));
    EXPECT_FALSE(FileExists(second));

    m_dlg->OnStopCapture();
    ASSERT_TRUE(StartCapture());
    m_dlg->OnBlindFindReq();
    EXPECT_TRUE(PumpUntil([&] { return CountLines(second, "BLIND_FIND_REQ") == 1; }));
    EXPECT_EQ(CountLines(second, "XY_RSSI_REQ"), 0u);
    EXPECT_EQ(CountLines(first, "BLIND_FIND_REQ"), 0u);
    m_dlg->OnStopCapture();

    // A name with an extension keeps it; Cancel changes nothing, and a restart keeps it.
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(Folder("third.txt"), ExpectLogFileDialog::TYPE));
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog("", ExpectLogFileDialog::CANCEL));
    EXPECT_EQ(m_dlg->m_strLogFile, Folder("third.txt"));
    Restart();
    EXPECT_EQ(m_dlg->m_strLogFile, Folder("third.txt"));
}

TEST_F(LogFileOptionsTest, AnAddedExtensionThatNamesAnExistingFileIsConfirmedFirst)
{
    OpenWindow();
    const std::string existing = Folder("kept.log");
    WriteText(existing, "old lines\n");
    const wxString question = "A file named \"kept.log\" already exists. Do you want to replace it?";
    const auto confirm = [&](int answer) {
        return ExpectMessageBox(wxFileSelectorPromptStr, question, m_dlg.get(), wxYES_NO, wxICON_WARNING, answer);
    };

    // "No" brings the dialog back; a Cancel there leaves everything as it was.
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(Folder("kept"), ExpectLogFileDialog::TYPE), confirm(wxID_NO),
                  ExpectLogFileDialog("", ExpectLogFileDialog::CANCEL));
    EXPECT_EQ(m_dlg->m_strLogFile, "Tessarin.log");
    EXPECT_EQ(StoredLogFile(), "Tessarin.log");

    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(Folder("kept"), ExpectLogFileDialog::TYPE), confirm(wxID_YES));
    EXPECT_EQ(m_dlg->m_strLogFile, existing);
    EXPECT_EQ(StoredLogFile(), existing);
    // Choosing only names the file: the next capture decides what becomes of it.
    EXPECT_EQ(ReadLines(existing), Texts{"old lines"});
}

// A path longer than the stored field is refused rather than cut, which would name
// another file; the window keeps the name it had, so it and the stored name agree.
TEST_F(LogFileOptionsTest, PathsTooLongToStoreOrEmptyAreRefusedAndNeverCut)
{
    OpenWindow();
    const std::string kept = Folder("kept.log");
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(kept));
    ASSERT_EQ(StoredLogFile(), kept);
    const ExpectMessageBox refused("Tessarin", "Invalid file name!", m_dlg.get(), wxOK, wxICON_ERROR);

    // 256 bytes fit the stored field exactly and come back whole.
    const std::string prefix = Folder("");
    const std::string fits = prefix + std::string(256 - prefix.size() - 4, 'f') + ".log";
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(fits));
    EXPECT_EQ(StoredLogFile(), fits);
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(kept));

    // One byte more; a name that fits only as typed, before ".log" is added; and 130
    // two-byte letters, 260 bytes of the field.
    wxString wide = wxString::FromUTF8(prefix);
    for (int i = 0; i < 130; ++i)
        wide += wxString::FromUTF8("\xC3\xA9");
    const wxString tooLong[] = {prefix + std::string(257 - prefix.size() - 4, 'l') + ".log",
                                prefix + std::string(254 - prefix.size(), 't'), wide + ".log"};
    for (const wxString& path : tooLong) {
        wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(path), refused);
        EXPECT_EQ(m_dlg->m_strLogFile, kept);
        EXPECT_EQ(StoredLogFile(), kept);
    }

    // An empty name: the window holds it, so the next start fails on it; the stored
    // name stays for the next run.
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog("", ExpectLogFileDialog::OK_WITH_NOTHING), refused);
    EXPECT_EQ(m_dlg->m_strLogFile, "");
    EXPECT_EQ(StoredLogFile(), kept);
    Restart();
    EXPECT_EQ(m_dlg->m_strLogFile, kept);
}

TEST_F(LogFileOptionsTest, AppendTogglesItsCheckMarkAndStoredValueAndDecidesWhatACaptureKeeps)
{
    const std::string log = Folder("captures.log");
    StoreSettings([&](CTessarinSettings& s) { ASSERT_TRUE(s.SetLogFile(log.c_str())); });
    ASSERT_TRUE(StartSimulator());
    OpenWindow();
    const int item = MenuItemId(ID_APPEND_TO_LOG_FILE);
    // The menu command as a click on the item delivers it; then the item, the window
    // and the stored value must agree.
    auto toggleTo = [&](bool on) {
        SCOPED_TRACE(on ? "on" : "off");
        EXPECT_NE(m_dlg->GetMenuBar()->IsChecked(item), on);
        wxCommandEvent event(wxEVT_MENU, item);
        event.SetEventObject(m_dlg.get());
        m_dlg->ProcessWindowEvent(event);
        EXPECT_EQ(m_dlg->GetMenuBar()->IsChecked(item), on);
        EXPECT_EQ(m_dlg->m_bAppendToLogFile, on ? 1 : 0);
        EXPECT_EQ(StoredSettings()[14], on ? "appendToLogFile=0x1" : "appendToLogFile=0x0");
    };
    // A capture's log file then holds its PING and those of the captures it was appended to.
    auto captureLeaves = [&](size_t pings) {
        EXPECT_TRUE(StartCapture());
        m_dlg->OnStopCapture();
        EXPECT_EQ(CountLines(log, "PING_REQUEST"), pings);
    };

    captureLeaves(1);
    toggleTo(true);
    captureLeaves(2);
    // Remembered across a restart, and toggled back off.
    Restart();
    toggleTo(false);
    captureLeaves(1);

    // Any other stored value counts as set, and its toggle clears it; only the one value
    // changes.
    StoreSettings([](CTessarinSettings& s) { s.m_nAppendToLogFile = 7; });
    Restart();
    toggleTo(false);
    EXPECT_EQ(StoredLogFile(), log);
}
