// The frame reader against a byte source that hands the stream over in pieces of the
// fuzzer's choosing, some of them empty (a read that timed out). Whatever the pieces,
// the frames delivered must be those a plain scan of the whole stream finds.
//
// Input: byte 0 picks the largest data field (below 128: 48, as while capturing),
// byte 1 the number of piece sizes that follow (up to 15), each size % 50 (0 is a read
// that timed out); the rest is the stream.

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "link/FrameReader.h"

namespace {

struct Delivered {
    int command;
    std::vector<uint8_t> data;
    bool operator==(const Delivered& o) const { return command == o.command && data == o.data; }
};

// The reader's rules over a stream held whole, as if the receive area were endless.
std::vector<Delivered> ScanWhole(const uint8_t* s, size_t n, int maxData)
{
    std::vector<Delivered> frames;
    size_t p = 0;
    while (p < n) {
        if (s[p] != FRAME_START || p + 3 >= n) {
            if (s[p] == FRAME_START)
                break;   // the stream ends inside a header
            ++p;
            continue;
        }
        const int length = s[p + 3];
        if (length > maxData) {
            ++p;
            continue;
        }
        if (p + length + 4 >= n)
            break;   // the stream ends inside this frame
        uint8_t fcs = 0;
        for (size_t i = p + 1; i <= p + length + 4; ++i)
            fcs ^= s[i];
        if (fcs != 0) {
            ++p;
            continue;
        }
        frames.push_back({s[p + 1] * 256 + s[p + 2],
                          std::vector<uint8_t>(s + p + 4, s + p + 4 + length)});
        p += length + FRAME_OVERHEAD;
    }
    return frames;
}

// True when every frame occurs in the stream whole, in order and without overlap.
bool InStreamInOrder(const std::vector<Delivered>& frames, const uint8_t* s, size_t n)
{
    size_t from = 0;
    for (const Delivered& f : frames) {
        std::vector<uint8_t> bytes(f.data.size() + FRAME_OVERHEAD);
        BuildFrame(static_cast<uint16_t>(f.command), f.data.data(), static_cast<int>(f.data.size()),
                   bytes.data());
        bool found = false;
        for (; from + bytes.size() <= n; ++from) {
            if (std::memcmp(s + from, bytes.data(), bytes.size()) == 0) {
                found = true;
                from += bytes.size();
                break;
            }
        }
        if (!found)
            return false;
    }
    return true;
}

}  // namespace

TESSARIN_FUZZ_TARGET(FrameReader)
{
    CFuzzInput in(data, size);
    const uint8_t pick = in.Byte();
    const int maxData = pick < 128 ? MAX_RX_DATA_LENGTH : (pick - 128) % (MAX_RX_DATA_LENGTH + 1);
    std::vector<int> pieces(in.Byte() % 16);
    bool anyData = false;
    for (int& piece : pieces) {
        piece = in.Byte() % 50;
        anyData = anyData || piece > 0;
    }
    if (!anyData)
        pieces.clear();   // only timeouts would never end
    const uint8_t* stream = in.Rest();
    const size_t streamSize = in.RestSize();

    static CFrameReader reader;   // 8 KiB: made once, reset per input as each capture does
    reader.Reset(maxData);

    size_t fed = 0;
    size_t nextPiece = 0;
    bool askedTooMuch = false;
    const CFrameReader::ByteSource source = [&](uint8_t* buffer, int count) {
        if (count > maxData)
            askedTooMuch = true;
        int want = count;
        if (!pieces.empty())
            want = pieces[nextPiece++ % pieces.size()];
        const size_t left = streamSize - fed;
        const int n = static_cast<int>(std::min<size_t>(std::min(want, count), left));
        std::memcpy(buffer, stream + fed, static_cast<size_t>(n));
        fed += static_cast<size_t>(n);
        return n;
    };

    // The caller's area is 48 bytes; what lies after it must stay untouched.
    constexpr int kGuard = 16;
    uint8_t area[MAX_RX_DATA_LENGTH + kGuard];
    std::memset(area, 0xA5, sizeof area);

    std::vector<Delivered> got;
    bool mayHaveDropped = false;
    const size_t callLimit = (streamSize + 8) * (pieces.size() + 2) * 2;
    size_t calls = 0;
    for (;;) {
        const int unreadBefore = reader.GetUnreadCount();
        // Only a call that starts this full can have made room by dropping old bytes.
        if (unreadBefore > RX_AREA_SIZE - maxData)
            mayHaveDropped = true;
        const size_t fedBefore = fed;
        int command = -1;
        int length = -1;
        const bool ok = reader.ReceiveFrame(source, command, length, area);
        FUZZ_CHECK(++calls <= callLimit);   // the reader must never stall
        FUZZ_CHECK(reader.GetUnreadCount() >= 0 && reader.GetUnreadCount() <= RX_AREA_SIZE);
        for (int i = MAX_RX_DATA_LENGTH; i < MAX_RX_DATA_LENGTH + kGuard; ++i)
            FUZZ_CHECK(area[i] == 0xA5);
        if (ok) {
            FUZZ_CHECK(length >= 0 && length <= maxData);
            FUZZ_CHECK(command >= 0 && command <= 0xFFFF);
            got.push_back({command, std::vector<uint8_t>(area, area + length)});
            continue;
        }
        // Nothing more to read (all fed, or a reader that reads nothing) and nothing found.
        if (fed == fedBefore && (fed == streamSize || maxData == 0)
            && reader.GetUnreadCount() == unreadBefore)
            break;
    }
    FUZZ_CHECK(!askedTooMuch);

    if (maxData == 0)
        FUZZ_CHECK(got.empty() && fed == 0);
    else if (!mayHaveDropped)
        FUZZ_CHECK(got == ScanWhole(stream, streamSize, maxData));
    else
        FUZZ_CHECK(InStreamInOrder(got, stream, streamSize));
    return 0;
}
