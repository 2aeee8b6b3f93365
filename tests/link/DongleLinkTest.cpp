#include "link/DongleLink.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <time.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "link/Frame.h"
#include "platform/ComPortNames.h"
#include "tests/platform/TestPty.h"

using testpty::MsSince;
using testpty::PtyPeer;
using testpty::ReadFile;
using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

namespace {

Bytes Frame(uint16_t command, const Bytes& data)
{
    Bytes out(data.size() + FRAME_OVERHEAD);
    out.resize(static_cast<size_t>(BuildFrame(command, data.data(), static_cast<int>(data.size()), out.data())));
    return out;
}

class CollectingSink : public IWarningSink {
public:
    void ShowWarning(const char* text) override
    {
        std::lock_guard<std::mutex> guard(lock);
        texts.emplace_back(text);
    }
    Texts Take()
    {
        std::lock_guard<std::mutex> guard(lock);
        return std::move(texts);
    }
    std::mutex lock;
    Texts texts;
};

bool WaitFor(const std::function<bool()>& condition)
{
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (MsSince(start) > 3000)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Strips the time stamp after checking its form.
std::string Untimed(const std::string& line)
{
    EXPECT_TRUE(std::regex_search(line, std::regex("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d "))) << line;
    return line.size() > 13 ? line.substr(13) : line;
}

Texts LoggedLines(const std::string& path)
{
    std::istringstream text(ReadFile(path));
    Texts lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(Untimed(line));
    return lines;
}

DongleMessage Message(uint32_t type, uint32_t addr = 0, std::vector<uint32_t> params = {})
{
    DongleMessage m;
    m.word[0] = type;
    m.word[1] = addr;
    for (size_t i = 0; i < params.size(); ++i)
        m.word[2 + i] = params[i];
    return m;
}

class DongleLinkTest : public ::testing::Test, public ILineReadyNotify {
protected:
    void SetUp() override
    {
        link.SetWarningSink(&sink);
        link.SetNotifyWindow(this);
        link.GetDataBuffer(&buffer);
    }
    // Before this fixture, the capture thread's notify target, starts to go away: the
    // engine member would stop it only after.
    void TearDown() override { link.StopCapture(); }
    void PostLineReady() override { ++posts; }
    Texts TakeLines()
    {
        Texts lines;
        char line[CDataBuffer::SLOT_SIZE];
        while (buffer->Get(line) == CDataBuffer::DONE)
            lines.push_back(Untimed(line));
        return lines;
    }
    int Ping() { return link.SendDongleMessage(Message(MSG_PING_REQUEST)); }

    testpty::TempFolder folder{"engine"};
    const std::string logPath = folder.path + "/Tessarin.log";
    CollectingSink sink;
    std::atomic<int> posts{0};
    CDongleLink link;
    CDataBuffer* buffer = nullptr;
};

}  // namespace

TEST_F(DongleLinkTest, StartAndStopSayWhyAndKeepTheirLogFile)
{
    std::ofstream(logPath) << "old capture\n";
    EXPECT_EQ(link.StartCapture("COM21", "", 0), 0);
    const std::string badLog = folder.path + "/missing/x.log";
    EXPECT_EQ(link.StartCapture("COM21", badLog.c_str(), 0), 0);
    EXPECT_EQ(link.StartCapture("COM3 (in use)", logPath.c_str(), 0), 0);
    EXPECT_EQ(sink.Take(), (Texts{"Not able to Open Log File: ", "Not able to Open Log File: " + badLog,
                                  "Not able to Open Com Port: COM3 (in use)"}));
    EXPECT_FALSE(link.IsCapturing());
    EXPECT_EQ(Ping(), 0);
    EXPECT_EQ(link.StopCapture(), 0);

    // The log file stayed open (emptied): the next start goes on writing to it, whatever
    // name it gets.
    PtyPeer peer("COM21");
    const std::string other = folder.path + "/other.log";
    ASSERT_EQ(link.StartCapture("COM21", other.c_str(), 0), 1);
    EXPECT_EQ(ProbeComPort("COM21"), PORT_IN_USE) << "our own capture holds the port";
    EXPECT_EQ(link.StartCapture("COM21", other.c_str(), 0), 0);
    EXPECT_EQ(sink.Take(), Texts{"Capture already active!"});
    EXPECT_EQ(Ping(), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.StopCapture(), 1);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(link.StopCapture(), 0);
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE);
    EXPECT_FALSE(std::filesystem::exists(other));

