#include "sim/FrameScanner.h"

#include <cstring>

void CFrameScanner::Feed(const uint8_t* bytes, int count)
{
    if (m_nPos > 4096 && m_nPos * 2 > m_bytes.size()) {
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<long>(m_nPos));
        m_nPos = 0;
    }
    m_bytes.insert(m_bytes.end(), bytes, bytes + count);
}

bool CFrameScanner::Next(SimFrame& out)
{
    for (;;) {
        while (m_nPos < m_bytes.size() && m_bytes[m_nPos] != 0x02)
            ++m_nPos;
        const size_t held = m_bytes.size() - m_nPos;
        if (held < 4)
            return false;
        const uint8_t* p = &m_bytes[m_nPos];
        const int length = p[3];
        if (length > m_nMaxDataLength) {
            ++m_nPos;   // a false start byte
            continue;
        }
        if (held < static_cast<size_t>(length) + 5)
            return false;
        uint8_t x = 0;
        for (int i = 1; i < length + 5; ++i)
            x ^= p[i];
        if (x != 0) {
            ++m_nPos;   // a false start byte; a frame may begin inside it
            continue;
        }
        out.command = static_cast<uint16_t>(p[1] << 8 | p[2]);
        out.length = length;
        std::memcpy(out.data, p + 4, static_cast<size_t>(length));
        m_nPos += static_cast<size_t>(length) + 5;
        return true;
    }
}

void CFrameScanner::Reset()
{
    m_bytes.clear();
    m_nPos = 0;
}
