// The simulator's own parts without a pseudo-terminal: the noise it adds, as the
// program's frame reader sees it, and the node network's answers and reports.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "link/FrameReader.h"
#include "sim/DongleSim.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
const auto START = CDongleSim::Clock::now();

// What the program logs of a line it reads.
std::vector<std::string> ReadAll(const Bytes& line)
{
    size_t pos = 0;
    CFrameReader reader;
    reader.Reset(MAX_RX_DATA_LENGTH);
    const auto source = [&](uint8_t* buffer, int count) {
        const size_t n = std::min<size_t>(static_cast<size_t>(count), line.size() - pos);
        std::copy_n(line.begin() + long(pos), n, buffer);
        pos += n;
        return static_cast<int>(n);
    };
    std::vector<std::string> lines;
    int command = 0, length = 0;
    uint8_t data[MAX_RX_DATA_LENGTH];
    for (int idle = 0; idle < 3;) {
        if (!reader.ReceiveFrame(source, command, length, data))
            idle += pos == line.size();
        else if (const std::string text = ExpectedLogText(uint16_t(command), data, length); !text.empty())
            lines.push_back(text);
    }
    return lines;
}

// What the program logs of the simulator's frames since last asked.
std::vector<std::string> Heard(CDongleSim& sim)
{
    const Bytes out(sim.OutData(), sim.OutData() + sim.OutSize());
    sim.OutConsumed(sim.OutSize());
    return ReadAll(out);
}

TEST(SimNoise, NeverHidesOrInventsAFrameForTheProgramsReader)
{
    // The same seed gives the same flood with noise and without, both from the first frame heard.
    Bytes line[2];
    for (const bool noise : {false, true}) {
        SimOptions options;
        options.bNoise = noise;
        options.nFlood = 5000;
        CDongleSim sim(options, START);
        const uint8_t ping[] = {0x02, 0x00, 0x07, 0x00, 0x07};
        sim.OnReceived(ping, sizeof ping, START);
        for (; sim.FloodLeft() > 0 || sim.OutSize() > 0; sim.OutConsumed(sim.OutSize())) {
            sim.OnTime(START);
            line[noise].insert(line[noise].end(), sim.OutData(), sim.OutData() + sim.OutSize());
        }
    }
    ASSERT_GT(line[true].size(), line[false].size() + 20000);
    const std::vector<std::string> want = ReadAll(line[false]);
    ASSERT_EQ(want.size(), 5001u);   // the PING_RESPONSE and the flood
    EXPECT_TRUE(ReadAll(line[true]) == want);
}

// A flood as a network at work comes only from the network's own eight nodes; the usual
// flood also carries odd frames from addresses no node has.
TEST(SimFlood, ANetworkAtWorkNamesOnlyItsOwnNodes)
{
    for (const bool networkOnly : {true, false}) {
        SimOptions options;
        options.nFlood = 3000;
        options.bNetworkOnly = networkOnly;
        CDongleSim sim(options, START);
        const uint8_t ping[] = {0x02, 0x00, 0x07, 0x00, 0x07};
        sim.OnReceived(ping, sizeof ping, START);
        std::set<unsigned> strangers;
        size_t lines = 0;
        for (; sim.FloodLeft() > 0 || sim.OutSize() > 0;) {
            sim.OnTime(START);
            for (const std::string& line : Heard(sim)) {
                unsigned addr = 0;
                ++lines;
                ASSERT_EQ(std::sscanf(line.c_str(), " |-->| 0x%4x", &addr), 1) << line;
                if (!(addr >= 0x0101 && addr <= 0x0105) && !(addr >= 0x0201 && addr <= 0x0203) && addr != 0)
                    strangers.insert(addr);
            }
        }
        EXPECT_EQ(lines, 3001u);
        EXPECT_EQ(strangers.empty(), networkOnly) << strangers.size();
    }
}

TEST(SimNetwork, StoresConfigurationsAnswersRequestsAndReportsEveryCycle)
{
    SimOptions options;
    options.bQuiet = true;
    CDongleSim sim(options, START);
    const auto Request = [&](uint16_t cluster, uint16_t dest, const Bytes& msg) {
        Bytes data{0xCB, uint8_t(dest), uint8_t(dest >> 8), 0xCA, uint8_t(cluster), 0, uint8_t(msg.size())};
        data.insert(data.end(), msg.begin(), msg.end());
        uint8_t frame[64];
        sim.OnReceived(frame, BuildFrame(CMD_DATA_REQUEST, data.data(), int(data.size()), frame), START);
    };
    Request(0x0015, 0x0102, {0x31, 0x00, 0x1E, 0x00});              // REF_NODE_CONF
    Request(0x0017, 0x0102, {});                                    // REF_NODE_REQ_CONF
    Request(0x0017, 0x0999, {});                                    // nobody there
    Request(0x0016, 0x0203, {45, 30, 1, 5, 0, 5, 0, 0, 0, 7, 3});   // automatic, every 500 ms
    Request(0x0018, 0x0203, {});                                    // BLIND_NODE_REQ_CONF
    sim.OnTime(START + 50ms);
    EXPECT_EQ(Heard(sim), (std::vector<std::string>{
                              " |-->| 0x0102 |REF_CONF           |31 00 1E 00 ",
                              " |-->| 0x0203 |BLIND_CONF         |2D 1E 01 05 00 05 00 00 00 07 03 "}));
    for (int step = 1; step <= 50; ++step)   // five seconds in 100 ms steps
        sim.OnTime(START + step * 100ms);
    std::vector<std::string> reports = Heard(sim);
    for (std::string& line : reports)
        line.resize(35);
    EXPECT_EQ(reports, std::vector<std::string>(10, " |-->| 0x0203 |BLIND_RSP          |"));
    // Reports to another node never reach the dongle.
    Request(0x0016, 0x0203, {45, 30, 1, 5, 0, 5, 0, 0x11, 0, 7, 3});
    sim.OnTime(START + 7s);
    EXPECT_TRUE(Heard(sim).empty());
}

}   // namespace
