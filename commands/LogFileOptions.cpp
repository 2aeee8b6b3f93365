#include "app/TessarinDlg.h"

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>

#include "app/settings/TessarinSettings.h"
#include "res/Resources.h"

namespace {

// "*.*" alone would hide names without a dot here, while "All files" must list them all.
const char kLogFileWildcard[] = "Tessarin Log files (*.log)|*.log|All files (*.*)|*.*;*";
const char kDefaultExtension[] = "log";

// The longest path the stored setting holds, in the bytes it is stored as.
constexpr size_t kMaxLogFilePath = TESSARIN_LOG_FILE_FIELD - 1;

bool HasExtension(const wxString& path)
{
    return wxFileName(path).HasExt();
}

// Runs the file dialog until a name is accepted; false when the user gave up. A name
// typed without an extension gets ".log", which this toolkit's dialog does not add
// itself; when that makes it the name of an existing file, the user confirms it as the
// dialog does for the names it sees.
bool ChooseLogFile(wxWindow* owner, wxString* pPath)
{
    for (;;) {
        // A new name must be accepted: only the saving kind of dialog does that here. It
        // can always be resized.
        wxFileDialog dlg(owner, wxFileSelectorPromptStr, wxString(), wxString(), kLogFileWildcard,
                         wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (dlg.ShowModal() != wxID_OK)
            return false;
        wxString path = dlg.GetPath();
        if (path.empty() || HasExtension(path)) {
            *pPath = path;
            return true;
        }
        path << "." << kDefaultExtension;
        if (wxFileName::Exists(path)) {
            const wxString question =
                wxString::Format("A file named \"%s\" already exists. Do you want to replace it?",
                                 wxFileName(path).GetFullName());
            // The chooser's own title, as the question belongs to it.
            if (wxMessageBox(question, wxFileSelectorPromptStr, wxYES_NO | wxNO_DEFAULT | wxICON_WARNING,
                             owner) != wxYES)
                continue;
        }
        *pPath = path;
        return true;
    }
}

}   // namespace

void CTessarinDlg::OnLogFile()
{
    wxString path;
    if (!ChooseLogFile(this, &path))
        return;

    wxWindow* const owner = IsShown() ? this : nullptr;
    const wxScopedCharBuffer utf8 = path.utf8_str();
    if (path.empty()) {
        // The next capture start then fails on the empty name and says so; the stored
        // name stays for the next run.
        m_strLogFile.clear();
        wxMessageBox("Invalid file name!", "Tessarin", wxOK | wxICON_ERROR, owner);
        return;
    }
    if (utf8.length() > kMaxLogFilePath) {
        // Cut to fit, it would name another file; the window keeps the name it had, so
        // that it and the stored name still agree.
        wxMessageBox("Invalid file name!", "Tessarin", wxOK | wxICON_ERROR, owner);
        return;
    }

    m_strLogFile.assign(utf8.data(), utf8.length());
    CTessarinSettings settings;
    // Unreadable settings leave the defaults, which are then written back with the name.
    settings.Load();
    settings.SetLogFile(m_strLogFile.c_str());   // fits: checked above
    // Not reported when it fails: the name still holds until the window closes.
    settings.Save();
}

void CTessarinDlg::OnAppendToLogFile()
{
    m_bAppendToLogFile = m_bAppendToLogFile == 0 ? 1 : 0;
    // Set whatever the toolkit did to the item on its own as it was clicked.
    if (wxMenuBar* menuBar = GetMenuBar())
        menuBar->Check(MenuItemId(ID_APPEND_TO_LOG_FILE), m_bAppendToLogFile == 1);

    CTessarinSettings settings;
    settings.Load();
    settings.m_nAppendToLogFile = m_bAppendToLogFile ? 1 : 0;
    settings.Save();
}
