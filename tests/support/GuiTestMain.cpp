// Tests are listed without a display; only a run starts wxWidgets. Settings, the
// toolkit's own state and COM port links go to a scratch folder, and COM names resolve
// to an empty device folder, so no test reaches the user's files or a real serial port.

#include "tests/support/GuiTesting.h"

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

GTestModalHook* anyDialog = nullptr;

} // namespace

RealModalLoops::RealModalLoops()
{
    anyDialog->Unregister();
}

RealModalLoops::~RealModalLoops()
{
    anyDialog->Register();
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    char scratch[] = "/tmp/tessarin-gui-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string devices = std::string(scratch) + "/dev";
    std::error_code ec;
    std::filesystem::create_directory(devices, ec);
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        setenv(var, scratch, 1);
    setenv("TESSARIN_DEVICE_DIR", devices.c_str(), 1);
    // No desktop settings daemon here: the file chooser keeps its settings in memory.
    setenv("GSETTINGS_BACKEND", "memory", 1);

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
        // So would a dialog that no test expects: it fails the test and is cancelled.
        GTestModalHook hook(__FILE__, __LINE__, "main");
        anyDialog = &hook;
        rc = RUN_ALL_TESTS();
    }

    wxEntryCleanup();
    std::filesystem::remove_all(scratch, ec);   // a leftover scratch folder harms nothing
    return rc;
}
