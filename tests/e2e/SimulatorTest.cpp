// The simulator's own parts, without a pseudo-terminal: the noise it adds against the
// program's frame reader and its answers, and the tool's command reading.

#include <gtest/gtest.h>

#include <cstring>

#include "link/Frame.h"
#include "link/FrameReader.h"
#include "sim/DongleSim.h"
#include "tools/CaptureCommands.h"

namespace {

using Clock = CDongleSim::Clock;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// Every frame the program would act on (data present, a known command), read by its
// own reader from pieces of varying size.
std::vector<std::pair<int, Bytes>> ReadAll(const Bytes& bytes, uint64_t seed)
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
    std::vector<std::pair<int, Bytes>> frames;
    int command, length;
    uint8_t data[MAX_RX_DATA_LENGTH];
    for (int idle = 0; idle < 3;) {
        const bool got = reader.ReceiveFrame(source, command, length, data);
        if (got && length > 0
            && (command == CMD_DATA_INDICATION || command == CMD_DATA_REQUEST || command == CMD_PING_RESPONSE
                || command == CMD_DEV_INFO_RSP))
            frames.emplace_back(command, Bytes(data, data + length));
        idle += !got && pos == bytes.size();
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
    for (SimFrame f; scanner.Next(f);)
        frames.push_back(f);
    return frames;
}

void Request(CDongleSim& sim, uint16_t cluster, uint16_t dest, const Bytes& msg, Clock::time_point now)
{
    Bytes data = {0xCB, static_cast<uint8_t>(dest), static_cast<uint8_t>(dest >> 8), 0xCA,
                  static_cast<uint8_t>(cluster), 0, static_cast<uint8_t>(msg.size())};
    data.insert(data.end(), msg.begin(), msg.end());
    uint8_t frame[64];
    sim.OnReceived(frame, BuildFrame(CMD_DATA_REQUEST, data.data(), static_cast<int>(data.size()), frame), now);
}

TEST(Simulator, NoiseNeverHidesOrInventsAFrameForTheProgramsReader)
{
    // The same seed gives the same flood with noise and without; both begin with the
    // first frame heard.
    const Clock::time_point t0 = Clock::now();
    Bytes line[2];
    for (bool noise : {false, true}) {
        SimOptions options;
        options.bNoise = noise;
        options.nFlood = 5000;
        options.nSeed = 11;
        CDongleSim sim(options, t0);
        const uint8_t ping[] = {0x02, 0x00, 0x07, 0x00, 0x07};
        sim.OnReceived(ping, sizeof ping, t0);
        while (sim.FloodLeft() > 0 || sim.OutSize() > 0) {
            sim.OnTime(t0);
            line[noise].insert(line[noise].end(), sim.OutData(), sim.OutData() + sim.OutSize());
            sim.OutConsumed(sim.OutSize());
        }
    }
    ASSERT_GT(line[true].size(), line[false].size() + 20000);
    const auto want = ReadAll(line[false], 5);
    ASSERT_EQ(want.size(), 5001u);   // the PING_RESPONSE and the flood
    EXPECT_TRUE(ReadAll(line[true], 3) == want);
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
    Bytes blindConf = {45, 30, 1, 5, 0, 5, 0, 0, 0, 7, 3};         // auto, cycle 500 ms
    Request(sim, 0x0016, 0x0203, blindConf, t0);
    Request(sim, 0x0018, 0x0203, {}, t0);
    sim.OnTime(t0 + 50ms);
    const std::vector<SimFrame> frames = Sent(sim);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(ExpectedLogText(frames[0].command, frames[0].data, frames[0].length),
              " |-->| 0x0102 |REF_CONF           |31 00 1E 00 ");
    EXPECT_EQ(Bytes(frames[1].data + 7, frames[1].data + frames[1].length), blindConf);

    int reports = 0;
    for (int step = 1; step <= 50; ++step) {   // five seconds in 100 ms steps
        sim.OnTime(t0 + step * 100ms);
        for (const SimFrame& f : Sent(sim)) {
            EXPECT_EQ(ExpectedLogText(f.command, f.data, f.length).substr(0, 35), " |-->| 0x0203 |BLIND_RSP          |");
            ++reports;
        }
    }
    EXPECT_EQ(reports, 10);

    // Reports addressed to another node never reach the dongle.
    blindConf[7] = 0x11;
    Request(sim, 0x0016, 0x0203, blindConf, t0 + 5s);
    for (int step = 51; step <= 70; ++step)
        sim.OnTime(t0 + step * 100ms);
    EXPECT_TRUE(Sent(sim).empty());
}

TEST(CaptureCommands, ReadAsTheDialogsReadAndRefuseSlips)
{
    DongleMessage msg;
    std::string error;
    EXPECT_EQ(ParseCaptureCommand("  blindconf 0x0201 255 0 1 65535 0 ffff 255 8 ", msg, error), CaptureCommand::SEND);
    const uint32_t blind[10] = {MSG_BLIND_NODE_CONF, 0x201, 255, 0, 1, 65535, 0, 0xFFFF, 255, 8};
    EXPECT_EQ(std::memcmp(msg.word, blind, sizeof blind), 0);

    EXPECT_EQ(ParseCaptureCommand("refconf ABCD 16383.75 10,05", msg, error), CaptureCommand::SEND);
    EXPECT_EQ(msg.word[1], 0xABCDu);
    EXPECT_EQ(msg.word[2], 65535u);
    EXPECT_EQ(msg.word[3], 41u);   // a fraction goes up to the next quarter

    // Each value must be the number and nothing else, which the dialogs do not ask; the
    // ranges are the dialogs' own.
    for (const char* bad : {"refconf 1 10x 0", "refconf 1 -1 0", "refreq 1G", "refreq 0x", "blindreq -1", "refreq",
                            "refreq 1 2", "ping now", "Ping", "blindconf 1 256 0 0 0 0 0 0 1"}) {
        error.clear();
        EXPECT_EQ(ParseCaptureCommand(bad, msg, error), CaptureCommand::INVALID) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(ParseCaptureCommand("   ", msg, error), CaptureCommand::NONE);
    EXPECT_EQ(ParseCaptureCommand("quit", msg, error), CaptureCommand::QUIT);
}

}  // namespace
