#include "link/FrameReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint16_t command, const Bytes& data)
{
    Bytes out(data.size() + FRAME_OVERHEAD);
    out.resize(static_cast<size_t>(BuildFrame(command, data.data(), static_cast<int>(data.size()), out.data())));
    return out;
}

// A byte source that hands out a script in pieces of the given sizes (repeated), and
// counts how often it was asked.
struct ScriptedSource {
    Bytes script;
    std::vector<int> pieces{48};
    size_t at = 0;
    size_t nextPiece = 0;
    int reads = 0;

    int operator()(uint8_t* buffer, int count)
    {
        ++reads;
        int n = std::min<int>(count, pieces[nextPiece++ % pieces.size()]);
        n = std::min<int>(n, static_cast<int>(script.size() - at));
        std::memcpy(buffer, script.data() + at, static_cast<size_t>(n));
        at += static_cast<size_t>(n);
        return n;
    }
    bool Drained() const { return at == script.size(); }
};

struct Delivered {
    int command;
    Bytes data;
    bool operator==(const Delivered& o) const { return command == o.command && data == o.data; }
};

// Calls the reader until the script is used up and a few idle calls followed.
std::vector<Delivered> DrainAll(CFrameReader& reader, ScriptedSource& source, int extraCalls = 3000)
{
    std::vector<Delivered> out;
    CFrameReader::ByteSource bytes = [&](uint8_t* b, int c) { return source(b, c); };
    int idle = 0;
    while (idle < extraCalls) {
        int command = -1;
        int length = -1;
        uint8_t data[48];
        if (reader.ReceiveFrame(bytes, command, length, data))
            out.push_back({command, Bytes(data, data + length)});
        else if (source.Drained())
            ++idle;
        EXPECT_GE(reader.GetUnreadCount(), 0);
        EXPECT_LE(reader.GetUnreadCount(), RX_AREA_SIZE);
    }
    return out;
}

Bytes RandomData(std::mt19937& rng, int length)
{
    Bytes d(static_cast<size_t>(length));
    for (auto& b : d)
        b = static_cast<uint8_t>(rng());
    return d;
}

}  // namespace

TEST(Frame, ExamplesByteForByte)
{
    EXPECT_EQ(Frame(CMD_PING_REQUEST, {}), (Bytes{0x02, 0x00, 0x07, 0x00, 0x07}));
    EXPECT_EQ(Frame(CMD_GET_DEVICE_INFO, {}), (Bytes{0x02, 0x00, 0x14, 0x00, 0x14}));
    EXPECT_EQ(Frame(CMD_DATA_REQUEST, {0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00}),
              (Bytes{0x02, 0x00, 0x18, 0x07, 0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00, 0x0F}));
    const uint8_t some[] = {1, 2, 3};
    EXPECT_EQ(ComputeFcs(0, some), 0);
    EXPECT_EQ(ComputeFcs(-4, some), 0);
    EXPECT_EQ(ComputeFcs(3, some), 0);
}

TEST(FrameReader, EveryFrameOnceInOrderWhateverThePieces)
{
    std::mt19937 rng(7);
    std::vector<Delivered> sent;
    Bytes stream;
    for (int i = 0; i < 300; ++i) {
        const int length = static_cast<int>(rng() % 49);
        const uint16_t command = static_cast<uint16_t>(i % 3 == 0 ? static_cast<uint32_t>(CMD_DATA_INDICATION) : rng());
        Bytes data = RandomData(rng, length);
        sent.push_back({command, data});
        Bytes f = Frame(command, data);
        stream.insert(stream.end(), f.begin(), f.end());
    }

    // One byte at a time, splits inside the header, irregular sizes, whole reads.
    for (const std::vector<int>& pieces :
         {std::vector<int>{1}, {2}, {3}, {5, 1, 7}, {13, 29, 2, 48}, {48}}) {
        CFrameReader reader;
        reader.Reset(48);
        ScriptedSource source;
        source.script = stream;
        source.pieces = pieces;
        EXPECT_EQ(DrainAll(reader, source, 3), sent) << "pieces starting " << pieces[0];
    }
}

TEST(FrameReader, SecondHeldFrameNeedsNoRead)
{
    CFrameReader reader;
    reader.Reset(48);
    ScriptedSource source;
    source.script = Frame(CMD_DATA_INDICATION, Bytes(10, 0xAA));
    const Bytes second = Frame(CMD_PING_RESPONSE, {0x00});
    source.script.insert(source.script.end(), second.begin(), second.end());
    CFrameReader::ByteSource bytes = [&](uint8_t* b, int c) { return source(b, c); };

    int command = 0, length = 0;
    uint8_t data[48];
    ASSERT_TRUE(reader.ReceiveFrame(bytes, command, length, data));
    EXPECT_EQ(command, CMD_DATA_INDICATION);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(source.reads, 1);
    ASSERT_TRUE(reader.ReceiveFrame(bytes, command, length, data));
    EXPECT_EQ(command, CMD_PING_RESPONSE);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(source.reads, 1) << "the held frame came without a read";
    EXPECT_FALSE(reader.ReceiveFrame(bytes, command, length, data));
}

