// The File menu: the log file's name and the append mode, stored at once and used by
// the next capture.

#include "tests/nodecmds/CommandRig.h"

#include <wx/menu.h>

#include <algorithm>
#include <string>

#include "res/Resources.h"

namespace {

size_t CountLines(const std::string& file, const std::string& part)
{
    const std::vector<std::string> lines = ReadLines(file);
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

ExpectBox InvalidFileNameBox()
{
    return ExpectBox("Tessarin", "Invalid file name!", wxOK, wxICON_ERROR, wxID_OK);
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
    EXPECT_NO_DIALOG(m_dlg->OnXyRssiReq());
    EXPECT_TRUE(PumpUntil([&] { return CountLines(first, "XY_RSSI_REQ") == 1; }));
    EXPECT_FALSE(FileExists(second));

    EXPECT_NO_DIALOG(m_dlg->OnStopCapture());
    ASSERT_TRUE(StartCapture());
    EXPECT_NO_DIALOG(m_dlg->OnBlindFindReq());
    EXPECT_TRUE(PumpUntil([&] { return CountLines(second, "BLIND_FIND_REQ") == 1; }));
    EXPECT_EQ(CountLines(second, "XY_RSSI_REQ"), 0u);
    EXPECT_EQ(CountLines(first, "BLIND_FIND_REQ"), 0u);
    EXPECT_NO_DIALOG(m_dlg->OnStopCapture());

    // A name with an extension keeps it; Cancel changes nothing.
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(Folder("third.txt"), ExpectLogFileDialog::TYPE));
    EXPECT_EQ(m_dlg->m_strLogFile, Folder("third.txt"));
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

    // "No" brings the dialog back; a Cancel there leaves everything as it was.
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(Folder("kept"), ExpectLogFileDialog::TYPE),
                  ExpectBox(wxFileSelectorPromptStr, question, wxYES_NO, wxICON_WARNING, wxID_NO),
                  ExpectLogFileDialog("", ExpectLogFileDialog::CANCEL));
    EXPECT_EQ(m_dlg->m_strLogFile, "Tessarin.log");
    EXPECT_EQ(StoredLogFile(), "Tessarin.log");

    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(Folder("kept"), ExpectLogFileDialog::TYPE),
                  ExpectBox(wxFileSelectorPromptStr, question, wxYES_NO, wxICON_WARNING, wxID_YES));
    EXPECT_EQ(m_dlg->m_strLogFile, existing);
    EXPECT_EQ(StoredLogFile(), existing);
    // Choosing only names the file: the next capture decides what becomes of it.
    EXPECT_EQ(ReadLines(existing), std::vector<std::string>({"old lines"}));
}

TEST_F(LogFileOptionsTest, PathsTooLongToStoreOrEmptyAreRefusedAndNeverCut)
{
    OpenWindow();
    const std::string kept = Folder("kept.log");
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(kept));
    ASSERT_EQ(StoredLogFile(), kept);

    // 256 bytes fit the stored field exactly and come back whole.
    const std::string prefix = Folder("");
    const std::string fits = prefix + std::string(256 - prefix.size() - 4, 'f') + ".log";
    ASSERT_EQ(fits.size(), 256u);
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(fits));
    EXPECT_EQ(m_dlg->m_strLogFile, fits);
    EXPECT_EQ(StoredLogFile(), fits);
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(kept));

    // One more is refused: the window keeps the name it had, so it and the stored name
    // still agree.
    const std::string tooLong = prefix + std::string(257 - prefix.size() - 4, 'l') + ".log";
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(tooLong), InvalidFileNameBox());
    EXPECT_EQ(m_dlg->m_strLogFile, kept);
    EXPECT_EQ(StoredLogFile(), kept);
    // Fitting only as typed: the added extension makes it too long.
    const std::string typed = prefix + std::string(254 - prefix.size(), 't');
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(typed), InvalidFileNameBox());
    EXPECT_EQ(StoredLogFile(), kept);
    // The field holds bytes: 130 two-byte letters are 260 of them.
    wxString wide = wxString::FromUTF8(prefix);
    for (int i = 0; i < 130; ++i)
        wide += wxString::FromUTF8("\xC3\xA9");
    wide += ".log";
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog(wide), InvalidFileNameBox());
    EXPECT_EQ(m_dlg->m_strLogFile, kept);
    EXPECT_EQ(StoredLogFile(), kept);

    // An empty name: the window holds it, so the next start fails on it; the stored
    // name stays for the next run.
    wxTEST_DIALOG(m_dlg->OnLogFile(), ExpectLogFileDialog("", ExpectLogFileDialog::OK_WITH_NOTHING),
                  InvalidFileNameBox());
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
    wxMenuBar* menu = m_dlg->GetMenuBar();
    const int item = MenuItemId(ID_APPEND_TO_LOG_FILE);
    auto toggle = [&] {
        // The menu command as a click on the item delivers it.
        wxCommandEvent event(wxEVT_MENU, item);
        event.SetEventObject(m_dlg.get());
        EXPECT_NO_DIALOG(m_dlg->ProcessWindowEvent(event));
        menu = m_dlg->GetMenuBar();
    };
    auto capture = [&] {
        EXPECT_TRUE(StartCapture());
        EXPECT_NO_DIALOG(m_dlg->OnStopCapture());
    };
    EXPECT_FALSE(menu->IsChecked(item));

    capture();
    EXPECT_EQ(CountLines(log, "PING_REQUEST"), 1u);
    toggle();
    EXPECT_TRUE(menu->IsChecked(item));
    EXPECT_EQ(m_dlg->m_bAppendToLogFile, 1);
    EXPECT_EQ(StoredSettings()[14], "appendToLogFile=0x1");
    capture();
    EXPECT_EQ(CountLines(log, "PING_REQUEST"), 2u);

    // Remembered across a restart, and toggled back off.
    Restart();
    menu = m_dlg->GetMenuBar();
    EXPECT_TRUE(menu->IsChecked(item));
    toggle();
    EXPECT_FALSE(menu->IsChecked(item));
    EXPECT_EQ(m_dlg->m_bAppendToLogFile, 0);
    EXPECT_EQ(StoredSettings()[14], "appendToLogFile=0x0");
    capture();
    EXPECT_EQ(CountLines(log, "PING_REQUEST"), 1u);

    // Any other stored value counts as set, and its toggle clears it.
    StoreSettings([](CTessarinSettings& s) { s.m_nAppendToLogFile = 7; });
    Restart();
    menu = m_dlg->GetMenuBar();
    EXPECT_TRUE(menu->IsChecked(item));
    toggle();
    EXPECT_FALSE(menu->IsChecked(item));
    EXPECT_EQ(m_dlg->m_bAppendToLogFile, 0);
    EXPECT_EQ(StoredSettings()[14], "appendToLogFile=0x0");
    // Only the one value changed.
    EXPECT_EQ(StoredLogFile(), log);
}
