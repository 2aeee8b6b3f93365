#include "sim/NoiseMaker.h"

#include <cstring>

#include "link/Frame.h"

namespace {

void AppendFrame(uint16_t command, const uint8_t* data, int length, std::vector<uint8_t>& out)
{
    uint8_t frame[255 + FRAME_OVERHEAD];
    const int size = BuildFrame(command, data, length, frame);
    out.insert(out.end(), frame, frame + size);
}

}   // namespace

void CNoiseMaker::MakePiece(std::vector<uint8_t>& noise, std::vector<std::vector<uint8_t>>& ignored)
{
    uint8_t data[64];
    switch (m_rng.Range(0, 5)) {
    case 0: {   // garbage, rich in start bytes
        const int count = m_rng.Range(1, 16);
        for (int i = 0; i < count; ++i)
            noise.push_back(m_rng.Chance(0.25) ? 0x02 : m_rng.Byte());
        break;
    }
    case 1: {   // a node message whose checksum is wrong
        const int n = m_rng.Range(0, 12);
        data[0] = 0xCB;
        data[1] = m_rng.Byte();
        data[2] = m_rng.Byte();
        data[3] = 0xCA;
        data[4] = static_cast<uint8_t>(m_rng.Range(0x11, 0x18));
        data[5] = 0;
        data[6] = static_cast<uint8_t>(n);
        for (int i = 0; i < n; ++i)
            data[7 + i] = m_rng.Byte();
        AppendFrame(CMD_DATA_INDICATION, data, 7 + n, noise);
        noise.back() ^= static_cast<uint8_t>(m_rng.Range(1, 255));
        break;
    }
    case 2: {   // a header claiming 49 data bytes, cut short
        const uint8_t header[] = {0x02, 0x10, 0x18, 49};
        noise.insert(noise.end(), header, header + 4);
        const int count = m_rng.Range(0, 4);
        for (int i = 0; i < count; ++i)
            noise.push_back(m_rng.Byte());
        break;
    }
    case 3: {   // a whole frame of 49 data bytes with a good checksum: still too long
        data[0] = 0xCB;
        data[1] = m_rng.Byte();
        data[2] = m_rng.Byte();
        data[3] = 0xCA;
        data[4] = 0x12;
        data[5] = 0;
        data[6] = 42;
        for (int i = 7; i < 49; ++i)
            data[i] = m_rng.Byte();
        AppendFrame(CMD_DATA_INDICATION, data, 49, noise);
        break;
    }
    case 4: {   // lone start bytes
        const int count = m_rng.Range(1, 3);
        for (int i = 0; i < count; ++i)
            noise.push_back(0x02);
        break;
    }
    default: {   // good frames the program must ignore
        static const uint16_t zeroLength[] = {CMD_PING_RESPONSE, CMD_DEV_INFO_RSP, CMD_DATA_INDICATION,
                                              CMD_DATA_REQUEST};
        std::vector<uint8_t> frame;
        if (m_rng.Chance(0.5)) {
            AppendFrame(zeroLength[m_rng.Range(0, 3)], nullptr, 0, frame);
        } else {
            const int n = m_rng.Range(1, 6);
            for (int i = 0; i < n; ++i)
                data[i] = m_rng.Byte();
            const uint16_t unknown[] = {0x1099, 0x0001, 0x2018, 0x1008};
            AppendFrame(unknown[m_rng.Range(0, 3)], data, n, frame);
        }
        noise.insert(noise.end(), frame.begin(), frame.end());
        ignored.push_back(frame);
        break;
    }
    }
}

bool CNoiseMaker::Harmless(const std::vector<uint8_t>& noise, const uint8_t* frame, int size,
                           const std::vector<std::vector<uint8_t>>& ignored)
{
    m_scanner.Reset();
    m_scanner.Feed(noise.data(), static_cast<int>(noise.size()));
    m_scanner.Feed(frame, size);
    SimFrame got;
    size_t index = 0;
    while (m_scanner.Next(got)) {
        const uint8_t* want;
        int wantSize;
        if (index < ignored.size()) {
            want = ignored[index].data();
            wantSize = static_cast<int>(ignored[index].size());
        } else if (index == ignored.size()) {
            want = frame;
            wantSize = size;
        } else {
            return false;
        }
        ++index;
        if (got.length + FRAME_OVERHEAD != wantSize || got.command != (want[1] << 8 | want[2]) ||
            std::memcmp(got.data, want + 4, static_cast<size_t>(got.length)) != 0)
            return false;
    }
    return index == ignored.size() + 1 && m_scanner.Pending() == 0;
}

void CNoiseMaker::AppendWithNoise(const uint8_t* frame, int size, std::vector<uint8_t>& out)
{
    if (m_rng.Chance(0.6)) {
        std::vector<uint8_t> noise;
        std::vector<std::vector<uint8_t>> ignored;
        for (int attempt = 0; attempt < 32; ++attempt) {
            noise.clear();
            ignored.clear();
            const int pieces = m_rng.Range(1, 3);
            for (int i = 0; i < pieces; ++i)
                MakePiece(noise, ignored);
            if (Harmless(noise, frame, size, ignored)) {
                out.insert(out.end(), noise.begin(), noise.end());
                m_nNoiseBytes += static_cast<long>(noise.size());
                break;
            }
        }
    }
    out.insert(out.end(), frame, frame + size);
}
