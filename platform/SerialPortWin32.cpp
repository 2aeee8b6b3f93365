#include "platform/SerialPort.h"

#include <atomic>
#include <string>

#include <windows.h>

#include "platform/ComPortNames.h"

namespace {

constexpr DWORD QUEUE_SIZE = 2048;
constexpr DWORD PURGE_ALL = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The errors a transfer meets once the device behind the handle is gone: a USB adapter
// unplugged, a driver that removed the port, a hung-up terminal under Wine (not ready).
bool IsGoneError(DWORD error)
{
    switch (error) {
    case ERROR_NOT_READY:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_IO_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

}   // namespace

struct CSerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB settings;
    std::atomic<bool> gone{false};

    // A pending line error (framing, overrun, parity) would stop the next transfer;
    // a device that is gone fails here first.
    void ClearLineErrors()
    {
        DWORD errors = 0;
        COMSTAT status;
        if (!ClearCommError(handle, &errors, &status) && IsGoneError(GetLastError()))
            gone = true;
    }
};

CSerialPort::CSerialPort() : m_pImpl(new Impl) {}

CSerialPort::~CSerialPort()
{
    Close();
    delete m_pImpl;
}

bool CSerialPort::Open(const char* comName, int baudRate)
{
    if (m_pImpl->handle != INVALID_HANDLE_VALUE)
        return false;
    const std::string path = ComPortDevicePath(comName);
    if (path.empty() || baudRate <= 0)
        return false;

    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;

    // Some drivers keep fixed queues and refuse other sizes; their own serve as well.
    (void)SetupComm(handle, QUEUE_SIZE, QUEUE_SIZE);
    // Stale bytes from before this opening are no use to the frame reader.
    (void)PurgeComm(handle, PURGE_ALL);

    COMMTIMEOUTS timeouts = {};
    (void)GetCommTimeouts(handle, &timeouts);   // every field is set below
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 500;
    timeouts.WriteTotalTimeoutMultiplier = 60;
    timeouts.WriteTotalTimeoutConstant = 2000;
    // Without these a read may wait for ever, and the capture could never be stopped.
    if (!SetCommTimeouts(handle, &timeouts)) {
        (void)CloseHandle(handle);
        return false;
    }

    DCB& dcb = m_pImpl->settings;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {   // not a serial device
        (void)CloseHandle(handle);
        return false;
    }
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 1;
    dcb.XoffLim = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(handle, &dcb)) {
        (void)CloseHandle(handle);
        return false;
    }

    m_pImpl->gone = false;
    m_pImpl->handle = handle;
    return true;
}

bool CSerialPort::Close()
{
    HANDLE handle = m_pImpl->handle;
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD errors = 0;
    COMSTAT status;
    (void)ClearCommError(handle, &errors, &status);   // only to unblock the purge
    if (!PurgeComm(handle, PURGE_ALL) && GetLastError() == ERROR_INVALID_HANDLE) {
        // Not ours to close any more; a later Open may still take a new one.
        m_pImpl->handle = INVALID_HANDLE_VALUE;
        return false;
    }
    // The handle is released whatever CloseHandle reports; retrying could close another.
    (void)CloseHandle(handle);
    m_pImpl->handle = INVALID_HANDLE_VALUE;
    return true;
}

bool CSerialPort::IsOpen() const
{
    return m_pImpl->handle != INVALID_HANDLE_VALUE;
}

bool CSerialPort::IsGone() const
{
    return m_pImpl->gone.load();
}

int CSerialPort::Read(uint8_t* buffer, int count)
{
    if (m_pImpl->handle == INVALID_HANDLE_VALUE || buffer == nullptr || count <= 0 || m_pImpl->gone)
        return 0;
    m_pImpl->ClearLineErrors();
    DWORD got = 0;
    if (!ReadFile(m_pImpl->handle, buffer, static_cast<DWORD>(count), &got, nullptr)) {
        if (IsGoneError(GetLastError()))
            m_pImpl->gone = true;
    } else if (got == 0) {
        // Some drivers let a read of a vanished device time out quietly; the line
        // status call then tells, so the owner learns it now rather than a read later.
        m_pImpl->ClearLineErrors();
    }
    return static_cast<int>(got);
}

int CSerialPort::Write(const uint8_t* buffer, int count)
{
    if (m_pImpl->handle == INVALID_HANDLE_VALUE || buffer == nullptr || count <= 0)
        return 0;
    m_pImpl->ClearLineErrors();
    DWORD written = 0;
    if (!WriteFile(m_pImpl->handle, buffer, static_cast<DWORD>(count), &written, nullptr) &&
        IsGoneError(GetLastError()))
        m_pImpl->gone = true;
    return static_cast<int>(written);
}