    // Appending keeps the first capture; a new name after a stop takes effect.
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 1), 1);
    link.SendDongleMessage(Message(MSG_XY_RSSI_REQ, 0xFFFF));
    link.StopCapture();
    ASSERT_EQ(link.StartCapture("COM21", other.c_str(), 0), 1);
    link.SendDongleMessage(Message(MSG_BLIND_FIND_REQ, 0xFFFF));
    link.StopCapture();
    // The log file gets each line as the window does, separators and all.
    const Texts lines = TakeLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "|<--| 0xFFFF |XY_RSSI_REQ        |FF FF CA 11 00 00 ");
    EXPECT_EQ(LoggedLines(logPath), Texts(lines.begin(), lines.begin() + 2));
    EXPECT_EQ(LoggedLines(other), Texts{lines[2]});
    {
        CDongleLink scoped;
        ASSERT_EQ(scoped.StartCapture("COM21", other.c_str(), 1), 1);
    }
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE) << "destruction stops the capture";
    EXPECT_TRUE(sink.Take().empty());
}

TEST_F(DongleLinkTest, PingSequenceSetsAndLosesTheIdentity)
{
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    int shortAddr = 0;
    uint64_t ieee = 0;
    EXPECT_FALSE(link.GetDongleInfo(&shortAddr, &ieee));

    ASSERT_EQ(Ping(), 1);
    EXPECT_EQ(peer.Receive(5), (Bytes{0x02, 0x00, 0x07, 0x00, 0x07}));
    peer.Send(Frame(CMD_PING_RESPONSE, {0x00}));
    // The engine answers on its own with GET_DEVICE_INFO.
    EXPECT_EQ(peer.Receive(5), (Bytes{0x02, 0x00, 0x14, 0x00, 0x14}));
    const Bytes info = {0x00, 0x00, 0x12, 0x4B, 0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x34, 0x12};
    peer.Send(Frame(CMD_DEV_INFO_RSP, info));
    ASSERT_TRUE(WaitFor([&] { return link.GetDongleInfo(&shortAddr, &ieee); }));
    EXPECT_EQ(shortAddr, 0x1234);
    EXPECT_EQ(ieee, 0x00124B000A0B0C0DULL);

    ASSERT_TRUE(WaitFor([&] { return link.GetLineCounter() >= 4; }));
    EXPECT_EQ(TakeLines(), (Texts{"|<--| 0x0000 |PING_REQUEST       |", "|-->| 0x0000 |PING_RESPONSE      |",
                                  "|<--| 0x0000 |GET_DEVICE_INFO    |",
                                  "|-->| 0x0000 |DEV_INFO_RSP       |00 00 12 4B 00 0A 0B 0C 0D 34 12 "}));
    EXPECT_EQ(link.GetLineCounter(), 4);
    EXPECT_EQ(posts.load(), 4);

    // A new PING forgets the dongle until its answer comes; stopping forgets it too.
    Ping();
    EXPECT_FALSE(link.GetDongleInfo(&shortAddr, &ieee));
    peer.Send(Frame(CMD_DEV_INFO_RSP, info));
    ASSERT_TRUE(WaitFor([&] { return link.GetDongleInfo(&shortAddr, &ieee); }));
    link.StopCapture();
    EXPECT_FALSE(link.GetDongleInfo(&shortAddr, &ieee));
    EXPECT_TRUE(sink.Take().empty());
}

// Node messages of every kind, against the simulator's independent account of their
// lines, are the long noisy run of tests/e2e; here the dongle's own answers.
TEST_F(DongleLinkTest, ReceivedFramesBecomeTheirLines)
{
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    peer.Send(Frame(CMD_DATA_INDICATION, {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 0x02, 0x0A, 0x0B}));
    peer.Send(Frame(CMD_PING_RESPONSE, {}));                     // length 0: ignored
    peer.Send(Frame(0x1234, {0x01}));                            // unknown command: ignored
    peer.Send(Frame(CMD_DEV_INFO_RSP, {0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x22, 0x00}));  // status 1
    peer.Send(Frame(CMD_DEV_INFO_RSP, {0x00, 0xAA, 0xBB}));     // too short for an identity
    peer.Send(Frame(CMD_PING_RESPONSE, {0x5A, 0x5B}));           // data never shown
    ASSERT_TRUE(WaitFor([&] { return link.GetLineCounter() >= 5; }));

    EXPECT_EQ(TakeLines(), (Texts{
                               "|-->| 0x1234 |REF_RSP            |0A 0B ",
                               "|-->| 0x0000 |DEV_INFO_RSP       |01 01 02 03 04 05 06 07 08 22 00 ",
                               "|-->| 0x0000 |DEV_INFO_RSP       |00 AA BB ",
                               "|-->| 0x0000 |PING_RESPONSE      |",
                               "|<--| 0x0000 |GET_DEVICE_INFO    |",
                           }));
    EXPECT_FALSE(link.GetDongleInfo(nullptr, nullptr));
    // The only frame the engine sent is the answer to the ping response with data.
    EXPECT_EQ(peer.Receive(64, 300), (Bytes{0x02, 0x00, 0x14, 0x00, 0x14}));
}

