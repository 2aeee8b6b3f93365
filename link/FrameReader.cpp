#include "link/FrameReader.h"

#include <cstring>

CFrameReader::CFrameReader()
    : m_nMaxDataLength(0), m_rxArea{}, m_nFillCount(0), m_nScanPosition(0), m_nUnreadCount(0)
{
}

void CFrameReader::Reset(int maxDataLength)
{
    if (maxDataLength < 0)
        maxDataLength = 0;
    if (maxDataLength > MAX_RX_DATA_LENGTH)
        maxDataLength = MAX_RX_DATA_LENGTH;
    m_nMaxDataLength = maxDataLength;
    std::memset(m_rxArea, 0, sizeof m_rxArea);
    m_nFillCount = 0;
    m_nScanPosition = 0;
    m_nUnreadCount = 0;
}

bool CFrameReader::ParseFrame(int& command, int& length, uint8_t* data)
{
    // A false start byte only costs itself: parsing goes straight on with the bytes
    // already held, so a good frame behind noise never waits for another port read.
    for (;;) {
        switch (ParseAttempt(command, length, data)) {
        case DELIVERED:
            return true;
        case NEED_MORE:
            return false;
        case DROPPED_FALSE_START:
            break;
        }
    }
}

CFrameReader::Attempt CFrameReader::ParseAttempt(int& command, int& length, uint8_t* data)
{
    // Noise is dropped in one sweep: memchr is far quicker than a byte loop on long runs.
    const int limit = m_nFillCount < RX_AREA_SIZE ? m_nFillCount : RX_AREA_SIZE;
    if (m_nScanPosition < limit && m_rxArea[m_nScanPosition] != FRAME_START) {
        const void* start = std::memchr(m_rxArea + m_nScanPosition, FRAME_START,
                                        static_cast<size_t>(limit - m_nScanPosition));
        const int next = start ? static_cast<int>(static_cast<const uint8_t*>(start) - m_rxArea) : limit;
        m_nUnreadCount -= next - m_nScanPosition;
        m_nScanPosition = next;
    }
    if (m_nScanPosition >= limit)
        return NEED_MORE;

    const int p = m_nScanPosition;
    if (p + 3 >= m_nFillCount)
        return NEED_MORE;   // header not complete yet

    const int frameLength = m_rxArea[p + 3];
    if (frameLength > m_nMaxDataLength) {
        ++m_nScanPosition;   // a false start byte
        --m_nUnreadCount;
        return DROPPED_FALSE_START;
    }
    if (p + frameLength + 4 >= m_nFillCount)
        return NEED_MORE;   // frame not complete yet

    if (ComputeFcs(frameLength + 4, m_rxArea + p + 1) != 0) {
        // Only the start byte goes: a real frame may begin inside the false one.
        ++m_nScanPosition;
        --m_nUnreadCount;
        return DROPPED_FALSE_START;
    }

    command = m_rxArea[p + 1] * 256 + m_rxArea[p + 2];
    length = frameLength;
    if (frameLength > 0)
        std::memcpy(data, m_rxArea + p + 4, static_cast<size_t>(frameLength));
    m_nScanPosition += frameLength + FRAME_OVERHEAD;
    m_nUnreadCount -= frameLength + FRAME_OVERHEAD;
    return DELIVERED;
}

bool CFrameReader::ReceiveFrame(const ByteSource& source, int& command, int& length, uint8_t* data)
{
    if (ParseFrame(command, length, data))
        return true;

    if (m_nScanPosition > 0) {
        if (m_nUnreadCount > 0)
            std::memmove(m_rxArea, m_rxArea + m_nScanPosition, static_cast<size_t>(m_nUnreadCount));
        m_nFillCount = m_nUnreadCount;
        m_nScanPosition = 0;
    }

    // A stream of false start bytes can keep more unread than the area holds: the
    // oldest unread bytes make room for the read, so nothing is ever written past it.
    const int room = RX_AREA_SIZE - m_nFillCount;
    if (room < m_nMaxDataLength) {
        const int drop = m_nMaxDataLength - room;
        std::memmove(m_rxArea, m_rxArea + drop, static_cast<size_t>(m_nFillCount - drop));
        m_nFillCount -= drop;
        m_nUnreadCount -= drop;
    }

    int got = m_nMaxDataLength > 0 ? source(m_rxArea + m_nFillCount, m_nMaxDataLength) : 0;
    if (got < 0)
        got = 0;
    if (got > m_nMaxDataLength)
        got = m_nMaxDataLength;
    m_nFillCount += got;
    m_nUnreadCount += got;

    return ParseFrame(command, length, data);
}