TEST(FrameReader, LengthAboveMaximumIsNeverDelivered)
{
    // Length 49 with a correct FCS, complete and then cut short; each followed by a good frame.
    Bytes data49(49, 0x11);
    Bytes tooLong(4 + 49 + 1);
    tooLong[0] = 0x02;
    tooLong[1] = 0x10;
    tooLong[2] = 0x18;
    tooLong[3] = 49;
    std::copy(data49.begin(), data49.end(), tooLong.begin() + 4);
    tooLong.back() = ComputeFcs(52, tooLong.data() + 1);
    const Bytes good = Frame(CMD_DATA_INDICATION, {1, 2, 3});

    for (bool whole : {true, false}) {
        ScriptedSource source;
        source.script = whole ? tooLong : Bytes(tooLong.begin(), tooLong.begin() + 10);
        source.script.insert(source.script.end(), good.begin(), good.end());
        CFrameReader reader;
        reader.Reset(48);
        const auto got = DrainAll(reader, source, 5);
        ASSERT_EQ(got.size(), 1u) << (whole ? "whole" : "cut short");
        EXPECT_EQ(got[0].data, (Bytes{1, 2, 3}));
    }
}

TEST(FrameReader, GarbageAndFalseStartsBeforeAGoodFrame)
{
    const Bytes good = Frame(CMD_DEV_INFO_RSP, {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x34, 0x12});
    Bytes script = {0xFF, 0x00, 0x13, 0x37};            // plain noise
    Bytes badFcs = Frame(0x1018, {9, 9, 9});
    badFcs.back() ^= 0x5A;                              // FCS wrong
    script.insert(script.end(), badFcs.begin(), badFcs.end());
    script.insert(script.end(), {0x02, 0x00, 0x07, 0xF0});  // length far above 48
    script.insert(script.end(), {0x02, 0x02, 0x02});        // start bytes galore
    // A false header whose supposed frame swallows the start of a real one.
    script.insert(script.end(), {0x02, 0x10, 0x20, 0x04});
    script.insert(script.end(), good.begin(), good.end());
    // A false start with a plausible length holds what follows until its supposed frame
    // is complete, so the good frame comes once the line has carried on a little.
    const Bytes later = Frame(CMD_PING_RESPONSE, {0x00});
    script.insert(script.end(), later.begin(), later.end());
    script.insert(script.end(), 48, 0xEE);
    // A partial frame's tail at the very start of a capture is dropped as well.
    Bytes tail = {0x18, 0x03, 0x44, 0x55};
    script.insert(script.begin(), tail.begin(), tail.end());

    CFrameReader reader;
    reader.Reset(48);
    ScriptedSource source;
    source.script = script;
    const auto got = DrainAll(reader, source, 5);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].command, CMD_DEV_INFO_RSP);
    EXPECT_EQ(got[0].data.size(), 11u);
    EXPECT_EQ(got[1].command, CMD_PING_RESPONSE);
}

TEST(FrameReader, ZeroLengthFrameAndIncompleteFrameWaiting)
{
    CFrameReader reader;
    reader.Reset(48);
    ScriptedSource source;
    source.script = Frame(CMD_PING_RESPONSE, {});
    const Bytes next = Frame(CMD_DATA_INDICATION, {7, 7});
    source.script.insert(source.script.end(), next.begin(), next.begin() + 4);
    CFrameReader::ByteSource bytes = [&](uint8_t* b, int c) { return source(b, c); };

    int command = 0, length = -1;
    uint8_t data[48];
    ASSERT_TRUE(reader.ReceiveFrame(bytes, command, length, data));
    EXPECT_EQ(command, CMD_PING_RESPONSE);
    EXPECT_EQ(length, 0);

    // Reads that bring nothing never expire the half frame held.
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(reader.ReceiveFrame(bytes, command, length, data));
    EXPECT_EQ(reader.GetUnreadCount(), 4);
    source.script.insert(source.script.end(), next.begin() + 4, next.end());
    ASSERT_TRUE(reader.ReceiveFrame(bytes, command, length, data));
    EXPECT_EQ(length, 2);
    EXPECT_EQ(data[1], 7);
}

