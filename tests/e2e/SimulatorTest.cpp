// The simulator's own parts, without a pseudo-terminal: the noise it adds against the
// program's frame reader, its network and its answers, and the tool's command reading.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "link/Frame.h"
#include "link/FrameReader.h"
#include "sim/DongleSim.h"
#include "tools/CaptureCommands.h"

namespace {

using Clock = CDongleSim::Clock;
using namespace std::chrono_literals;

struct Frame {
    int command;
    std::vector<uint8_t> data;
    bool operator==(const Frame& o) const { return command == o.command && data == o.data; }
};

// Every frame in bytes, read by the program's reader from pieces of varying size.
std::vector<Frame> ReadAll(const std::vector<uint8_t>& bytes, uint64_t seed)
{
    CSimRandom pieces(seed);
    size_t pos = 0;
    CFrameReader reader;
    reader.Reset(MAX_RX_DATA_LENGTH);
    auto source = [&](uint8_t* buffer, int count) {
        const int n = std::min<int>(pieces.Range(1, count), static_cast<int>(bytes.size() - pos));
        std::memcpy(buffer, bytes.data() + pos, static_cast<size_t>(n));
        pos += static_cast<size_t>(n);
        return n;
    };
    std::vector<Frame> frames;
    int command, length;
    uint8_t data[MAX_RX_DATA_LENGTH];
    while (pos < bytes.size() || reader.GetUnreadCount() > 0) {
        if (reader.ReceiveFrame(source, command, length, data))
            frames.push_back(Frame{command, std::vector<uint8_t>(data, data + length)});
        else if (pos >= bytes.size())
            break;
    }
    return frames;
}

// The frames a simulator sends, parsed with its own scanner (no noise there).
std::vector<SimFrame> Sent(CDongleSim& sim)
{
    CFrameScanner scanner(255);
    scanner.Feed(sim.OutData(), sim.OutSize());
    sim.OutConsumed(sim.OutSize());
    std::vector<SimFrame> frames;
    SimFrame f;
    while (scanner.Next(f))
        frames.push_back(f);
    return frames;
}

void Request(CDongleSim& sim, uint16_t cluster, uint16_t dest, std::vector<uint8_t> msg,
             Clock::time_point now)
{
    std::vector<uint8_t> data = {0xCB, static_cast<uint8_t>(dest), static_cast<uint8_t>(dest >> 8),
                                 0xCA, static_cast<uint8_t>(cluster), 0,
                                 static_cast<uint8_t>(msg.size())};
    data.insert(data.end(), msg.begin(), msg.end());
    uint8_t frame[64];
    const int size = BuildFrame(CMD_DATA_REQUEST, data.data(), static_cast<int>(data.size()), frame);
    sim.OnReceived(frame, size, now);
}

TEST(Simulator, NoiseNeverHidesOrInventsAFrameForTheProgramsReader)
{
    SimOptions options;
    options.bNoise = true;
    options.nFlood = 5000;
    options.nSeed = 11;
    const Clock::time_point t0 = Clock::now();
    CDongleSim noisy(options, t0);
    options.bNoise = false;
    CDongleSim clean(options, t0);

    // Both floods begin with the first frame heard; the same seed gives the same frames.
    const uint8_t ping[] = {0x02, 0x00, 0x07, 0x00, 0x07};
    std::vector<uint8_t> noisyBytes, cleanBytes;
    for (CDongleSim* sim : {&noisy, &clean}) {
        std::vector<uint8_t>& bytes = sim == &noisy ? noisyBytes : cleanBytes;
        sim->OnReceived(ping, sizeof ping, t0);
        while (sim->FloodLeft() > 0 || sim->OutSize() > 0) {
            sim->OnTime(t0);
            bytes.insert(bytes.end(), sim->OutData(), sim->OutData() + sim->OutSize());
            sim->OutConsumed(sim->OutSize());
        }
    }
    ASSERT_GT(noisyBytes.size(), cleanBytes.size() + 20000);

    // The program ignores frames without data and unknown commands: apart from those,
    // the noisy line carries exactly the clean line's frames.
    std::vector<Frame> got = ReadAll(noisyBytes, 3);
    got.erase(std::remove_if(got.begin(), got.end(),
                             [](const Frame& f) {
                                 return f.data.empty() ||
                                        (f.command != CMD_DATA_INDICATION &&
                                         f.command != CMD_DATA_REQUEST &&
                                         f.command != CMD_PING_RESPONSE &&
                                         f.command != CMD_DEV_INFO_RSP);
                             }),
              got.end());
    const std::vector<Frame> want = ReadAll(cleanBytes, 5);
    ASSERT_EQ(want.size(), 5001u);   // the PING_RESPONSE and the flood
    EXPECT_TRUE(got == want);
}

TEST(Simulator, NetworkLocatesAndHonoursItsParameters)
{
    CSimRandom rng(5);
    CNodeNetwork net(rng, true, Clock::now());
    net.SetRssiNoise(0);
    BlindNode& blind = net.Blinds()[0];
    blind.x = 12.0;
    blind.y = 27.0;

    PositionEstimate e = net.Locate(blind);   // A and N match the channel
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.used, 5);
    // RSSI comes in whole dB, a few per cent of the distance out here.
    EXPECT_NEAR(e.x / 4.0, 12.0, 1.0);
    EXPECT_NEAR(e.y / 4.0, 27.0, 1.0);

