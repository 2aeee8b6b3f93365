#pragma once
// COM port names ("COM1".."COM29") as the program shows, stores and opens them, and
// the probe that classifies a port for the port list. On Windows a name is the device;
// elsewhere it is resolved to a device here, the same way everywhere in the program:
//   - a symbolic link ${XDG_CONFIG_HOME:-$HOME/.config}/tessarin/ports/COM<n> wins
//     when it exists (even dangling: the port is then missing);
//   - else COM1..COM4 are <dev>/ttyS0..3, COM5..COM12 <dev>/ttyUSB0..7 and
//     COM13..COM20 <dev>/ttyACM0..7; COM21..COM29 exist only as links.
// <dev> is /dev, or the folder in the environment variable TESSARIN_DEVICE_DIR, which
// lets tests keep away from real devices. All functions may be called from any thread.

#include <string>

enum PortStatus {
    PORT_AVAILABLE = 0,   // opened and closed again at once
    PORT_MISSING = 1,     // no such device
    PORT_IN_USE = 2,      // another opener holds it, or the user may not open it
    PORT_FAILED = -1,     // any other error
};

constexpr int FIRST_COM_PORT = 1;
constexpr int LAST_COM_PORT = 29;

// The port number of "COM<n>" with n in 1..29 written without leading zeros, else 0.
int ComPortNumber(const char* comName);

// The device a COM name opens, or "" when the name maps to none (anything but
// "COM<n>" with n in 1..29 without leading zeros, e.g. "COM3 (in use)").
std::string ComPortDevicePath(const char* comName);

// Opens the device exclusively and closes it at once, changing none of its settings.
// A port held by any opener, this program's own capture included, is PORT_IN_USE.
PortStatus ProbeComPort(const char* comName);

// Folder of user-made links "COM<n>" -> device, which win over the fixed device table
// (empty on platforms that need none, or when no home folder is known).
std::string ComPortLinkFolder();
