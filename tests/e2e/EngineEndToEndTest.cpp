// The capture engine against the dongle simulator on a pseudo-terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <set>
#include <thread>

#include "link/DongleLink.h"
#include "tests/e2e/E2eSupport.h"

namespace {

using namespace std::chrono_literals;

class CWarningLog : public IWarningSink {
public:
    void ShowWarning(const char* text) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_texts.push_back(text);
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_texts;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_texts;
};

// Plays the window: takes exactly one line per announcement, on a thread of its own,
// or (when not started) only counts the announcements.
class CLineTaker : public ILineReadyNotify {
public:
    ~CLineTaker() { Stop(); }

    void Start(CDataBuffer* buffer)
    {
        m_pBuffer = buffer;
        m_thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bStop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    void PostLineReady() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_nAnnounced++ == m_nTaken)
            m_wake.notify_one();
    }
    int Announced()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_nAnnounced;
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lines.size();
    }
    int Missing()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_nMissing;
    }

private:
    void Run()
    {
        std::vector<std::string> batch;
        int missing = 0;
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [this] { return m_bStop || m_nTaken < m_nAnnounced; });
            const int count = m_nAnnounced - m_nTaken;
            if (count == 0)
                return;   // stopping, and every announced line taken
            m_nTaken += count;
            guard.unlock();
            batch.clear();
            missing = 0;
            char line[CDataBuffer::SLOT_SIZE];
            for (int i = 0; i < count; ++i) {
                if (m_pBuffer->Get(line) == CDataBuffer::DONE)
                    batch.push_back(line);
                else
                    ++missing;
            }
            guard.lock();
            m_lines.insert(m_lines.end(), batch.begin(), batch.end());
            m_nMissing += missing;
        }
    }

    CDataBuffer* m_pBuffer = nullptr;
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_bStop = false;
    int m_nAnnounced = 0;
    int m_nTaken = 0;
    int m_nMissing = 0;
    std::vector<std::string> m_lines;
};

std::vector<std::string> Received(const std::vector<std::string>& lines)
{
    std::vector<std::string> out;
    for (const std::string& line : lines)
        if (line.find("|-->|") != std::string::npos)
            out.push_back(WithoutTime(line));
    return out;
}

int CountOf(const std::vector<std::string>& lines, const std::string& part)
{
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(part) != std::string::npos;
    }));
}

class EngineEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_link.SetWarningSink(&m_warnings);
        m_link.SetNotifyWindow(&m_taker);
        m_link.GetDataBuffer(&m_pBuffer);
    }
    void TearDown() override
    {
        m_link.StopCapture();
        m_taker.Stop();
    }

    bool Known(int* shortAddr = nullptr, uint64_t* ieee = nullptr)
    {
        return m_link.GetDongleInfo(shortAddr, ieee);
    }
    int Ping()
    {
        DongleMessage msg;
        msg.word[0] = MSG_PING_REQUEST;
        return m_link.SendDongleMessage(msg);
    }

    CTestFolder m_dir;
    CSimProcess m_sim;
    CWarningLog m_warnings;
    CLineTaker m_taker;
    CDongleLink m_link;
    CDataBuffer* m_pBuffer = nullptr;
};

