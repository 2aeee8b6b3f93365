#pragma once
// The dongle's serial port with the frame reader's receive area. Read and Write run
// under the port lock, so the capture thread and a sender never use the port at once.
// ReceiveFrame belongs to the capture thread; Open and Close to the thread that starts
// and stops the capture, while no capture thread exists.

#include <cstdint>
#include <mutex>

#include "link/FrameReader.h"
#include "platform/SerialPort.h"

class CComPort {
public:
    CComPort();
    virtual ~CComPort();

    // Opens the named port exclusively with the dongle's settings; clears the receive area.
    bool Open(int maxDataLength, const char* portName, int baudRate);
    // True when it closed an open port.
    bool Close();
    // Up to count bytes; 0 once the read timeouts pass without data.
    int Read(uint8_t* buffer, int count);
    // Bytes written; fewer than count on failure.
    int Write(const uint8_t* buffer, int count);

    // Delivers at most one whole good frame (data into a 48-byte area).
    bool ReceiveFrame(int& command, int& length, uint8_t* data);
    // Writes count bytes of a built frame; the send failed unless the result is count.
    int SendFrame(int count, const uint8_t* frame);

    // True once the device has gone away (hang-up, unplugged) during this opening.
    bool IsGone() const;

private:
    CFrameReader m_reader;
    CSerialPort m_port;
    std::mutex m_lock;
};
