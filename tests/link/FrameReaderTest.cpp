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

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Delivered {
    int command;
    Bytes data;
    bool operator==(const Delivered& o) const { return command == o.command && data == o.data; }
};

// Hands out a script in pieces of the given sizes (repeated) and counts the reads.
struct ScriptedReader {
    Bytes script;
    std::vector<int> pieces{48};
    size_t at = 0;
    size_t nextPiece = 0;
    int reads = 0;
    CFrameReader reader;
    CFrameReader::ByteSource source = [this](uint8_t* buffer, int count) {
        ++reads;
        int n = std::min<int>(count, pieces[nextPiece++ % pieces.size()]);
        n = std::min<int>(n, static_cast<int>(script.size() - at));
        std::memcpy(buffer, script.data() + at, static_cast<size_t>(n));
        at += static_cast<size_t>(n);
        return n;
    };

    explicit ScriptedReader(Bytes s, std::vector<int> p = {48}) : script(std::move(s)), pieces(std::move(p))
    {
        reader.Reset(48);
    }
    bool Next(Delivered& d)
    {
        int length = -1;
        uint8_t data[48];
        if (!reader.ReceiveFrame(source, d.command, length, data))
            return false;
        d.data.assign(data, data + length);
        return true;
    }
    // Every frame until the script is used up and a few idle calls followed.
    // Never more than one incomplete frame and one read's worth are held.
    std::vector<Delivered> DrainAll(int idleCalls = 3)
    {
        std::vector<Delivered> out;
        int maxUnread = 0;
        for (Delivered d; idleCalls > 0; maxUnread = std::max(maxUnread, reader.GetUnreadCount())) {
            if (Next(d))
                out.push_back(d);
            else if (at == script.size())
                --idleCalls;
        }
        EXPECT_LE(maxUnread, MAX_RX_DATA_LENGTH + FRAME_OVERHEAD + MAX_RX_DATA_LENGTH);
        return out;
    }
};

}  // namespace

TEST(Frame, ExamplesByteForByte)
{
    EXPECT_EQ(Frame(CMD_PING_REQUEST, {}), (Bytes{0x02, 0x00, 0x07, 0x00, 0x07}));
    EXPECT_EQ(Frame(CMD_DATA_REQUEST, {0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00}),
              (Bytes{0x02, 0x00, 0x18, 0x07, 0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00, 0x0F}));
    const uint8_t some[] = {1, 2, 3};
    EXPECT_EQ(ComputeFcs(3, some), 0);
    EXPECT_EQ(ComputeFcs(-4, some), 0);
}

TEST(FrameReader, NoisyStreamDeliversEveryGoodFrameOnceInOrderWhateverThePieces)
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
    for (int i = 0; i < 2000; ++i) {
        const unsigned kind = rng() % 4;
        if (kind == 0)
            for (int k = static_cast<int>(rng() % 20); k > 0; --k)
                stream.push_back(noiseByte());
        if (kind == 1)
            stream.insert(stream.end(), {FRAME_START, noiseByte(), noiseByte(), static_cast<uint8_t>(49 + rng() % 200)});
        if (kind == 2) {
            Bytes f = {FRAME_START, noiseByte(), noiseByte(), 6};
            for (int k = 0; k < 7; ++k)
                f.push_back(noiseByte());
            if (ComputeFcs(10, f.data() + 1) == 0)
                f[10] = static_cast<uint8_t>(f[10] == 0x03 ? 0x05 : 0x03);
            stream.insert(stream.end(), f.begin(), f.end());
        }
        Bytes data(rng() % 49);
        for (auto& b : data)
            b = static_cast<uint8_t>(rng());
        const uint16_t command = static_cast<uint16_t>(i % 3 ? rng() : static_cast<uint32_t>(CMD_DATA_INDICATION));
        sent.push_back({command, data});
        const Bytes f = Frame(command, data);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    // One byte at a time, splits inside the header, irregular sizes, whole reads.
    for (const std::vector<int>& pieces : {std::vector<int>{1}, {3}, {5, 1, 7}, {48, 17, 1, 33}, {48}}) {
        SCOPED_TRACE(testing::PrintToString(pieces));
        ScriptedReader r(stream, pieces);
        EXPECT_EQ(r.DrainAll(), sent);
    }
}

