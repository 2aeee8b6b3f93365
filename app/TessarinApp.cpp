#include <wx/app.h>

#include "app/TessarinDlg.h"

// The application: runs the main window as its one modal dialog and ends with it.
class CTessarinApp : public wxApp
{
public:
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