TEST_F(DongleLinkTest, EveryMessageTypeOnTheWire)
{
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    EXPECT_EQ(link.SendDongleMessage(Message(MSG_GET_DEVICE_INFO, 0x5555)), 1);
    EXPECT_EQ(peer.Receive(5), (Bytes{0x02, 0x00, 0x14, 0x00, 0x14}));
    EXPECT_EQ(TakeLines(), Texts{"|<--| 0x0000 |GET_DEVICE_INFO    |"});

    // A node message's frame carries 0xCB and then exactly the bytes its line shows.
    const std::pair<DongleMessage, std::string> cases[] = {
        {Message(MSG_XY_RSSI_REQ, 0xFFFF), "|<--| 0xFFFF |XY_RSSI_REQ        |FF FF CA 11 00 00 "},
        {Message(MSG_BLIND_FIND_REQ, 0x0102), "|<--| 0x0102 |BLIND_FIND_REQ     |02 01 CA 13 00 00 "},
        {Message(MSG_REF_NODE_CONF, 0x1234, {0x0028, 0x002A}),
         "|<--| 0x1234 |REF_NODE_CONF      |34 12 CA 15 00 04 28 00 2A 00 "},
        // Words above their width send their low bits only (endpoint 0x1FF -> 0xFF).
        {Message(MSG_BLIND_NODE_CONF, 0x0010, {0x12D, 30, 1, 20, 0x10032, 0xBEEF, 0x1FF, 3}),
         "|<--| 0x0010 |BLIND_NODE_CONF    |10 00 CA 16 00 0B 2D 1E 01 14 00 32 00 EF BE FF 03 "},
        {Message(MSG_REF_NODE_REQ_CONF, 0x0102), "|<--| 0x0102 |REF_NODE_REQ_CONF  |02 01 CA 17 00 00 "},
        {Message(MSG_BLIND_NODE_REQ_CONF, 0x0102), "|<--| 0x0102 |BLIND_NODE_REQ_CONF|02 01 CA 18 00 00 "},
    };
    // The capture thread reads back to back on this idle line. With a plain mutex it could
    // keep winning the port; each send must get it within about one read (500 ms).
    long long worst = 0;
    for (const auto& [msg, line] : cases) {
        SCOPED_TRACE(line);
        Bytes data = {MSG_TAG_FIRST};
        for (size_t at = 34; at + 2 <= line.size(); at += 3)
            data.push_back(static_cast<uint8_t>(std::stoi(line.substr(at, 2), nullptr, 16)));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(link.SendDongleMessage(msg), 1);
        worst = std::max(worst, MsSince(start));
        EXPECT_EQ(peer.Receive(data.size() + FRAME_OVERHEAD), Frame(CMD_DATA_REQUEST, data));
        EXPECT_EQ(TakeLines(), Texts{line});
    }
    for (uint32_t type : {3u, 5u, 10u, 0xFFFFFFFFu}) {
        EXPECT_EQ(link.SendDongleMessage(Message(type, 1)), 0);
        EXPECT_EQ(sink.Take(), Texts{"Unknown message type"});
    }
    EXPECT_TRUE(TakeLines().empty());
    EXPECT_TRUE(peer.Receive(1, 200).empty());
    EXPECT_LT(worst, 2000) << "a send waited for more than the read in progress";
}

