// The capture engine against the dongle simulator on a pseudo-terminal, with a taker
// that plays the window: a long noisy run, end to end. The engine's rules in detail are
// proven in tests/link against a scripted peer, and the capture tool's tests here drive
// it through a whole session with the simulator.

#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "link/DongleLink.h"
#include "tests/e2e/E2eSupport.h"

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

struct CWarningCount : IWarningSink {
    void ShowWarning(const char*) override { ++count; }
    std::atomic<int> count{0};
};

// Plays the window: takes exactly one line per announcement, on a thread of its own.
class CLineTaker : public ILineReadyNotify {
public:
    explicit CLineTaker(CDataBuffer* buffer) : m_thread([this, buffer] { Run(buffer); }) {}
    ~CLineTaker() { Stop(); }
    void PostLineReady() override { ++m_nAnnounced; }
    // Takes the lines still announced, then ends.
    void Stop()
    {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    Lines Taken()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    int Missing() const { return m_nMissing; }

private:
    void Run(CDataBuffer* buffer)
    {
        char line[CDataBuffer::SLOT_SIZE];
        for (int taken = 0; !m_bStop || taken < m_nAnnounced;) {
            if (taken == m_nAnnounced) {
                std::this_thread::sleep_for(1ms);
            } else if (++taken, buffer->Get(line) != CDataBuffer::DONE) {
                ++m_nMissing;
            } else {
                std::lock_guard<std::mutex> guard(m_lock);
                m_lines.push_back(line);
            }
        }
    }

    std::atomic<int> m_nAnnounced{0};
    std::atomic<int> m_nMissing{0};
    std::atomic<bool> m_bStop{false};
    std::mutex m_lock;
    Lines m_lines;
    std::thread m_thread;
};

CDataBuffer* BufferOf(CDongleLink& link)
{
    CDataBuffer* buffer = nullptr;
    link.GetDataBuffer(&buffer);
    return buffer;
}

// The received lines without their time stamps.
Lines Received(const Lines& lines)
{
    Lines out;
    for (const std::string& line : lines)
        if (line.find("|-->|") != std::string::npos)
            out.push_back(line.substr(12));
    return out;
}

class EngineEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_link.SetWarningSink(&m_warnings);
        m_link.SetNotifyWindow(&m_taker);
    }
    void TearDown() override { m_link.StopCapture(); }

    CTestFolder m_dir;
    CSimProcess m_sim;
    CWarningCount m_warnings;
    CDongleLink m_link;
    CLineTaker m_taker{BufferOf(m_link)};
};

TEST_F(EngineEndToEnd, LongNoisyRunDeliversEveryGoodFrameOnceAndInOrder)
{
    // Time stamps are UTC whatever the zone; a zone far from UTC shows a local time.
    setenv("TZ", "XST-5:45", 1);
    tzset();
    const std::string expect = m_dir / "expect.txt";
    const std::string log = m_dir / "noise.log";
    constexpr int FRAMES = 20000;
    // Paced, so that a busy machine cannot make the taker fall 256 lines behind; the
    // benchmark floods at full speed.
    ASSERT_TRUE(m_sim.Start({"--noise", "--flood", std::to_string(FRAMES), "--rate", "5000",
                             "--seed", "7", "--expect", expect}));
    const std::time_t started = std::time(nullptr);
    ASSERT_EQ(m_link.StartCapture("COM21", log.c_str(), 0), 1);
    DongleMessage ping;
    EXPECT_EQ(m_link.SendDongleMessage(ping), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_taker.Taken().size() >= FRAMES + 4u; }, 25s));
    m_link.StopCapture();
    m_taker.Stop();

    const Lines lines = m_taker.Taken();
    const Lines expected = ReadLines(expect);
    ASSERT_EQ(expected.size(), FRAMES + 2u);   // the flood, PING_RESPONSE and DEV_INFO_RSP
    EXPECT_EQ(Received(lines), expected);
    EXPECT_EQ(ReadLines(log), lines);
    EXPECT_EQ(m_taker.Missing(), 0);
    EXPECT_EQ(m_link.GetLineCounter(), static_cast<int>(lines.size()));
    EXPECT_EQ(m_warnings.count, 0);

    std::tm utc;
    gmtime_r(&started, &utc);
    ASSERT_FALSE(lines.empty());
    const int stamped = std::stoi(lines[0].substr(0, 2)) * 3600 + std::stoi(lines[0].substr(3, 2)) * 60 +
                        std::stoi(lines[0].substr(6, 2));
    const int now = utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec;
    EXPECT_LE((stamped - now + 86400) % 86400, 5) << lines[0];
    for (const std::string& l : lines)
        ASSERT_TRUE(IsLogLine(l)) << l;
    unsetenv("TZ");
    tzset();
}

}  // namespace
