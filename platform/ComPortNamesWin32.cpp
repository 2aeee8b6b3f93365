#include "platform/ComPortNames.h"

#include <cstring>

#include <windows.h>

namespace {

// The port number of "COM<n>" with n in 1..29 written without leading zeros, else 0.
int ComPortNumber(const char* comName)
{
    if (comName == nullptr || std::strncmp(comName, "COM", 3) != 0)
        return 0;
    const char* digits = comName + 3;
    if (digits[0] < '1' || digits[0] > '9')
        return 0;
    int n = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || p - digits >= 2)
            return 0;
        n = n * 10 + (*p - '0');
    }
    return n >= FIRST_COM_PORT && n <= LAST_COM_PORT ? n : 0;
}

}  // namespace

std::string ComPortLinkFolder()
{
    return std::string();   // Windows names its ports itself
}

std::string ComPortDevicePath(const char* comName)
{
    const int n = ComPortNumber(comName);
    if (n == 0)
        return std::string();
    // The device namespace form: a plain "COM10" and above is not found, and a plain
    // name could open a file of that name in the current folder.
    return "\\\\.\\COM" + std::to_string(n);
}

PortStatus ProbeComPort(const char* comName)
{
    const std::string path = ComPortDevicePath(comName);
    if (path.empty())
        return PORT_MISSING;

    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        // Nothing was read or written, so a failed close loses nothing.
        (void)CloseHandle(handle);
        return PORT_AVAILABLE;
    }
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
        return PORT_MISSING;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:   // what some port drivers say when another holds it
        return PORT_IN_USE;
    default:
        return PORT_FAILED;
    }
}
