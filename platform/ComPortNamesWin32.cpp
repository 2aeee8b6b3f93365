#include "platform/ComPortNames.h"

#include <cstring>

#include <windows.h>

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

    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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

std::string ComPortIdentity(const char* comName)
{
    return ComPortDevicePath(comName);   // Windows keeps a device's number itself
}

bool IsUsbSerialPort(const char*)
{
    return false;
}

std::string ComPortDescription(const char*)
{
    return std::string();
}

std::string ComPortAccessHint(const char*)
{
    return std::string();
}

std::string RememberedComPortNumbers()
{
    return std::string();
}

void RememberComPortNumbers(const std::string&) {}

bool AssignComPortNumbers()
{
    return false;
}

std::string ComPortDeviceFolder()
{
    return std::string();
}
