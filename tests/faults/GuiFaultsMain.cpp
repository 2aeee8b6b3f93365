// The window's fault harness: tests are listed without a display; only a run starts
// wxWidgets. Settings, port links and devices live in a private folder (FaultRig).

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/debug.h>
#include <wx/init.h>

#include <cstdio>

#include "tests/faults/FaultRig.h"

namespace {

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line) << "wxWidgets assertion in " << func << ": " << cond << " " << msg;
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    faultrig::PrivateRoot();
    wxApp::SetInstance(new wxApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        std::fprintf(stderr, "cannot start wxWidgets: is there a display?\n");
        return 1;
    }
    wxSetAssertHandler(FailOnAssert);   // an assertion box would wait for a click
    const int rc = RUN_ALL_TESTS();
    wxEntryCleanup();
    return rc;
}
