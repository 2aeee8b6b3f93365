#pragma once
// The dongle's serial port with the frame reader's receive area. Read and Write run
// under the port lock, so the capture thread and a sender never use the port at once.
// ReceiveFrame belongs to the capture thread. Open and Close belong to the thread that
// starts and stops the capture, while no capture thread exists, and to the capture
// thread, which closes a gone device and opens it again when it is back.

#include <cstdint>

#include "link/FrameReader.h"
#include "link/PortLock.h"
#include "platform/SerialPort.h"

class CComPort {
public:
    CComPort();
    virtual ~CComPort();

    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // Opens the named port exclusively with the dongle's settings and clears the receive
    // area; false (nothing left open) when the port is missing, held or not a port.
    bool Open(int maxDataLength, const char* portName, int baudRate);
    // True when it closed an open port.
    bool Close();
    // Up to count bytes; 0 once the read timeouts pass without data (at most about
    // 500 ms), and 0 at once when the device is gone. Any thread.
    int Read(uint8_t* buffer, int count);
    // Bytes written; fewer than count on failure. Any thread; waits for a running read.
    int Write(const uint8_t* buffer, int count);

    // Delivers at most one whole good frame (data into a 48-byte area); capture thread only.
    bool ReceiveFrame(int& command, int& length, uint8_t* data);
    // Writes count bytes of a built frame; the send failed unless the result is count.
    // Any thread.
    int SendFrame(int count, const uint8_t* frame);

    // True once the device has gone away (hang-up, unplugged) during this opening.
    bool IsGone() const;

private:
    CFrameReader m_reader;
    CSerialPort m_port;
    CPortLock m_lock;
    CFrameReader::ByteSource m_source;   // made once: no allocation per received frame
};
