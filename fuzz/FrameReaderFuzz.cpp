// The frame reader against a byte source that hands the stream over in pieces of the
// fuzzer's choosing, some of them empty (a read that timed out). Whatever the pieces, it
// delivers the frames the simulator's own scanner finds in the whole stream, never
// stalls, never asks for more than a data field and never writes past one.
//
// Input: byte 0 picks the largest data field (below 128: 48, as while capturing), byte 1
// the number of piece sizes that follow (up to 15), each size % 50; the rest is the stream.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "link/FrameReader.h"
#include "sim/FrameScanner.h"

TESSARIN_FUZZ_TARGET(FrameReader)
{
    CFuzzInput in{data, size};
    const int pick = in.Byte(),
              maxData = pick < 128 ? MAX_RX_DATA_LENGTH : (pick - 128) % MAX_RX_DATA_LENGTH + 1;
    std::vector<int> pieces(in.Byte() % 16);
    for (int& piece : pieces)
        piece = in.Byte() % 50;
    if (std::count(pieces.begin(), pieces.end(), 0) == static_cast<long>(pieces.size()))
        pieces.clear();   // only timeouts would never end

    static CFrameReader reader;   // 8 KiB: made once, reset per input as each capture does
    reader.Reset(maxData);
    size_t fed = 0, nextPiece = 0;
    const CFrameReader::ByteSource source = [&](uint8_t* buffer, int count) {
        FUZZ_CHECK(count <= maxData);
        const int want = pieces.empty() ? count : std::min(count, pieces[nextPiece++ % pieces.size()]);
        const size_t n = std::min<size_t>(static_cast<size_t>(want), in.left - fed);
        std::memcpy(buffer, in.rest + fed, n);
        fed += n;
        return static_cast<int>(n);
    };
    std::vector<uint8_t> area(MAX_RX_DATA_LENGTH + 16, 0xA5);   // the caller's 48 bytes and what follows
    std::vector<std::pair<int, std::string>> got, want;
    for (size_t calls = 1;; ++calls) {
        const int unreadBefore = reader.GetUnreadCount();
        int command = 0, length = 0;
        if (reader.ReceiveFrame(source, command, length, area.data()))
            got.emplace_back(command, std::string(area.begin(), area.begin() + length));
        else if (fed == in.left && reader.GetUnreadCount() == unreadBefore)
            break;
        FUZZ_CHECK(calls <= (in.left + 8) * (pieces.size() + 2) * 2 && length >= 0 && length <= maxData &&
                   std::count(area.begin() + MAX_RX_DATA_LENGTH, area.end(), 0xA5) == 16);
    }
    CFrameScanner scanner(maxData);
    scanner.Feed(in.rest, static_cast<int>(in.left));
    for (SimFrame f; scanner.Next(f);)
        want.emplace_back(f.command, std::string(f.data, f.data + f.length));
    FUZZ_CHECK(got == want);
    return 0;
}
