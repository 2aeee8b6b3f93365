#pragma once
// The simulator's own reading of the frame rules: bytes in, whole good frames out,
// resynchronising on false start bytes exactly as the program's receive area does.
// It is deliberately independent of the program's reader: the simulator uses it to
// read what the program sends and to prove that the noise it adds can never hide or
// invent a frame on the program's side.

#include <cstddef>
#include <cstdint>
#include <vector>

struct SimFrame {
    uint16_t command = 0;
    int length = 0;
    uint8_t data[255] = {};
};

class CFrameScanner {
public:
    explicit CFrameScanner(int maxDataLength) : m_nMaxDataLength(maxDataLength) {}

    void Feed(const uint8_t* bytes, int count);
    // Delivers the next whole good frame; false when more bytes are needed first.
    bool Next(SimFrame& out);
    // Bytes held that no frame has consumed yet.
    int Pending() const { return static_cast<int>(m_bytes.size() - m_nPos); }
    void Reset();

private:
    int m_nMaxDataLength;
    std::vector<uint8_t> m_bytes;
    std::size_t m_nPos = 0;
};
