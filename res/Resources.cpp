#include "res/Resources.h"

#include <wx/image.h>
#include <wx/mstream.h>

// Generated from the picture files (EmbedFiles.cmake).
extern const unsigned char kBitmap135[];
extern const size_t kBitmap135Size;
extern const unsigned char kBitmap136[];
extern const size_t kBitmap136Size;
extern const unsigned char kBitmap135x2[];
extern const size_t kBitmap135x2Size;
extern const unsigned char kBitmap136x2[];
extern const size_t kBitmap136x2Size;
extern const unsigned char kIcon128x16[];
extern const size_t kIcon128x16Size;
extern const unsigned char kIcon128x32[];
extern const size_t kIcon128x32Size;
extern const unsigned char kIcon128x48[];
extern const size_t kIcon128x48Size;

namespace {

struct StringEntry {
    int id;
    const char* text;
};

const StringEntry kStringTable[] = {
    {IDS_ABOUTBOX, "&About Tessarin..."},
    {ID_CLEAR_LOG, "Reset data in Message Log and Node List window."},
    {ID_START_CAPTURE, "Start reading data from the UART interface."},
    {ID_STOP_CAPTURE, "Stop capturing and close UART interface."},
    {ID_PING, "Send PING message to Location Dongle."},
    {ID_REFRESH_COM_PORTS, "Refresh COM port selection."},
};

}   // namespace

ResourceBytes FindBitmapResource(int id, int scale)
{
    ResourceBytes res;
    if (id == IDB_TOOLBAR) {
        res.data = scale == 2 ? kBitmap135x2 : kBitmap135;
        res.size = scale == 2 ? kBitmap135x2Size : kBitmap135Size;
    } else if (id == IDB_TOOLBAR_DISABLED) {
        res.data = scale == 2 ? kBitmap136x2 : kBitmap136;
        res.size = scale == 2 ? kBitmap136x2Size : kBitmap136Size;
    }
    if (scale != 1 && scale != 2)
        res = ResourceBytes();
    return res;
}

ResourceBytes FindIconResource(int id, int size)
{
    ResourceBytes res;
    if (id != IDR_MAINFRAME)
        return res;
    switch (size) {
    case 16:
        res.data = kIcon128x16;
        res.size = kIcon128x16Size;
        break;
    case 32:
        res.data = kIcon128x32;
        res.size = kIcon128x32Size;
        break;
    case 48:
        res.data = kIcon128x48;
        res.size = kIcon128x48Size;
        break;
    default:
        break;
    }
    return res;
}

const char* LoadStringResource(int id)
{
    for (const StringEntry& entry : kStringTable) {
        if (entry.id == id)
            return entry.text;
    }
    return "";
}

bool LoadIconImage(int id, int size, wxImage* image)
{
    const ResourceBytes png = FindIconResource(id, size);
    if (!png.data)
        return false;
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream stream(png.data, png.size);
    return image->LoadFile(stream, wxBITMAP_TYPE_PNG);
}
