#pragma once
// Line noise for the frames the simulator sends: garbage, false start bytes, frames with
// a bad checksum, headers with a length of 49 (complete or not) and good frames that the
// program must ignore (length 0, unknown commands). Every piece is checked against our
// own reading of the frame rules before it goes out, so the noise can never hide a good
// frame, invent one, or leave one waiting for bytes that may not come: each good frame
// still reaches the program once and in order.

#include <cstdint>
#include <vector>

#include "sim/FrameScanner.h"
#include "sim/SimRandom.h"

class CNoiseMaker {
public:
    explicit CNoiseMaker(CSimRandom& rng) : m_rng(rng), m_scanner(48) {}

    // Appends some proven-harmless noise (or none) and then the frame to out.
    void AppendWithNoise(const uint8_t* frame, int size, std::vector<uint8_t>& out);

    long NoiseBytes() const { return m_nNoiseBytes; }

private:
    void MakePiece(std::vector<uint8_t>& noise, std::vector<std::vector<uint8_t>>& ignored);
    bool Harmless(const std::vector<uint8_t>& noise, const uint8_t* frame, int size,
                  const std::vector<std::vector<uint8_t>>& ignored);

    CSimRandom& m_rng;
    CFrameScanner m_scanner;
    long m_nNoiseBytes = 0;
};
