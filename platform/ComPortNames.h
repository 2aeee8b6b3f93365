#pragma once
// COM port names ("COM1".."COM29") as the program shows, stores and opens them, and
// the probe that classifies a port for the port list. On Windows a name is the device;
// elsewhere it is resolved to a device here, the same way everywhere in the program:
//   - a symbolic link ${XDG_CONFIG_HOME:-$HOME/.config}/tessarin/ports/COM<n> wins
//     when it exists (even dangling: the port is then missing);
//   - else a USB serial device with a stable identity (<dev>/serial/by-id/<id>) that
//     was given a number keeps it (see AssignComPortNumbers);
//   - else COM1..COM4 are <dev>/ttyS0..3, COM5..COM12 <dev>/ttyUSB0..7 and
//     COM13..COM20 <dev>/ttyACM0..7, unless the device is another number's by its
//     identity; COM21..COM29 exist only as links.
// <dev> is /dev, or the folder in the environment variable TESSARIN_DEVICE_DIR, which
// lets tests keep away from real devices. All functions may be called from any thread.

#include <string>

enum PortStatus {
    PORT_AVAILABLE = 0,   // opened and closed again at once
    PORT_MISSING = 1,     // no such device
    PORT_IN_USE = 2,      // another opener holds it (on Windows also: access denied)
    PORT_NO_ACCESS = 3,   // exists, but this user lacks the permission (never on Windows)
    PORT_FAILED = -1,     // any other error
};

constexpr int FIRST_COM_PORT = 1;
constexpr int LAST_COM_PORT = 29;

// The port number of "COM<n>" with n in 1..29 written without leading zeros, else 0.
int ComPortNumber(const char* comName);

// The device a COM name opens, or "" when the name maps to none (anything but
// "COM<n>" with n in 1..29 without leading zeros, e.g. "COM3 (in use)").
std::string ComPortDevicePath(const char* comName);

// Classifies the port. On Windows it opens the device exclusively and closes it at once.
// Elsewhere it looks without opening where the system can tell (the device's node,
// modes and group, sysfs, lock files and holders), as an open raises and a close drops
// the modem lines, which resets boards wired to them; only a device sysfs does not know
// (a pseudo-terminal) is opened, without a change to its settings. A port held by any
// opener, this program's own capture included, is PORT_IN_USE.
PortStatus ProbeComPort(const char* comName);

// What stays the same when the device behind a name is unplugged and plugged in again:
// "by-id:<id>" for a device with a stable identity, else the path the name resolves to;
// "" when the name maps to none.
std::string ComPortIdentity(const char* comName);

// True for a USB serial device (a stable identity, or a ttyUSB or ttyACM device).
bool IsUsbSerialPort(const char* comName);

// "COM5: /dev/ttyUSB0, <product>" for a port (its text may carry a suffix): the device
// behind the name and the product name the USB device reports (or its identity); "" when
// the device is missing, and on Windows, where the name is the device.
std::string ComPortDescription(const char* portText);

// For a port (its text may carry a suffix, as "COM5 (no access)") this user may not open
// for lack of permission: one line that names the group to join; else "".
std::string ComPortAccessHint(const char* portText);

// The numbers of devices with a stable identity, as lines "COM<n>=<id>", for the
// settings store. Remembering sets the table in use (lines that do not parse are dropped).
std::string RememberedComPortNumbers();
void RememberComPortNumbers(const std::string& table);
// Gives each present device with a stable identity and no number one: its device's
// number from the fixed table when no other identity has it, else the lowest number of
// COM5..COM20 neither remembered nor present. True when the table changed.
bool AssignComPortNumbers();

// The folder devices are looked up in; "" on Windows.
std::string ComPortDeviceFolder();

// Folder of user-made links "COM<n>" -> device, which win over the fixed device table
// (empty on platforms that need none, or when no home folder is known).
std::string ComPortLinkFolder();