    blind.conf.n = 0;
    EXPECT_EQ(net.Locate(blind).status, 2);
    blind.conf.n = 25;
    blind.conf.minRefNodes = 6;   // only five exist
    e = net.Locate(blind);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.used, 5);

    // The estimate rests on where the reference nodes were told they stand.
    blind.conf.minRefNodes = 3;
    for (RefNode& ref : net.Refs())
        ref.confX = static_cast<uint16_t>(ref.confX + 4 * 10);
    e = net.Locate(blind);
    EXPECT_NEAR(e.x / 4.0, 22.0, 1.0);
    EXPECT_NEAR(e.y / 4.0, 27.0, 1.0);
}

TEST(Simulator, StoresConfigurationsAnswersRequestsAndReportsEveryCycle)
{
    SimOptions options;
    options.bQuiet = true;
    const Clock::time_point t0 = Clock::now();
    CDongleSim sim(options, t0);

    Request(sim, 0x0015, 0x0102, {0x31, 0x00, 0x1E, 0x00}, t0);   // REF_NODE_CONF
    Request(sim, 0x0017, 0x0102, {}, t0);                         // REF_NODE_REQ_CONF
    Request(sim, 0x0017, 0x0999, {}, t0);                         // nobody there
    const std::vector<uint8_t> blindConf = {45, 30, 1, 5, 0, 5, 0, 0, 0, 7, 3};
    Request(sim, 0x0016, 0x0203, blindConf, t0);                  // auto, cycle 500 ms
    Request(sim, 0x0018, 0x0203, {}, t0);
    sim.OnTime(t0 + 50ms);
    std::vector<SimFrame> frames = Sent(sim);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(ExpectedLogText(frames[0].command, frames[0].data, frames[0].length),
              " |-->| 0x0102 |REF_CONF           |31 00 1E 00 ");
    EXPECT_EQ(std::vector<uint8_t>(frames[1].data + 7, frames[1].data + frames[1].length),
              blindConf);

    int reports = 0;
    for (int step = 1; step <= 50; ++step) {   // five seconds in 100 ms steps
        sim.OnTime(t0 + step * 100ms);
        for (const SimFrame& f : Sent(sim)) {
            EXPECT_EQ(ExpectedLogText(f.command, f.data, f.length).substr(0, 35),
                      " |-->| 0x0203 |BLIND_RSP          |");
            ++reports;
        }
    }
    EXPECT_EQ(reports, 10);

    // Reports addressed to another node never reach the dongle.
    std::vector<uint8_t> elsewhere = blindConf;
    elsewhere[7] = 0x11;
    Request(sim, 0x0016, 0x0203, elsewhere, t0 + 5s);
    for (int step = 51; step <= 70; ++step)
        sim.OnTime(t0 + step * 100ms);
    EXPECT_TRUE(Sent(sim).empty());
}

TEST(CaptureCommands, ReadAsTheDialogsReadAndRefuseSlips)
{
    DongleMessage msg;
    std::string error;
    EXPECT_EQ(ParseCaptureCommand("  blindconf 0x0201 255 0 1 65535 0 ffff 255 8 ", msg, error),
              CaptureCommand::SEND);
    const uint32_t blind[10] = {MSG_BLIND_NODE_CONF, 0x201, 255, 0, 1, 65535, 0, 0xFFFF, 255, 8};
    EXPECT_EQ(std::memcmp(msg.word, blind, sizeof blind), 0);

    EXPECT_EQ(ParseCaptureCommand("refconf ABCD 16383.75 10,05", msg, error), CaptureCommand::SEND);
    EXPECT_EQ(msg.word[1], 0xABCDu);
    EXPECT_EQ(msg.word[2], 65535u);
    EXPECT_EQ(msg.word[3], 41u);   // a fraction goes up to the next quarter

    for (const char* bad : {"refconf 1 16384 0", "refconf 1 10x 0", "refconf 1 -1 0",
                            "refreq", "refreq 1 2", "refreq 1G", "blindreq -1",
                            "blindconf 1 256 0 0 0 0 0 0 1", "blindconf 1 0 0 2 0 0 0 0 1",
                            "blindconf 1 0 0 0 65536 0 0 0 1", "blindconf 1 0 0 0 0 0 0 0 0",
                            "ping now", "Ping"}) {
        EXPECT_EQ(ParseCaptureCommand(bad, msg, error), CaptureCommand::INVALID) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(ParseCaptureCommand("   ", msg, error), CaptureCommand::NONE);
    EXPECT_EQ(ParseCaptureCommand("quit", msg, error), CaptureCommand::QUIT);
}

}  // namespace
