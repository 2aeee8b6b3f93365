#pragma once
// COM port names ("COM1".."COM29") as the program shows, stores and opens them, and
// the probe that classifies a port for the port list. On Windows a name is the device;
// elsewhere it is resolved to a device here, the same way everywhere in the program.

#include <string>

enum PortStatus {
    PORT_AVAILABLE = 0,   // opened and closed again at once
    PORT_MISSING = 1,     // no such device
    PORT_IN_USE = 2,      // another opener holds it, or the user may not open it
    PORT_FAILED = -1,     // any other error
};

constexpr int FIRST_COM_PORT = 1;
constexpr int LAST_COM_PORT = 29;

// The device a COM name opens, or "" when the name maps to none (anything but
// "COM<n>" with n in 1..29, e.g. "COM3 (in use)").
std::string ComPortDevicePath(const char* comName);

// Opens the device exclusively and closes it at once, changing none of its settings.
PortStatus ProbeComPort(const char* comName);

// Folder of user-made links "COM<n>" -> device, which win over the fixed device table
// (empty on platforms that need none).
std::string ComPortLinkFolder();
