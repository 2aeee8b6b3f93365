// Tests are listed without a display; only a run starts wxWidgets. Settings, the
// toolkit's own state and COM port links go to a scratch folder, and COM names resolve
// to an empty device folder, so no test reaches the user's files or a real serial port.

#include "tests/support/GuiTesting.h"

#include <wx/init.h>

#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstdlib>

namespace {

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line) << "wxWidgets assertion in " << func << ": " << cond << " " << msg;
}

}   // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    PrivateRoot();
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
        rc = RUN_ALL_TESTS();
    }

    wxEntryCleanup();
    RemovePrivateRoot();
    return rc;
}