TEST_F(EngineEndToEnd, StartTwiceStopAndStartAgainOnAnExclusivePort)
{
    ASSERT_TRUE(m_sim.Start({"--quiet"}));
    EXPECT_EQ(m_sim.FirstLine().substr(m_sim.FirstLine().size() - 6), " COM21");
    m_taker.Start(m_pBuffer);
    const std::string log = m_dir / "a.log";

    ASSERT_EQ(m_link.StartCapture("COM21", log.c_str(), 0), 1);
    EXPECT_EQ(m_link.StartCapture("COM21", (m_dir / "b.log").c_str(), 0), 0);
    EXPECT_EQ(m_warnings.Texts(), std::vector<std::string>{"Capture already active!"});
    EXPECT_TRUE(m_link.IsCapturing());

    // Nobody else gets the port while we hold it, root included.
    CDongleLink other;
    CWarningLog otherWarnings;
    other.SetWarningSink(&otherWarnings);
    EXPECT_EQ(other.StartCapture("COM21", (m_dir / "c.log").c_str(), 0), 0);
    EXPECT_EQ(otherWarnings.Texts(), std::vector<std::string>{"Not able to Open Com Port: COM21"});

    // The first capture still runs: a PING brings the dongle's identity.
    EXPECT_EQ(Ping(), 1);
    int shortAddr = 0;
    uint64_t ieee = 0;
    ASSERT_TRUE(WaitUntil([&] { return Known(&shortAddr, &ieee); }));
    EXPECT_EQ(shortAddr, 0x796F);
    EXPECT_EQ(ieee, 0x5453524E44000001ull);

    EXPECT_EQ(m_link.StopCapture(), 1);
    EXPECT_EQ(m_link.StopCapture(), 0);
    EXPECT_FALSE(Known());
    EXPECT_EQ(Ping(), 0);
    EXPECT_FALSE(FileExists(m_dir / "b.log"));

    // The port was let go: the same engine starts again on it.
    ASSERT_EQ(m_link.StartCapture("COM21", log.c_str(), 1), 1);
    EXPECT_EQ(Ping(), 1);
    EXPECT_TRUE(WaitUntil([&] { return Known(); }));
    EXPECT_EQ(m_link.StopCapture(), 1);
    EXPECT_EQ(m_warnings.Texts().size(), 1u);
}

TEST_F(EngineEndToEnd, MissingPortRefusesTheCaptureAndKeepsTheLogFileOpen)
{
    const std::string first = m_dir / "first.log";
    const std::string second = m_dir / "second.log";
    EXPECT_EQ(m_link.StartCapture("COM22", first.c_str(), 0), 0);
    EXPECT_EQ(m_link.StartCapture("COM3 (in use)", first.c_str(), 0), 0);
    EXPECT_EQ(m_link.StartCapture("COM22", "", 0), 0);
    EXPECT_EQ(m_warnings.Texts(),
              (std::vector<std::string>{"Not able to Open Com Port: COM22",
                                        "Not able to Open Com Port: COM3 (in use)",
                                        // the file from before is still open
                                        "Not able to Open Com Port: COM22"}));
    EXPECT_FALSE(m_link.IsCapturing());
    EXPECT_EQ(Ping(), 0);
    EXPECT_EQ(m_link.StopCapture(), 0);

    // The log file stayed open after the failed start: the next start goes on in it,
    // whatever name it is given.
    ASSERT_TRUE(m_sim.Start({"--quiet", "--com", "22"}));
    ASSERT_EQ(m_link.StartCapture("COM22", second.c_str(), 0), 1);
    EXPECT_EQ(Ping(), 1);
    ASSERT_TRUE(WaitUntil([&] { return Known(); }));
    m_link.StopCapture();
    EXPECT_EQ(ReadLines(first).size(), 4u);
    EXPECT_FALSE(FileExists(second));
}

TEST_F(EngineEndToEnd, LogFileModesAcrossRestarts)
{
    ASSERT_TRUE(m_sim.Start({"--quiet"}));
    const std::string a = m_dir / "a.log";
    const std::string b = m_dir / "b.log";
    WriteText(a, "an old line\n");
    auto capture = [&](const std::string& file, int append) {
        ASSERT_EQ(m_link.StartCapture("COM21", file.c_str(), append), 1);
        EXPECT_EQ(Ping(), 1);
        EXPECT_TRUE(WaitUntil([&] { return Known(); }));
        // Stop waits for the capture thread, which logs DEV_INFO_RSP right after it
        // records the identity.
        m_link.StopCapture();
    };

    capture(a, 0);   // "wt": emptied
    const std::vector<std::string> firstRun = ReadLines(a);
    ASSERT_EQ(firstRun.size(), 4u);
    for (const std::string& line : firstRun)
        EXPECT_TRUE(IsLogLine(line)) << line;

    capture(a, 1);   // "at": added at the end
    std::vector<std::string> both = ReadLines(a);
    ASSERT_EQ(both.size(), 8u);
    EXPECT_TRUE(std::equal(firstRun.begin(), firstRun.end(), both.begin()));

    capture(b, 0);   // a new name after a stop takes effect
    EXPECT_EQ(ReadLines(b).size(), 4u);
    EXPECT_EQ(ReadLines(a), both);
    EXPECT_TRUE(m_warnings.Texts().empty());
}

