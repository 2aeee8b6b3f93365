#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "link/DataBuffer.h"
#include "link/FrameReader.h"
#include "link/LogLine.h"
#include "link/MsgCodec.h"
#include "tests/support/TestSupport.h"

namespace {

Bytes Frame(uint16_t command, const Bytes& data)
{
    Bytes out(data.size() + FRAME_OVERHEAD);
    out.resize(size_t(BuildFrame(command, data.data(), int(data.size()), out.data())));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using Delivered = std::pair<int, Bytes>;

// Every frame the script gives when read in pieces of the given sizes (repeated), until
// three calls find nothing more; counts the reads. Never more than a frame and a read's
// worth may wait unread.
std::vector<Delivered> Drain(const Bytes& script, const std::vector<int>& pieces, int& reads)
{
    CFrameReader reader;
    reader.Reset(200);   // more than 48 is asked for: 48 it stays
    size_t at = 0, next = 0;
    const CFrameReader::ByteSource source = [&](uint8_t* buffer, int count) {
        const int n = std::min({count, pieces[next++ % pieces.size()], int(script.size() - at)});
        std::memcpy(buffer, script.data() + at, size_t(n));
        at += size_t(n);
        return ++reads, n;
    };
    std::vector<Delivered> out;
    uint8_t data[256];
    int unread = 0;
    for (int idle = 0, command = 0, length = 0; idle < 3; unread = std::max(unread, reader.GetUnreadCount()))
        if (reader.ReceiveFrame(source, command, length, data))
            out.emplace_back(command, Bytes(data, data + length));
        else
            idle += at == script.size();
    EXPECT_LE(unread, 2 * MAX_RX_DATA_LENGTH + FRAME_OVERHEAD);
    return out;
}

}   // namespace

// Frames are built byte for byte. Each good frame comes once, in order, whatever the
// noise and the pieces the line brings. Every false start already held is judged before
// the next read, and only its start byte goes: a real frame may begin inside a false one.
TEST(LinkFrames, EveryGoodFrameOnceAndFalseStartsCostOnlyTheirStartByte)
{
    EXPECT_EQ(Frame(CMD_PING_REQUEST, {}), (Bytes{0x02, 0x00, 0x07, 0x00, 0x07}));
    EXPECT_EQ(Frame(CMD_DATA_REQUEST, {0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00}),
              (Bytes{0x02, 0x00, 0x18, 0x07, 0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00, 0x0F}));
    const Bytes info = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x34, 0x12};
    const Bytes good = Frame(CMD_DEV_INFO_RSP, info), ping = Frame(CMD_PING_RESPONSE, {0});
    Bytes badFcs = Frame(0x1018, {9, 9, 9}), tooLong = {0x02, 0x10, 0x18, 49}, falseStarts;
    badFcs.back() ^= 0x5A;
    tooLong.insert(tooLong.end(), 49, 0x11);   // one above 48, with a right FCS
    tooLong.push_back(ComputeFcs(52, tooLong.data() + 1));
    while (falseStarts.size() < 64 * 1024)   // start bytes whose 48-byte frames all fail their FCS
        falseStarts.insert(falseStarts.end(), {0x02, 0x01, 0x01, 0x30});
    const Bytes falseHeader = {0x02, 0x02, 0x00, 0x07, 0xF0, 0x02, 0x10, 0x20, 0x04};
    // Noise that never forms a frame: bytes other than 0x02, and start bytes with a
    // length above 48, between frames of every length.
    std::mt19937 rng(2024);
    auto noise = [&] {
        const uint8_t b = uint8_t(rng());
        return b == FRAME_START ? uint8_t(0x03) : b;
    };
    Bytes noisy;
    std::vector<Delivered> sent;
    for (int i = 0; i < 2000; ++i) {
        for (unsigned k = rng() % 12; k > 0; --k)
            noisy.push_back(noise());
        if (i % 3 == 1)
            noisy = std::move(noisy) + Bytes{FRAME_START, noise(), noise(), uint8_t(49 + rng() % 200)};
        sent.emplace_back(i % 3 ? int(uint16_t(rng())) : int(CMD_DATA_INDICATION), Bytes(rng() % 49));
        std::generate(sent.back().second.begin(), sent.back().second.end(), rng);
        noisy = std::move(noisy) + Frame(uint16_t(sent.back().first), sent.back().second);
    }
    struct Case {
        const char* name;
        Bytes script;
        std::vector<Delivered> frames;
    } const cases[] = {
        {"too long", tooLong + good, {{CMD_DEV_INFO_RSP, info}}},
        {"two frames in one read", good + ping, {{CMD_DEV_INFO_RSP, info}, {CMD_PING_RESPONSE, {0}}}},
        // A false frame holds the start of a good one.
        {"garbage",
         Bytes{0x18, 0x03, 0xFF} + badFcs + falseHeader + good + Bytes(48, 0xEE),
         {{CMD_DEV_INFO_RSP, info}}},
        {"64 KB of false starts", falseStarts + Bytes(60, 0x00) + good, {{CMD_DEV_INFO_RSP, info}}},
        {"noise", noisy, sent},
    };
    for (const Case& c : cases)
        for (const std::vector<int>& pieces : {std::vector<int>{48}, {1}, {3}, {5, 1, 7}, {48, 17, 1, 33}}) {
            SCOPED_TRACE(c.name + testing::PrintToString(pieces));
            int reads = 0;
            EXPECT_EQ(Drain(c.script, pieces, reads), c.frames);
            // Whole reads: one per 48 bytes of line, and the idle ones.
            EXPECT_TRUE(pieces.size() > 1 || pieces[0] != 48 || reads <= int(c.script.size() + 47) / 48 + 3)
                << reads;
        }
}

