#include "link/ComPort.h"

CComPort::CComPort() : m_source([this](uint8_t* buffer, int count) { return Read(buffer, count); }) {}

CComPort::~CComPort()
{
    Close();
}

bool CComPort::Open(int maxDataLength, const char* portName, int baudRate)
{
    CPortLockGuard guard(m_lock, CPortLockGuard::WRITE);
    m_reader.Reset(maxDataLength);
    return m_port.Open(portName, baudRate);
}

bool CComPort::Close()
{
    // Under the lock, so a sender on another thread never writes to a closed or reused descriptor.
    CPortLockGuard guard(m_lock, CPortLockGuard::WRITE);
    return m_port.Close();
}

int CComPort::Read(uint8_t* buffer, int count)
{
    CPortLockGuard guard(m_lock, CPortLockGuard::READ);
    return m_port.Read(buffer, count);
}

int CComPort::Write(const uint8_t* buffer, int count)
{
    CPortLockGuard guard(m_lock, CPortLockGuard::WRITE);
    return m_port.Write(buffer, count);
}

bool CComPort::ReceiveFrame(int& command, int& length, uint8_t* data)
{
    return m_reader.ReceiveFrame(m_source, command, length, data);
}

int CComPort::SendFrame(int count, const uint8_t* frame)
{
    return Write(frame, count);
}

bool CComPort::IsGone() const
{
    return m_port.IsGone();
}
