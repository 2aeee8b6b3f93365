#include <wx/app.h>
#include <wx/utils.h>

#include "app/TessarinDlg.h"

// The application: runs the main window as its one modal dialog and ends with it.
class CTessarinApp : public wxApp {
public:
    CTessarinApp()
    {
        // Scroll bars that stay visible, as the Message Log's position and extent are
        // read from them; GTK would otherwise hide them until the pointer comes near.
        // Read when the toolkit starts, which is after this; a user's own choice stays.
        if (!wxGetEnv("GTK_OVERLAY_SCROLLING", nullptr))
            wxSetEnv("GTK_OVERLAY_SCROLLING", "0");
    }

    bool OnInit() override { return true; }

    int OnRun() override
    {
        {
            CTessarinDlg dlg;
            SetTopWindow(&dlg);
            dlg.DoModal();
            SetTopWindow(nullptr);
        }
        // Whatever the dialog left for deletion goes before the toolkit does.
        DeletePendingObjects();
        return 0;
    }
};

wxIMPLEMENT_APP(CTessarinApp);
