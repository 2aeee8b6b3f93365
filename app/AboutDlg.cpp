#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/image.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "res/Resources.h"

#ifndef TESSARIN_VERSION
#define TESSARIN_VERSION "1.0"
#endif

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, IDD_ABOUTBOX, "About Tessarin", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX)
{
    // IDD_ABOUTBOX: 235 x 55 dialog units.
    SetClientSize(ConvertDialogToPixels(wxSize(235, 55)));

    wxImage image;
    // Without its picture the box still says what it has to say.
    if (LoadIconImage(IDR_MAINFRAME, 32, &image))
        new wxStaticBitmap(this, wxID_ANY, wxBitmap(image), ConvertDialogToPixels(wxPoint(11, 17)));
    new wxStaticText(this, wxID_ANY, "Tessarin Version " TESSARIN_VERSION,
                     ConvertDialogToPixels(wxPoint(40, 10)), ConvertDialogToPixels(wxSize(119, 8)),
                     wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, "Monitor and control panel for a wireless location network",
                     ConvertDialogToPixels(wxPoint(40, 25)), ConvertDialogToPixels(wxSize(130, 20)));
    auto* ok = new wxButton(this, wxID_OK, "OK", ConvertDialogToPixels(wxPoint(178, 7)),
                            ConvertDialogToPixels(wxSize(50, 14)));
    ok->SetDefault();
    ok->SetFocus();
    SetEscapeId(wxID_OK);
    CentreOnParent();
}
