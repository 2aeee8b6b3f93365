// Tests are listed without a display; only a run starts wxWidgets. The toolkit's own
// state (file chooser history, recent files) goes to a scratch folder, never to the
// user's; each test then points the settings and COM port links at a folder of its own.

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

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

    char scratch[] = "/tmp/tessarin-nodecmds-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("mkdtemp");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("XDG_DATA_HOME", scratch, 1);
    setenv("XDG_CACHE_HOME", scratch, 1);
    // No desktop settings daemon here: keep the chooser's settings in memory.
    setenv("GSETTINGS_BACKEND", "memory", 1);

    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets: is there a display?\n");
        return 1;
    }
    // An assertion box would wait for a click that never comes.
    wxSetAssertHandler(FailOnAssert);

    const int rc = RUN_ALL_TESTS();
    wxEntryCleanup();
    std::error_code ignored;   // a leftover scratch folder in /tmp harms nothing
    std::filesystem::remove_all(scratch, ignored);
    return rc;
}
