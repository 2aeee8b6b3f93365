// Tests are listed without a display; only a run starts wxWidgets. Each test makes its
// own scratch folder for settings, port links and log files (CTestFolder); until then
// everything points at one made here, never at the real ~/.config or /dev.

#include "tests/dialogs/ModalTesting.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/init.h>

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

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    char scratch[] = "/tmp/tessarin-live-XXXXXX";
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

    int rc = 0;
    {
        // Outside every test's own hook, a box would wait for a click that never comes:
        // this one fails the test that opened it and cancels it.
        GTestModalHook anyDialog(__FILE__, __LINE__, "main");
        rc = RUN_ALL_TESTS();
    }

    wxEntryCleanup();
    std::filesystem::remove_all(scratch, ec);   // a leftover scratch folder harms nothing
    return rc;
}