TEST_F(EngineEndToEnd, PingSequenceSetsTheIdentityAndPingOrStopLosesIt)
{
    const std::string record = m_dir / "record.txt";
    ASSERT_TRUE(m_sim.Start({"--quiet", "--short-addr", "1234", "--ieee", "0102030405060708",
                             "--record", record}));
    const std::string log = m_dir / "ping.log";
    ASSERT_EQ(m_link.StartCapture("COM21", log.c_str(), 0), 1);
    EXPECT_FALSE(Known());
    EXPECT_EQ(Ping(), 1);
    int shortAddr = 0;
    uint64_t ieee = 0;
    ASSERT_TRUE(WaitUntil([&] { return Known(&shortAddr, &ieee); }));
    EXPECT_EQ(shortAddr, 0x1234);
    EXPECT_EQ(ieee, 0x0102030405060708ull);

    ASSERT_TRUE(WaitUntil([&] { return ReadLines(log).size() == 4; }));
    const std::vector<std::string> lines = ReadLines(log);
    EXPECT_EQ(WithoutTime(lines[0]), " |<--| 0x0000 |PING_REQUEST       |");
    EXPECT_EQ(WithoutTime(lines[1]), " |-->| 0x0000 |PING_RESPONSE      |");
    EXPECT_EQ(WithoutTime(lines[2]), " |<--| 0x0000 |GET_DEVICE_INFO    |");
    EXPECT_EQ(WithoutTime(lines[3]), " |-->| 0x0000 |DEV_INFO_RSP       |00 01 02 03 04 05 06 07 08 34 12 ");
    EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"02 00 07 00 07", "02 00 14 00 14"}));

    // A dongle that takes the PING but does not answer: unknown from the request on.
    m_sim.Pause();
    EXPECT_EQ(Ping(), 1);
    EXPECT_FALSE(Known());
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(Known());
    m_sim.Resume();
    ASSERT_TRUE(WaitUntil([&] { return Known(); }));

    EXPECT_EQ(m_link.StopCapture(), 1);
    EXPECT_FALSE(Known());
}

TEST_F(EngineEndToEnd, SendDuringAnIdleReadGetsThrough)
{
    const std::string record = m_dir / "record.txt";
    ASSERT_TRUE(m_sim.Start({"--quiet", "--record", record}));
    m_taker.Start(m_pBuffer);
    ASSERT_EQ(m_link.StartCapture("COM21", (m_dir / "idle.log").c_str(), 0), 1);
    std::this_thread::sleep_for(250ms);   // the capture thread now waits in a read

    DongleMessage xy;
    xy.word[0] = MSG_XY_RSSI_REQ;
    xy.word[1] = BROADCAST_ADDR;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_link.SendDongleMessage(xy), 1);
    // Held at most by one idle read; a send that waits for traffic would hang here.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

    // Every reference node answers once.
    ASSERT_TRUE(WaitUntil([&] { return CountOf(m_taker.Lines(), "REF_RSP") == 5; }));
    std::set<std::string> from;
    for (const std::string& line : m_taker.Lines())
        if (line.find("REF_RSP") != std::string::npos)
            from.insert(line.substr(19, 6));
    EXPECT_EQ(from, (std::set<std::string>{"0x0101", "0x0102", "0x0103", "0x0104", "0x0105"}));
    EXPECT_EQ(ReadLines(record),
              std::vector<std::string>{"02 00 18 07 CB FF FF CA 11 00 00 0F"});
}

