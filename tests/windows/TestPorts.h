#pragma once
// The COM ports that scripts/test-windows links in the Wine prefix's dosdevices folder
// before these tests run. Each far end is a pseudo-terminal on the Linux side.

#include <cstdint>

// The dongle simulator, started with the two addresses below.
constexpr const char* SIM_PORT = "COM21";
constexpr uint16_t SIM_SHORT_ADDR = 0x1A2B;
constexpr uint64_t SIM_IEEE_ADDR = 0x0123456789ABCDEFull;
// Sends every byte back.
constexpr const char* ECHO_PORT = "COM22";
// Hangs up once the first byte has come, like a dongle pulled out; one use each.
constexpr const char* HANGUP_PORT = "COM23";
constexpr const char* ENGINE_HANGUP_PORT = "COM25";
// A link to a device that does not exist.
constexpr const char* DANGLING_PORT = "COM24";
// Never linked.
constexpr const char* UNLINKED_PORTS[] = {"COM26", "COM27", "COM28", "COM29"};

constexpr const char* RUN_THROUGH_SCRIPT =
    "this port is prepared by scripts/test-windows: run the Windows tests through it";
