#pragma once
// The executable's resources: the numbers of dialogs, menus, bitmaps, icons, strings
// and controls, the embedded pictures and the string table. All data is constant and
// may be read from any thread.

#include <cstddef>

class wxImage;

enum : int {
    // Dialog templates
    IDD_ABOUTBOX = 100,
    IDD_TESSARIN_DIALOG = 102,

    // Icon, menu and toolbar bitmaps
    IDR_MAINFRAME = 128,
    IDR_MENU = 129,
    IDB_TOOLBAR = 135,            // normal and hot images
    IDB_TOOLBAR_DISABLED = 136,   // greyed images

    // Strings
    IDS_ABOUTBOX = 101,

    // The system-menu command of the about box
    IDM_ABOUTBOX = 0x0010,

    // Child windows of the main window
    IDC_STATUS_BAR = 103,
    IDC_TOOLBAR = 132,
    IDC_SEND_MESSAGE_GROUP = 1000,
    IDC_BLIND_FIND_REQ = 1001,
    IDC_XY_RSSI_REQ = 1002,
    IDC_SHOW_PARAMETERS = 1003,
    IDC_REF_CONF_REQ = 1005,
    IDC_REF_CONF = 1006,
    IDC_BLIND_CONF_REQ = 1007,
    IDC_BLIND_CONF = 1008,
    IDC_MESSAGE_LOG_GROUP = 1009,
    IDC_NODE_LIST_GROUP = 1010,
    IDC_SEPARATOR = 1011,
    IDC_NODE_LIST = 1041,
    // The Message Log's filter bar (Ctrl+F), its text and its "only matching" box
    IDC_FILTER_BAR = 1050,
    IDC_FILTER_TEXT = 1051,
    IDC_FILTER_ONLY = 1052,

    // Toolbar commands; each is also the number of its tooltip string
    ID_CLEAR_LOG = 32771,
    ID_START_CAPTURE = 32772,
    ID_STOP_CAPTURE = 32773,
    ID_PING = 32774,
    ID_REFRESH_COM_PORTS = 32775,

    // Menu commands
    ID_LOG_FILE = 32776,
    ID_APPEND_TO_LOG_FILE = 32777,
    ID_QUIT = 32778,

    // The COM port combo box's number, shared with "Log File ..."; a menu command and
    // a combo box notification never meet. The toolkit refuses window numbers from
    // 32767 up, so there the combo box is known by its window instead.
    IDC_COM_PORT_COMBO = 32776,

    // Timers
    ID_STATUS_TIMER = 104,
    ID_TOOLTIP_TIMER = 130,
};

// The toolkit refuses menu item numbers from 32767 up, so the menu carries each such
// command as its number less 0x8000 ("Log File ..." is item 8); events map it back.
constexpr int MenuItemId(int command)
{
    return command >= 0x8000 ? command - 0x8000 : command;
}

struct ResourceBytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

// The BMP file of bitmap resource id (135, 136); empty when there is none. Scale 2 gives
// the same pictures drawn at twice the size, for screens of twice the resolution.
ResourceBytes FindBitmapResource(int id, int scale = 1);

// The PNG file of icon resource id drawn at size x size pixels (16, 32, 48); empty
// when there is none.
ResourceBytes FindIconResource(int id, int size);

// Decodes icon resource id at size x size pixels; false when there is none or it
// does not decode. Belongs to the user-interface thread.
bool LoadIconImage(int id, int size, wxImage* image);

// The string table entry id (UTF-8); "" when there is none, as an empty entry reads.
const char* LoadStringResource(int id);