TEST_F(EngineEndToEnd, FullQueueKeepsLoggingButQueuesAndCountsNoMore)
{
    const std::string expect = m_dir / "expect.txt";
    const std::string record = m_dir / "record.txt";
    const std::string log = m_dir / "full.log";
    ASSERT_TRUE(m_sim.Start({"--flood", "300", "--expect", expect, "--record", record}));
    // Nobody takes lines: the taker only counts the announcements.
    ASSERT_EQ(m_link.StartCapture("COM21", log.c_str(), 0), 1);
    EXPECT_EQ(Ping(), 1);
    ASSERT_TRUE(WaitUntil([&] { return ReadLines(log).size() >= 304; }));
    std::this_thread::sleep_for(200ms);

    EXPECT_EQ(m_link.GetLineCounter(), 256);
    EXPECT_EQ(m_taker.Announced(), 256);
    EXPECT_EQ(m_pBuffer->GetCount(), 256);

    // A PING answered while the queue is full: its line cannot be queued, so no
    // GET_DEVICE_INFO follows.
    EXPECT_EQ(Ping(), 1);
    ASSERT_TRUE(WaitUntil([&] {
        const auto w = m_warnings.Texts();
        return std::find(w.begin(), w.end(), "Not able log Ping Response") != w.end();
    }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(CountOf(ReadLines(record), "02 00 14 00 14"), 1);
    EXPECT_EQ(m_link.GetLineCounter(), 256);

    // The queue holds the first 256 lines, in order; the log file has them all.
    const std::vector<std::string> logged = ReadLines(log);
    ASSERT_EQ(logged.size(), 306u);
    char line[CDataBuffer::SLOT_SIZE];
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(m_pBuffer->Get(line), CDataBuffer::DONE);
        EXPECT_EQ(logged[static_cast<size_t>(i)], line);
    }
    EXPECT_EQ(m_pBuffer->Get(line), CDataBuffer::EMPTY);
    EXPECT_EQ(Received(logged), ReadLines(expect));

    // Room again: the next line is queued and counted on from 256.
    EXPECT_EQ(Ping(), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_link.GetLineCounter() == 260; }));
    EXPECT_TRUE(Known());
}

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
    m_taker.Start(m_pBuffer);
    const std::time_t started = std::time(nullptr);
    ASSERT_EQ(m_link.StartCapture("COM21", log.c_str(), 0), 1);
    EXPECT_EQ(Ping(), 1);
    EXPECT_TRUE(WaitUntil([&] { return m_taker.Count() >= FRAMES + 4u; }, 25s));
    m_link.StopCapture();
    m_taker.Stop();

    const std::vector<std::string> lines = m_taker.Lines();
    const std::vector<std::string> expected = ReadLines(expect);
    ASSERT_EQ(expected.size(), FRAMES + 2u);   // the flood, PING_RESPONSE and DEV_INFO_RSP
    EXPECT_EQ(Received(lines), expected);
    EXPECT_EQ(ReadLines(log), lines);
    EXPECT_EQ(m_taker.Missing(), 0);
    EXPECT_EQ(m_link.GetLineCounter(), static_cast<int>(lines.size()));
    EXPECT_TRUE(m_warnings.Texts().empty());

    std::tm utc;
    gmtime_r(&started, &utc);
    ASSERT_FALSE(lines.empty());
    const int stamped = std::stoi(lines[0].substr(0, 2)) * 3600 +
                        std::stoi(lines[0].substr(3, 2)) * 60 + std::stoi(lines[0].substr(6, 2));
    const int now = utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec;
    EXPECT_LE((stamped - now + 86400) % 86400, 5) << lines[0];
    for (const std::string& l : lines)
        ASSERT_TRUE(IsLogLine(l)) << l;
    unsetenv("TZ");
    tzset();
}

TEST_F(EngineEndToEnd, UnpluggedDongleIsForgottenWithoutSpinningAndStopStillWorks)
{
    ASSERT_TRUE(m_sim.Start({"--quiet"}));
    ASSERT_EQ(m_link.StartCapture("COM21", (m_dir / "gone.log").c_str(), 0), 1);
    EXPECT_EQ(Ping(), 1);
    ASSERT_TRUE(WaitUntil([&] { return Known(); }));

    m_sim.Kill();
    EXPECT_TRUE(WaitUntil([&] { return !Known(); }, 3s));
    // A loop that takes "ready but empty" for "no data yet" burns a whole core.
    timespec before, after;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    std::this_thread::sleep_for(1s);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    const double cpu = (after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_LT(cpu, 0.3);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_link.StopCapture(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);   // a hang guard, not a speed test

    // Plugged in again: a new capture works.
    ASSERT_TRUE(m_sim.Start({"--quiet"}));
    ASSERT_EQ(m_link.StartCapture("COM21", (m_dir / "gone.log").c_str(), 1), 1);
    EXPECT_EQ(Ping(), 1);
    EXPECT_TRUE(WaitUntil([&] { return Known(); }));
}

}  // namespace
