#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>

#include "link/DataBuffer.h"
#include "link/FrameReader.h"
#include "link/LogLine.h"
#include "link/MsgCodec.h"
#include "tests/support/TestSupport.h"

namespace {

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using Delivered = std::pair<int, Bytes>;

// Every frame the script gives when read in pieces of the given sizes (repeated), until
// three calls find nothing more. Never more than a frame and a read's worth may wait
// unread; read whole, the line takes one read per 48 bytes and the idle ones.
std::vector<Delivered> Drain(const Bytes& script, const std::vector<int>& pieces)
{
    CFrameReader reader;
    reader.Reset(200);   // more than 48 is asked for: 48 it stays
    int at = 0, reads = 0, unread = 0;
    const CFrameReader::ByteSource source = [&](uint8_t* buffer, int count) {
        const int n = std::min({count, pieces[size_t(reads++) % pieces.size()], int(script.size()) - at});
        std::memcpy(buffer, script.data() + at, size_t(n));
        at += n;
        return n;
    };
    std::vector<Delivered> out;
    uint8_t data[256];
    for (int idle = 0, command = 0, length = 0; idle < 3; unread = std::max(unread, reader.GetUnreadCount()))
        if (reader.ReceiveFrame(source, command, length, data))
            out.emplace_back(command, Bytes(data, data + length));
        else
            idle += at == int(script.size());
    EXPECT_LE(unread, 2 * MAX_RX_DATA_LENGTH + FRAME_OVERHEAD);
    EXPECT_TRUE(pieces != std::vector<int>{48} || reads <= int(script.size() + 47) / 48 + 3) << reads;
    return out;
}

}   // namespace

// Frames are built byte for byte. Each good frame comes once, in order, whatever the
// noise and the pieces the line brings. Every false start already held is judged before
// the next read, and only its start byte goes: a real frame may begin inside a false one.
TEST(LinkFrames, EveryGoodFrameOnceAndFalseStartsCostOnlyTheirStartByte)
{
    EXPECT_EQ(Frame(CMD_DATA_REQUEST, {0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00}),
              (Bytes{0x02, 0x00, 0x18, 0x07, 0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00, 0x0F}));
    const Bytes info = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x34, 0x12}, good = Frame(CMD_DEV_INFO_RSP, info);
    // A bad FCS, then a false frame that holds the start of a good one.
    const Bytes garbage = {0x18, 0x03, 0xFF, 0x02, 0x10, 0x18, 0x03, 0x09, 0x09, 0x09,
                           0x58, 0x02, 0x02, 0x00, 0x07, 0xF0, 0x02, 0x10, 0x20, 0x04};
    // One above 48, with a right FCS.
    const Bytes tooLong = Bytes{0x02, 0x10, 0x18, 49} + Bytes(49, 0x11) + Bytes{0x28};
    Bytes falseStarts;
    while (falseStarts.size() < 64 * 1024)   // start bytes whose 48-byte frames all fail their FCS
        falseStarts.insert(falseStarts.end(), {0x02, 0x01, 0x01, 0x30});
    // Noise that never forms a frame: bytes other than 0x02, and start bytes with a
    // length above 48, between frames of every length.
    std::mt19937 rng(2024);
    auto noise = [&] { return uint8_t(3 + rng() % 253); };
    Bytes noisy;
    std::vector<Delivered> sent;
    for (int i = 0; i < 2000; ++i) {
        noisy = noisy + Bytes(rng() % 12, noise());
        if (i % 3 == 1)
            noisy = noisy + Bytes{FRAME_START, noise(), noise(), uint8_t(49 + rng() % 200)};
        sent.emplace_back(uint16_t(rng()), Bytes(rng() % 49));
        std::generate(sent.back().second.begin(), sent.back().second.end(), rng);
        noisy = noisy + Frame(uint16_t(sent.back().first), sent.back().second);
    }
    for (const auto& [name, script, frames] :
         std::vector<std::tuple<std::string, Bytes, std::vector<Delivered>>>{
             {"too long", tooLong + good, {{CMD_DEV_INFO_RSP, info}}},
             {"garbage", garbage + good + Bytes(48, 0xEE), {{CMD_DEV_INFO_RSP, info}}},
             {"64 KB of false starts", falseStarts + Bytes(60, 0x00) + good, {{CMD_DEV_INFO_RSP, info}}},
             {"noise", noisy, sent}})
        for (const std::vector<int>& pieces : {std::vector<int>{48}, {1}, {3}, {5, 1, 7}, {48, 17, 1, 33}}) {
            SCOPED_TRACE(name + testing::PrintToString(pieces));
            EXPECT_EQ(Drain(script, pieces), frames);
        }
}