TEST(LinkCodec, HeaderDecoderStaysInsideTheFrameAndTheTable)
{
    struct Case {
        const char* name;
        Bytes data;
        bool whole;
        uint16_t addr, cluster;
        int count;
    } const cases[] = {
        {"as stated", {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 0x02, 0x0A, 0x0B}, true, 0x1234, 0x0012, 2},
        {"n claims more than the frame holds",
         {0xCB, 0x01, 0x00, 0xCA, 0x14, 0x00, 0x30, 0xAA, 0xBB},
         true,
         1,
         0x14,
         2},
        {"never more than 48", Bytes(6, 0x77) + Bytes(114, 200), true, 0x7777, 0x7777, 48},
        {"a header cut short keeps what it has", {0xCB, 0x78, 0x56, 0xCA, 0x12}, false, 0x5678, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MsgHeader h;
        EXPECT_EQ(CMsgCodec().DecodeMsgHeader(c.data.data(), int(c.data.size()), h), c.whole);
        EXPECT_EQ(std::make_pair(h.nAddr, h.nCluster), std::make_pair(c.addr, c.cluster));
        const auto from = c.data.begin() + (c.whole ? 7 : 0);
        EXPECT_EQ(Bytes(h.data, h.data + h.nDataCount), Bytes(from, from + c.count));
    }
    // The table's edges; outside it a cluster is never looked up.
    EXPECT_TRUE(ClusterName(0x0011) == std::string("REF_REQ") &&
                ClusterName(0x0018) == std::string("BLIND_REQ_CONF"));
    for (uint16_t outside : {0x0000, 0x0010, 0x0019, 0xFFFF})
        EXPECT_EQ(ClusterName(outside), nullptr) << outside;
}

TEST(LinkLogLine, TimeStampHexTextAndPaddedName)
{
    char line[LOG_LINE_SIZE], hex[3 * 48 + 1];
    // UTC to the millisecond; a moment before 1970 still has a time of day.
    for (const auto& [ms, stamp] : std::vector<std::pair<long long, std::string>>{
             {32707042, "09:05:07:042"}, {1700000000123LL, "22:13:20:123"}, {-1, "23:59:59:999"}}) {
        FormatLogLine(line,
                      UtcTimeOfDayOf(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms))),
                      true, 0x00AB, "PING_REQUEST", nullptr);
        EXPECT_EQ(line, stamp + " |<--| 0x00AB |PING_REQUEST       |") << ms;
    }
    const UtcTimeOfDay t{9, 5, 7, 42};
    const uint8_t bytes[] = {0x0A, 0xB0, 0xFF};
    EXPECT_EQ(FormatHexText(bytes, 3, hex, 6), 3) << "a byte that does not fit is left out whole";
    EXPECT_EQ(FormatLogLine(line, t, false, 0x1234, "REF_RSP", hex), 50);
    EXPECT_STREQ(line, "09:05:07:042 |-->| 0x1234 |REF_RSP            |0A ");
    // 48 bytes as hex text fit; a line of 255 characters fits, one of 256 is refused, not cut.
    EXPECT_EQ(FormatHexText(std::vector<uint8_t>(48, 0xB0).data(), 48, hex, sizeof hex), 144);
    EXPECT_EQ(FormatLogLine(line, t, false, 1, "X", std::string(208, 'A').c_str()), 255);
    EXPECT_TRUE(FormatLogLine(line, t, false, 1, "X", std::string(209, 'A').c_str()) == -1 &&
                line[0] == '\0');
}

TEST(LinkDataBuffer, ResultsOrderAndTheTwoLimitsOf256)
{
    CDataBuffer buffer;
    char line[CDataBuffer::SLOT_SIZE];
    EXPECT_TRUE(buffer.Get(line) == 3 && buffer.Put(std::string(256, 'y').c_str()) == 1 &&
                buffer.Put(nullptr) == 1);
    for (int i = 0; i < 200; ++i)   // the full queue below wraps round the slots' end
        EXPECT_TRUE(buffer.Put("warm") == 0 && buffer.Get(line) == 0);
    const std::string longest(255, 'x');
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(buffer.Put(i == 255 ? longest.c_str() : std::to_string(i).c_str()), 0) << i;
    EXPECT_TRUE(buffer.Put("257th") == 2 && buffer.GetCount() == 256);
    for (int i = 0; i < 256; ++i)
        EXPECT_TRUE(buffer.Get(line) == 0 && (i == 255 ? longest : std::to_string(i)) == line) << i;
    EXPECT_EQ(buffer.Get(line), 3);
    buffer.Put("gone");
    buffer.Clear();
    EXPECT_TRUE(buffer.Get(line) == 3 && buffer.Put("") == 0 && buffer.Get(line) == 0 && line[0] == '\0');

    // A putter and a taker on two threads: every line once, in order.
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
}