TEST(FrameReader, FalseStartsNeverPileUpNorDelayAGoodFrame)
{
    // Each pattern is a start byte whose 48-byte frame fails its FCS. Judging one used to
    // end the call, so every false start cost a port read (up to 500 ms on a quiet line)
    // and unread bytes piled up towards the area's end while a good frame waited.
    Bytes script;
    while (script.size() < 64 * 1024)
        script.insert(script.end(), {0x02, 0x01, 0x01, 0x30});
    script.insert(script.end(), 60, 0x00);
    const Bytes good = Frame(CMD_DATA_INDICATION, {0xCB, 0x01, 0x00, 0xCA, 0x12, 0x00, 0x00});
    script.insert(script.end(), good.begin(), good.end());

    CFrameReader reader;
    reader.Reset(48);
    ScriptedSource source;
    source.script = script;
    int maxUnread = 0;
    CFrameReader::ByteSource bytes = [&](uint8_t* b, int c) { return source(b, c); };
    std::vector<Delivered> got;
    for (int call = 0; call < 20000 && got.empty(); ++call) {
        int command = 0, length = 0;
        uint8_t data[48];
        if (reader.ReceiveFrame(bytes, command, length, data))
            got.push_back({command, Bytes(data, data + length)});
        maxUnread = std::max(maxUnread, reader.GetUnreadCount());
        ASSERT_LE(reader.GetUnreadCount(), RX_AREA_SIZE);
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, Bytes(good.begin() + 4, good.end() - 1));
    // Never more than one incomplete frame and one read's worth are held.
    EXPECT_LE(maxUnread, MAX_RX_DATA_LENGTH + FRAME_OVERHEAD + MAX_RX_DATA_LENGTH);
    // One read per 48 bytes of line, none wasted on judging false starts.
    const int linePieces = static_cast<int>((script.size() + 47) / 48);
    EXPECT_LE(source.reads, linePieces + 1);

    // False starts already held ahead of a good frame: it comes without another read.
    CFrameReader held;
    held.Reset(48);
    ScriptedSource one;
    one.script = {0x02, 0x02, 0x00, 0x07, 0xF0, 0x02, 0x10, 0x20, 0x04};
    const Bytes ping = Frame(CMD_PING_RESPONSE, {0x00});
    one.script.insert(one.script.end(), ping.begin(), ping.end());
    one.pieces = {static_cast<int>(one.script.size())};
    CFrameReader::ByteSource oneBytes = [&](uint8_t* b, int c) { return one(b, c); };
    int command = 0, length = 0;
    uint8_t data[48];
    // The false header 02 10 20 04 waits for its supposed 9 bytes; the ping's own bytes
    // complete it, it fails its FCS, and the ping is found in the same call.
    EXPECT_TRUE(held.ReceiveFrame(oneBytes, command, length, data));
    EXPECT_EQ(command, CMD_PING_RESPONSE);
    EXPECT_EQ(one.reads, 1);
}

TEST(FrameReader, LongNoisyRunDeliversEveryGoodFrameInOrder)
{
    // Noise that can never form a good frame by chance: bytes other than 0x02, start bytes
    // with a length above 48, and whole frames with a wrong FCS and no 0x02 inside.
    std::mt19937 rng(2024);
    auto noiseByte = [&] {
        uint8_t b;
        do b = static_cast<uint8_t>(rng());
        while (b == FRAME_START);
        return b;
    };
    std::vector<Delivered> sent;
    Bytes stream;
    for (int i = 0; i < 5000; ++i) {
        switch (rng() % 4) {
        case 0:
            for (int k = static_cast<int>(rng() % 20); k > 0; --k)
                stream.push_back(noiseByte());
            break;
        case 1:
            stream.insert(stream.end(), {FRAME_START, noiseByte(), noiseByte(),
                                         static_cast<uint8_t>(49 + rng() % 200)});
            break;
        case 2: {
            Bytes f(4 + 6 + 1);
            f[0] = FRAME_START;
            for (size_t k = 1; k < f.size(); ++k)
                f[k] = noiseByte();
            f[3] = 6;
            if (ComputeFcs(10, f.data() + 1) == 0)
                f[10] = static_cast<uint8_t>(f[10] == 0x03 ? 0x05 : 0x03);
            stream.insert(stream.end(), f.begin(), f.end());
            break;
        }
        default:
            break;
        }
        Bytes data = RandomData(rng, static_cast<int>(rng() % 49));
        sent.push_back({CMD_DATA_INDICATION, data});
        Bytes f = Frame(CMD_DATA_INDICATION, data);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    CFrameReader reader;
    reader.Reset(48);
    ScriptedSource source;
    source.script = stream;
    source.pieces = {48, 17, 1, 33};
    EXPECT_EQ(DrainAll(reader, source, 3), sent);
}