TEST(LinkCodec, HeaderDecoderStaysInsideTheFrameAndTheTable)
{
    // The data count is bounded by n, the frame and 48; a header cut short keeps what it has.
    for (const auto& [data, whole, addr, cluster, count] :
         std::vector<std::tuple<Bytes, bool, int, int, int>>{
             {{0xCB, 0x34, 0x12, 0xCA, 0x14, 0x00, 0x30, 0xAA, 0xBB}, true, 0x1234, 0x14, 2},
             {Bytes(6, 0x77) + Bytes(114, 200), true, 0x7777, 0x7777, 48},
             {{0xCB, 0x78, 0x56, 0xCA, 0x12}, false, 0x5678, 0, 0}}) {
        MsgHeader h;
        EXPECT_EQ(CMsgCodec().DecodeMsgHeader(data.data(), int(data.size()), h), whole) << count;
        EXPECT_EQ(std::make_pair(int(h.nAddr), int(h.nCluster)), std::make_pair(addr, cluster)) << count;
        const auto from = data.begin() + (whole ? 7 : 0);
        EXPECT_EQ(Bytes(h.data, h.data + h.nDataCount), Bytes(from, from + count));
    }
    // The table's edges; outside it a cluster is never looked up.
    EXPECT_STREQ(ClusterName(0x0011), "REF_REQ");
    EXPECT_STREQ(ClusterName(0x0018), "BLIND_REQ_CONF");
    EXPECT_TRUE(ClusterName(0x0010) == nullptr && ClusterName(0xFFFF) == nullptr);
}

TEST(LinkLogLine, TimeStampHexTextAndPaddedName)
{
    using namespace std::chrono;
    char line[LOG_LINE_SIZE], hex[3 * 48 + 1];
    // UTC to the millisecond, past the hours and minutes of days since 1970, and before it.
    for (const auto& [ms, stamp] : std::vector<std::pair<long long, std::string>>{
             {1699952707042LL, "09:05:07:042"}, {-1, "23:59:59:999"}}) {
        FormatLogLine(line, UtcTimeOfDayOf(system_clock::time_point(milliseconds(ms))), true, 0x00AB,
                      "PING_REQUEST", nullptr);
        EXPECT_EQ(line, stamp + " |<--| 0x00AB |PING_REQUEST       |") << ms;
    }
    const UtcTimeOfDay t{9, 5, 7, 42};
    EXPECT_EQ(FormatHexText(Bytes{0x0A, 0xB0, 0xFF}.data(), 3, hex, 6), 3)
        << "a byte that does not fit is left out whole";
    EXPECT_EQ(FormatLogLine(line, t, false, 0x1234, "REF_RSP", hex), 50);
    EXPECT_STREQ(line, "09:05:07:042 |-->| 0x1234 |REF_RSP            |0A ");
    // 48 bytes as hex text fit; a line of 255 characters fits, one of 256 is refused, not cut.
    EXPECT_EQ(FormatHexText(Bytes(48, 0xB0).data(), 48, hex, sizeof hex), 144);
    EXPECT_EQ(FormatLogLine(line, t, false, 1, "X", std::string(208, 'A').c_str()), 255);
    EXPECT_TRUE(FormatLogLine(line, t, false, 1, "X", std::string(209, 'A').c_str()) == -1 &&
                line[0] == '\0');
}

TEST(LinkDataBuffer, ResultsOrderAndTheTwoLimitsOf256)
{
    CDataBuffer buffer;
    char line[CDataBuffer::SLOT_SIZE];
    // A putter and a taker on two threads: every line once, in order. The full queue
    // below then wraps round the slots' end.
    std::atomic<bool> stop{false};
    std::thread putter([&] {
        for (int i = 0; i < 100000 && !stop;)
            i += buffer.Put(std::to_string(i).c_str()) == 0;
    });
    int next = 0;
    for (const auto start = std::chrono::steady_clock::now(); next < 100000 && MsSince(start) < 20000;)
        if (buffer.Get(line) == 0 && std::to_string(next++) != line)
            break;
    stop = true;
    putter.join();
    EXPECT_TRUE(next == 100000 && std::string(line) == "99999") << next << " " << line;

    EXPECT_TRUE(buffer.Get(line) == 3 && buffer.Put(std::string(256, 'y').c_str()) == 1);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(buffer.Put((i ? std::to_string(i) : std::string(255, 'x')).c_str()), 0) << i;
    EXPECT_TRUE(buffer.Put("257th") == 2 && buffer.GetCount() == 256);
    for (int i = 0; i < 255; ++i)   // the last goes with Clear
        EXPECT_TRUE(buffer.Get(line) == 0 && (i ? std::to_string(i) : std::string(255, 'x')) == line) << i;
    buffer.Clear();
    EXPECT_TRUE(buffer.Get(line) == 3 && buffer.Put("") == 0 && buffer.Get(line) == 0 && line[0] == '\0');
}
