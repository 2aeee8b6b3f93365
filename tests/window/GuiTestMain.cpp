// Tests are listed without a display; only a run starts wxWidgets. Settings go to a
// scratch folder, never to the real ~/.config, and COM names resolve to an empty device
// folder, so no test probes a real serial port.

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/dialog.h>
#include <wx/init.h>
#include <wx/modalhook.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line) << "wxWidgets assertion in " << func << ": " << cond << " " << msg;
}

// Outside wxTEST_DIALOG a dialog would wait for a click forever: it fails the test and
// is cancelled instead.
class CancelUnexpectedDialogs : public wxModalDialogHook {
protected:
    int Enter(wxDialog* dialog) override
    {
        ADD_FAILURE() << "unexpected modal dialog: " << dialog->GetTitle().utf8_string();
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    char scratch[] = "/tmp/tessarin-window-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string devices = std::string(scratch) + "/dev";
    std::error_code ec;
    std::filesystem::create_directory(devices, ec);
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("TESSARIN_DEVICE_DIR", devices.c_str(), 1);

    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets: is there a display?\n");
        return 1;
    }
    // An assertion box would wait for a click that never comes.
    wxSetAssertHandler(FailOnAssert);
    CancelUnexpectedDialogs hook;
    hook.Register();

    const int rc = RUN_ALL_TESTS();

    hook.Unregister();

    wxEntryCleanup();
    std::filesystem::remove_all(scratch, ec);   // a leftover scratch folder harms nothing
    return rc;
}
