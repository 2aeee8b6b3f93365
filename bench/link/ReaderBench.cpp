// Frame reader throughput on a noisy byte stream held in memory: good frames of every
// length with plain noise, false start bytes, length-49 headers and bad checksums
// between them, handed to the reader in pieces as a port would.
//   tessarin-bench-reader [megabytes] [rounds]
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "link/FrameReader.h"

namespace {

std::vector<uint8_t> MakeStream(size_t size, size_t& goodFrames)
{
    std::mt19937 rng(42);
    std::vector<uint8_t> s;
    s.reserve(size + 256);
    goodFrames = 0;
    auto noise = [&] {
        uint8_t b;
        do
            b = static_cast<uint8_t>(rng());
        while (b == FRAME_START);
        return b;
    };
    uint8_t frame[64];
    uint8_t data[48];
    while (s.size() < size) {
        switch (rng() % 4) {
        case 0:
            for (int k = static_cast<int>(rng() % 24); k > 0; --k)
                s.push_back(noise());
            break;
        case 1:
            s.insert(s.end(), {FRAME_START, noise(), noise(), 49});
            break;
        case 2: {
            int n = static_cast<int>(rng() % 20);
            if (n == FRAME_START)
                n = 3;   // a length byte of 0x02 would be a start byte inside the frame
            for (int k = 0; k < n; ++k)
                data[k] = noise();
            const int size = BuildFrame(0x1018, data, n, frame);
            frame[size - 1] ^= 0x41;   // bad checksum, never 0x02 inside
            if (frame[size - 1] == FRAME_START)
                frame[size - 1] = 0x03;
            s.insert(s.end(), frame, frame + size);
            break;
        }
        default:
            break;
        }
        const int n = static_cast<int>(rng() % 49);
        for (int k = 0; k < n; ++k)
            data[k] = static_cast<uint8_t>(rng());
        const int size = BuildFrame(0x1018, data, n, frame);
        s.insert(s.end(), frame, frame + size);
        ++goodFrames;
    }
    return s;
}

}   // namespace

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    size_t goodFrames = 0;
    const std::vector<uint8_t> stream = MakeStream(megabytes * 1024 * 1024, goodFrames);

    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        CFrameReader reader;
        reader.Reset(MAX_RX_DATA_LENGTH);
        size_t at = 0;
        CFrameReader::ByteSource source = [&](uint8_t* buffer, int count) {
            const size_t n = std::min(static_cast<size_t>(count), stream.size() - at);
            std::memcpy(buffer, stream.data() + at, n);
            at += n;
            return static_cast<int>(n);
        };
        size_t delivered = 0;
        int command, length;
        uint8_t data[48];
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        int idle = 0;
        while (idle < 4) {
            if (reader.ReceiveFrame(source, command, length, data))
                ++delivered;
            else if (at == stream.size())
                ++idle;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const double megabytesRead = static_cast<double>(stream.size()) / (1024.0 * 1024.0);
        // CPU time is the steadier figure on a machine that others share.
        const double mbps = megabytesRead / (cpuSeconds > 0 ? cpuSeconds : seconds);
        if (mbps > best)
            best = mbps;
        std::printf(
            "round %d: %.1f MB/s of CPU time (%.1f MB/s wall), %.2f M frames/s, "
            "%zu of %zu good frames delivered\n",
            round + 1, mbps, megabytesRead / seconds, static_cast<double>(delivered) / seconds / 1e6,
            delivered, goodFrames);
        if (delivered != goodFrames) {
            std::printf("frames lost or invented\n");
            return 1;
        }
    }
    std::printf("frame reader: %zu MB noisy stream, best %.1f MB/s (target 200 MB/s)\n", megabytes, best);

    // The worst stream: false starts whose 48-byte frames must each be whole before they
    // fail, so unread bytes pile up until the area is full and the oldest are dropped.
    std::vector<uint8_t> worst;
    while (worst.size() < 8u * 1024 * 1024)
        worst.insert(worst.end(), {FRAME_START, 0x01, 0x01, 0x30});
    CFrameReader reader;
    reader.Reset(MAX_RX_DATA_LENGTH);
    size_t at = 0;
    CFrameReader::ByteSource source = [&](uint8_t* buffer, int count) {
        const size_t n = std::min(static_cast<size_t>(count), worst.size() - at);
        std::memcpy(buffer, worst.data() + at, n);
        at += n;
        return static_cast<int>(n);
    };
    int command, length;
    uint8_t data[48];
    const auto start = std::chrono::steady_clock::now();
    while (at < worst.size())
        reader.ReceiveFrame(source, command, length, data);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("frame reader: 8 MB of false starts filling the area, %.1f MB/s\n",
                static_cast<double>(worst.size()) / (1024.0 * 1024.0) / seconds);
    return 0;
}
