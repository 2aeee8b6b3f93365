#pragma once
// A serial device opened by its COM name, exclusively, with the dongle's line settings:
// the given baud rate, 8 data bits, no parity, one stop bit, CTS output flow control,
// RTS asserted, DTR off, no software flow control, raw. Not thread-safe: its owner
// serialises every call (IsGone excepted, which any thread may ask).

#include <cstdint>

class CSerialPort {
public:
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // False when the name maps to no device, the device is held by another opener (in
    // this process or another), it is no serial device or cannot be configured, or this
    // object is open already; nothing is left open then. Modem lines the device lacks
    // (a pseudo-terminal) do not make it fail.
    bool Open(const char* comName, int baudRate);
    // True when it closed an open device.
    bool Close();
    bool IsOpen() const;

    // Returns when count bytes have come, 100 ms after the last byte once bytes have
    // begun, or 500 ms in all; the number read, 0 on timeout or failure. Once the device
    // is gone it returns 0 at once: a caller must not loop on it.
    int Read(uint8_t* buffer, int count);
    // Allows 60 ms per byte plus 2000 ms for the bytes to leave the port (not merely to
    // reach the driver); the number sent, fewer than count on timeout or failure, when
    // what did not leave is dropped.
    int Write(const uint8_t* buffer, int count);

    // True once the device has hung up or gone away (unplugged) since Open.
    bool IsGone() const;

private:
    struct Impl;
    Impl* m_pImpl;
};
