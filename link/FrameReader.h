#pragma once
// The frame reader: a receive area filled from any byte source, parsed into frames with
// resynchronisation on false start bytes. Used by the capture thread only.

#include <cstdint>
#include <functional>

#include "link/Frame.h"

class CFrameReader {
public:
    // Reads up to count bytes into buffer; returns the number read (0 when none came).
    using ByteSource = std::function<int(uint8_t* buffer, int count)>;

    CFrameReader();

    // Zeroes the area and its counts and sets the largest data field accepted (<= 48).
    void Reset(int maxDataLength);

    // One parse attempt; if none delivers, one read of up to maxDataLength bytes from
    // source and one more attempt. Delivers at most one good frame.
    bool ReceiveFrame(const ByteSource& source, int& command, int& length, uint8_t* data);

    int GetUnreadCount() const { return m_nUnreadCount; }

private:
    enum Attempt { DELIVERED, NEED_MORE, DROPPED_FALSE_START };
    // Parses until a frame is delivered or more bytes are needed.
    bool ParseFrame(int& command, int& length, uint8_t* data);
    Attempt ParseAttempt(int& command, int& length, uint8_t* data);

    int m_nMaxDataLength;
    uint8_t m_rxArea[RX_AREA_SIZE];
    int m_nFillCount;
    int m_nScanPosition;
    int m_nUnreadCount;
};