TEST_F(DongleLinkTest, LinesTheQueueOrTheLogFileRefuseAreReported)
{
    EXPECT_EQ(link.AddLine(std::string(256, 'L').c_str()), 0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(link.AddLine(std::to_string(i).c_str()), 1);
    EXPECT_EQ(link.AddLine("the 257th"), 0);
    EXPECT_EQ(link.GetLineCounter(), 256);
    EXPECT_EQ(posts.load(), 256);

    // While capturing, a line the queue refuses still reaches the log file.
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    EXPECT_EQ(Ping(), 1);
    EXPECT_NE(ReadFile(logPath).find("PING_REQUEST"), std::string::npos);
    EXPECT_EQ(link.GetLineCounter(), 256);

    // A ping response that cannot be queued is reported and not answered.
    EXPECT_EQ(peer.Receive(5).size(), 5u);
    peer.Send(Frame(CMD_PING_RESPONSE, {0x00}));
    Texts told;
    ASSERT_TRUE(WaitFor([&] { return !(told = sink.Take()).empty(); }));
    EXPECT_EQ(told, Texts{"Not able log Ping Response"});
    EXPECT_TRUE(peer.Receive(5, 300).empty());
    link.StopCapture();

    // Room again, and a log write that fails: reported, and the line still queued and counted.
    buffer->Clear();
    ASSERT_EQ(link.StartCapture("COM21", "/dev/full", 0), 1);
    EXPECT_EQ(Ping(), 1);
    EXPECT_EQ(sink.Take(), Texts{"Not able to add message to Log File"});
    EXPECT_EQ(TakeLines().size(), 1u);
    EXPECT_EQ(link.GetLineCounter(), 257);
}

TEST_F(DongleLinkTest, UnpluggedDongleIdlesWithoutSpinningAndStopStillWorks)
{
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    peer.Send(Frame(CMD_DEV_INFO_RSP, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x01, 0x00}));
    ASSERT_TRUE(WaitFor([&] { return link.GetDongleInfo(nullptr, nullptr); }));

    peer.HangUp();
    ASSERT_TRUE(WaitFor([&] { return link.IsDeviceGone(); }));
    EXPECT_FALSE(link.GetDongleInfo(nullptr, nullptr)) << "nothing may claim the dongle is there";
    EXPECT_TRUE(link.IsCapturing());

    // A spinning capture thread would burn a whole core; allow a generous tenth of one.
    timespec before{}, after{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    EXPECT_LT((after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6, 50.0);

    EXPECT_EQ(Ping(), 0) << "a send to a gone device fails";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.StopCapture(), 1);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(link.IsDeviceGone());

    // Plugged in again: a new capture works.
    PtyPeer again("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 1), 1);
    EXPECT_EQ(Ping(), 1);
    EXPECT_EQ(again.Receive(5).size(), 5u);
}

// A start whose capture thread cannot be made must not leave the engine claiming a
// capture that nothing runs, holding the port. The scenario runs in a fresh copy of this
// binary whose address space has no room for another thread stack: in the test process
// glibc would reuse a stack cached from an earlier test, and the thread would start.
namespace {

int NoThreadScenario(const char* logFile)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long vmKb = 0;
    while (status >> key)
        if (key == "VmSize:" && (status >> vmKb))
            break;
    struct rlimit rl;
    rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(vmKb + 2048) * 1024;
    if (vmKb == 0 || setrlimit(RLIMIT_AS, &rl) != 0)
        return 10;
    CollectingSink sink;
    CDongleLink engine;
    engine.SetWarningSink(&sink);
    if (engine.StartCapture("COM21", logFile, 0) != 0 || engine.IsCapturing())
        return 11;
    if (sink.texts != Texts{"Not able to create Capture thread"})
        return 12;
    if (ProbeComPort("COM21") != PORT_AVAILABLE)
        return 13;   // the port was not closed again
    return engine.StopCapture() == 0 ? 0 : 14;
}

const int g_noThreadChild = [] {
    if (const char* log = std::getenv("TESSARIN_NO_THREAD_LOG"))
        _exit(NoThreadScenario(log));
    return 0;
}();

}  // namespace

TEST_F(DongleLinkTest, NoThreadForTheCaptureUndoesTheStart)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit cannot coexist with the sanitizer's shadow memory";
#endif
    PtyPeer peer("COM21");
    setenv("TESSARIN_NO_THREAD_LOG", logPath.c_str(), 1);
    const pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", "/proc/self/exe", static_cast<char*>(nullptr));
        _exit(127);
    }
    unsetenv("TESSARIN_NO_THREAD_LOG");
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(g_noThreadChild, 0);
}