// Judging a false start used to end the call, so every one cost a port read (up to
// 500 ms on a quiet line) and unread bytes piled up towards the area's end while a good
// frame waited. Now only the start byte goes, and parsing goes straight on.
TEST(FrameReader, FalseStartsAndBadFramesOnlyCostTheirStartByte)
{
    const Bytes good = Frame(CMD_DEV_INFO_RSP, {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x34, 0x12});
    const Bytes ping = Frame(CMD_PING_RESPONSE, {0x00});
    Bytes badFcs = Frame(0x1018, {9, 9, 9});
    badFcs.back() ^= 0x5A;
    // Length 49 with a correct FCS: above the maximum, never delivered.
    Bytes tooLong = {0x02, 0x10, 0x18, 49};
    tooLong.insert(tooLong.end(), 49, 0x11);
    tooLong.push_back(ComputeFcs(52, tooLong.data() + 1));
    // Start bytes whose 48-byte frames all fail their FCS.
    Bytes falseStarts;
    while (falseStarts.size() < 64 * 1024)
        falseStarts.insert(falseStarts.end(), {0x02, 0x01, 0x01, 0x30});

    struct Case {
        const char* story;
        Bytes script;
        std::vector<int> commands;
    };
    const Case cases[] = {
        {"too long, whole", Join({tooLong, good}), {CMD_DEV_INFO_RSP}},
        {"too long, cut short", Join({Bytes(tooLong.begin(), tooLong.begin() + 10), good}), {CMD_DEV_INFO_RSP}},
        // A partial frame's tail at the start, plain noise, a wrong FCS, a length far above
        // 48, start bytes galore, and a false header whose supposed frame swallows the start
        // of a real one: that one comes once the line has carried on a little.
        {"garbage",
         Join({{0x18, 0x03, 0x44, 0x55, 0xFF, 0x00, 0x13, 0x37}, badFcs, {0x02, 0x00, 0x07, 0xF0, 0x02, 0x02, 0x02},
               {0x02, 0x10, 0x20, 0x04}, good, ping, Bytes(48, 0xEE)}),
         {CMD_DEV_INFO_RSP, CMD_PING_RESPONSE}},
        {"64 KB of false starts", Join({falseStarts, Bytes(60, 0x00), good}), {CMD_DEV_INFO_RSP}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        ScriptedReader r(c.script);
        std::vector<int> commands;
        for (const Delivered& d : r.DrainAll())
            commands.push_back(d.command);
        EXPECT_EQ(commands, c.commands);
        // One read per 48 bytes of line and the idle ones, none spent on false starts.
        EXPECT_LE(r.reads, static_cast<int>((c.script.size() + 47) / 48) + 3);
    }
}

TEST(FrameReader, HeldBytesAreParsedBeforeTheNextRead)
{
    // Two frames in one read: the second comes without another read.
    ScriptedReader two(Join({Frame(CMD_DATA_INDICATION, Bytes(10, 0xAA)), Frame(CMD_PING_RESPONSE, {0x00})}));
    Delivered d;
    ASSERT_TRUE(two.Next(d));
    EXPECT_EQ(d.data.size(), 10u);
    ASSERT_TRUE(two.Next(d));
    EXPECT_EQ(d.command, CMD_PING_RESPONSE);
    EXPECT_EQ(two.reads, 1);

    // The false header 02 10 20 04 waits for its supposed 9 bytes; the ping's own bytes
    // complete it, it fails its FCS, and the ping is found in the same call.
    ScriptedReader held(Join({{0x02, 0x02, 0x00, 0x07, 0xF0, 0x02, 0x10, 0x20, 0x04}, Frame(CMD_PING_RESPONSE, {0x00})}));
    ASSERT_TRUE(held.Next(d));
    EXPECT_EQ(d.command, CMD_PING_RESPONSE);
    EXPECT_EQ(held.reads, 1);

    // A zero-length frame is a frame; reads that bring nothing never expire a half frame.
    const Bytes next = Frame(CMD_DATA_INDICATION, {7, 7});
    ScriptedReader half(Join({Frame(CMD_PING_RESPONSE, {}), Bytes(next.begin(), next.begin() + 4)}));
    ASSERT_TRUE(half.Next(d));
    EXPECT_TRUE(d.data.empty());
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(half.Next(d));
    EXPECT_EQ(half.reader.GetUnreadCount(), 4);
    half.script.insert(half.script.end(), next.begin() + 4, next.end());
    ASSERT_TRUE(half.Next(d));
    EXPECT_EQ(d.data, (Bytes{7, 7}));
}
