#include "link/Frame.h"

#include <cstring>

uint8_t ComputeFcs(int count, const uint8_t* bytes)
{
    uint8_t fcs = 0;
    for (int i = 0; i < count; ++i)
        fcs ^= bytes[i];
    return fcs;
}

int BuildFrame(uint16_t command, const uint8_t* data, int length, uint8_t* out)
{
    out[0] = FRAME_START;
    out[1] = static_cast<uint8_t>(command >> 8);
    out[2] = static_cast<uint8_t>(command & 0xFF);
    out[3] = static_cast<uint8_t>(length);
    if (length > 0)
        std::memcpy(out + 4, data, static_cast<size_t>(length));
    out[4 + length] = ComputeFcs(length + 3, out + 1);
    return length + FRAME_OVERHEAD;
}
