#include "link/DongleLink.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/Frame.h"
#include "platform/ComPortNames.h"
#include "tests/platform/TestPty.h"

using testpty::MsSince;
using testpty::PtyPeer;
using Bytes = std::vector<uint8_t>;

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
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return texts.size();
    }
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> guard(lock);
        return std::move(texts);
    }
    std::mutex lock;
    std::vector<std::string> texts;
};

class CountingNotify : public ILineReadyNotify {
public:
    void PostLineReady() override { ++posts; }
    std::atomic<int> posts{0};
};

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 3000)
{
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (MsSince(start) > timeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::regex kTime("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d ");

// Strips the time stamp after checking its form.
std::string Untimed(const std::string& line)
{
    EXPECT_TRUE(std::regex_search(line, kTime)) << line;
    return line.size() > 13 ? line.substr(13) : line;
}

DongleMessage Message(uint32_t type, uint32_t addr = 0, std::vector<uint32_t> params = {})
{
    DongleMessage m;
    m.word[0] = type;
    m.word[1] = addr;
    for (size_t i = 0; i < params.size() && i < 8; ++i)
        m.word[2 + i] = params[i];
    return m;
}

class DongleLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = testpty::MakeTempFolder("engine");
        logPath = folder + "/Tessarin.log";
        link.SetWarningSink(&sink);
        link.SetNotifyWindow(&notify);
        link.GetDataBuffer(&buffer);
    }
    void TearDown() override
    {
        link.StopCapture();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::vector<std::string> TakeLines()
    {
        std::vector<std::string> lines;
        char line[CDataBuffer::SLOT_SIZE];
        while (buffer->Get(line) == CDataBuffer::DONE)
            lines.push_back(Untimed(line));
        return lines;
    }
    bool WaitForLines(int count) { return WaitFor([&] { return link.GetLineCounter() >= count; }); }

    std::string folder;
    std::string logPath;
    CollectingSink sink;
    CountingNotify notify;
    CDongleLink link;
    CDataBuffer* buffer = nullptr;
};

}  // namespace

static ::testing::Environment* const g_folders =
    ::testing::AddGlobalTestEnvironment(new testpty::PrivateFolders);

TEST_F(DongleLinkTest, StartStopAndStartTwice)
{
    PtyPeer peer("COM21");
    EXPECT_EQ(link.StopCapture(), 0);
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    EXPECT_TRUE(link.IsCapturing());
    EXPECT_EQ(ProbeComPort("COM21"), PORT_IN_USE) << "our own capture holds the port";

    EXPECT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 0);
    EXPECT_EQ(sink.Take(), std::vector<std::string>{"Capture already active!"});
    EXPECT_TRUE(link.IsCapturing());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.StopCapture(), 1);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(link.IsCapturing());
    EXPECT_EQ(link.StopCapture(), 0);
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE);
    EXPECT_TRUE(sink.Take().empty());
}

TEST_F(DongleLinkTest, StartFailuresSayWhyAndStayIdle)
{
    EXPECT_EQ(link.StartCapture("COM21", "", 0), 0);
    EXPECT_EQ(sink.Take(), std::vector<std::string>{"Not able to Open Log File: "});
    const std::string badLog = folder + "/missing/x.log";
    EXPECT_EQ(link.StartCapture("COM21", badLog.c_str(), 0), 0);
    EXPECT_EQ(sink.Take(), std::vector<std::string>{"Not able to Open Log File: " + badLog});

    EXPECT_EQ(link.StartCapture("COM3 (in use)", logPath.c_str(), 0), 0);
    EXPECT_EQ(sink.Take(), std::vector<std::string>{"Not able to Open Com Port: COM3 (in use)"});
    EXPECT_FALSE(link.IsCapturing());
    EXPECT_EQ(link.SendDongleMessage(Message(MSG_PING_REQUEST)), 0);

    // The log file stayed open: the next start goes on writing to it, whatever name it gets.
    PtyPeer peer("COM22");
    const std::string other = folder + "/other.log";
    ASSERT_EQ(link.StartCapture("COM22", other.c_str(), 0), 1);
    EXPECT_EQ(link.SendDongleMessage(Message(MSG_PING_REQUEST)), 1);
    link.StopCapture();
    EXPECT_NE(ReadFile(logPath).find("PING_REQUEST"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(DongleLinkTest, LogFileModesAcrossRestarts)
{
    PtyPeer peer("COM21");
    std::ofstream(logPath) << "old capture\n";
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    link.SendDongleMessage(Message(MSG_PING_REQUEST));
    link.StopCapture();
    EXPECT_EQ(ReadFile(logPath).find("old capture"), std::string::npos);

    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 1), 1);
    link.SendDongleMessage(Message(MSG_XY_RSSI_REQ, 0xFFFF));
    link.StopCapture();
    const std::string both = ReadFile(logPath);
    EXPECT_LT(both.find("PING_REQUEST"), both.find("XY_RSSI_REQ"));

    const std::string second = folder + "/second.log";
    ASSERT_EQ(link.StartCapture("COM21", second.c_str(), 0), 1);
    link.SendDongleMessage(Message(MSG_BLIND_FIND_REQ, 0xFFFF));
    link.StopCapture();
    EXPECT_EQ(ReadFile(logPath), both);
    EXPECT_NE(ReadFile(second).find("BLIND_FIND_REQ"), std::string::npos);

    // The log file gets each line as the window does, separators and all.
    std::vector<std::string> lines = TakeLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "|<--| 0xFFFF |BLIND_FIND_REQ     |FF FF CA 13 00 00 ");
    EXPECT_EQ(Untimed(ReadFile(second)), lines[2] + "\n");
}

TEST_F(DongleLinkTest, PingSequenceSetsAndLosesTheIdentity)
{
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    int shortAddr = 0;
    uint64_t ieee = 0;
    EXPECT_FALSE(link.GetDongleInfo(&shortAddr, &ieee));

    ASSERT_EQ(link.SendDongleMessage(Message(MSG_PING_REQUEST)), 1);
    EXPECT_EQ(peer.Receive(5), (Bytes{0x02, 0x00, 0x07, 0x00, 0x07}));
    peer.Send(Frame(CMD_PING_RESPONSE, {0x00}));
    // The engine answers on its own with GET_DEVICE_INFO.
    EXPECT_EQ(peer.Receive(5), (Bytes{0x02, 0x00, 0x14, 0x00, 0x14}));
    const Bytes info = {0x00, 0x00, 0x12, 0x4B, 0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x34, 0x12};
    peer.Send(Frame(CMD_DEV_INFO_RSP, info));
    ASSERT_TRUE(WaitFor([&] { return link.GetDongleInfo(&shortAddr, &ieee); }));
    EXPECT_EQ(shortAddr, 0x1234);
    EXPECT_EQ(ieee, 0x00124B000A0B0C0DULL);

    const std::vector<std::string> expected = {
        "|<--| 0x0000 |PING_REQUEST       |",
        "|-->| 0x0000 |PING_RESPONSE      |",
        "|<--| 0x0000 |GET_DEVICE_INFO    |",
        "|-->| 0x0000 |DEV_INFO_RSP       |00 00 12 4B 00 0A 0B 0C 0D 34 12 ",
    };
    ASSERT_TRUE(WaitForLines(4));
    EXPECT_EQ(TakeLines(), expected);
    EXPECT_EQ(link.GetLineCounter(), 4);
    EXPECT_EQ(notify.posts.load(), 4);

    // A new PING forgets the dongle until its answer comes.
    link.SendDongleMessage(Message(MSG_PING_REQUEST));
    EXPECT_FALSE(link.GetDongleInfo(&shortAddr, &ieee));
    peer.Receive(5);
    peer.Send(Frame(CMD_DEV_INFO_RSP, info));
    ASSERT_TRUE(WaitFor([&] { return link.GetDongleInfo(&shortAddr, &ieee); }));

    // Stopping forgets it too.
    link.StopCapture();
    EXPECT_FALSE(link.GetDongleInfo(&shortAddr, &ieee));
    EXPECT_TRUE(sink.Take().empty());
}

TEST_F(DongleLinkTest, ReceivedFramesBecomeTheirLines)
{
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    int shortAddr = 0;
    uint64_t ieee = 0;

    peer.Send(Frame(CMD_DATA_INDICATION, {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 0x02, 0x0A, 0x0B}));
    peer.Send(Frame(CMD_DATA_REQUEST, {0xCB, 0x07, 0x00, 0xCA, 0x16, 0x00, 0x00}));   // n = 0
    peer.Send(Frame(CMD_DATA_INDICATION, {0xCB, 0x01, 0x00, 0xCA, 0x42, 0x00, 0x01, 0x99}));
    peer.Send(Frame(CMD_DATA_INDICATION, {0xCB, 0x02, 0x00, 0xCA, 0x14, 0x00, 0x2F, 0xAA, 0xBB}));
    peer.Send(Frame(CMD_PING_RESPONSE, {}));                     // length 0: ignored
    peer.Send(Frame(0x1234, {0x01}));                            // unknown command: ignored
    peer.Send(Frame(CMD_DEV_INFO_RSP, {0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x22, 0x00}));  // status 1
    peer.Send(Frame(CMD_DEV_INFO_RSP, {0x00, 0xAA, 0xBB}));     // too short for an identity
    peer.Send(Frame(CMD_PING_RESPONSE, {0x5A, 0x5B}));           // data never shown
    ASSERT_TRUE(WaitForLines(8));

    const std::vector<std::string> expected = {
        "|-->| 0x1234 |REF_RSP            |0A 0B ",
        "|-->| 0x0007 |BLIND_CONF         |",
        "|-->| 0x0001 |0x0042             |99 ",
        "|-->| 0x0002 |BLIND_RSP          |AA BB ",
        "|-->| 0x0000 |DEV_INFO_RSP       |01 01 02 03 04 05 06 07 08 22 00 ",
        "|-->| 0x0000 |DEV_INFO_RSP       |00 AA BB ",
        "|-->| 0x0000 |PING_RESPONSE      |",
        "|<--| 0x0000 |GET_DEVICE_INFO    |",
    };
    EXPECT_EQ(TakeLines(), expected);
    EXPECT_FALSE(link.GetDongleInfo(&shortAddr, &ieee));
    // The only frame the engine sent is the answer to the ping response with data.
    EXPECT_EQ(peer.Receive(64, 300), (Bytes{0x02, 0x00, 0x14, 0x00, 0x14}));
}

TEST_F(DongleLinkTest, EveryMessageTypeOnTheWire)
{
    EXPECT_EQ(link.SendDongleMessage(Message(MSG_XY_RSSI_REQ, 0xFFFF)), 0) << "not capturing";
    EXPECT_EQ(link.GetLineCounter(), 0);

    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    struct Case {
        DongleMessage msg;
        Bytes frame;
        std::string line;
    };
    const std::vector<Case> cases = {
        {Message(MSG_GET_DEVICE_INFO, 0x5555), {0x02, 0x00, 0x14, 0x00, 0x14},
         "|<--| 0x0000 |GET_DEVICE_INFO    |"},
        {Message(MSG_XY_RSSI_REQ, 0xFFFF),
         {0x02, 0x00, 0x18, 0x07, 0xCB, 0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00, 0x0F},
         "|<--| 0xFFFF |XY_RSSI_REQ        |FF FF CA 11 00 00 "},
        {Message(MSG_REF_NODE_CONF, 0x1234, {0x0028, 0x002A}),
         {0x02, 0x00, 0x18, 0x0B, 0xCB, 0x34, 0x12, 0xCA, 0x15, 0x00, 0x04, 0x28, 0x00, 0x2A, 0x00, 0x27},
         "|<--| 0x1234 |REF_NODE_CONF      |34 12 CA 15 00 04 28 00 2A 00 "},
        // Words above their width send their low bits only (endpoint 0x1FF -> 0xFF).
        {Message(MSG_BLIND_NODE_CONF, 0x0010, {0x12D, 30, 1, 20, 0x10032, 0x0000, 0x1FF, 3}),
         Frame(CMD_DATA_REQUEST, {0xCB, 0x10, 0x00, 0xCA, 0x16, 0x00, 0x0B, 0x2D, 30, 1, 20, 0,
                                  0x32, 0x00, 0x00, 0x00, 0xFF, 3}),
         "|<--| 0x0010 |BLIND_NODE_CONF    |10 00 CA 16 00 0B 2D 1E 01 14 00 32 00 00 00 FF 03 "},
        {Message(MSG_REF_NODE_REQ_CONF, 0x0102),
         Frame(CMD_DATA_REQUEST, {0xCB, 0x02, 0x01, 0xCA, 0x17, 0x00, 0x00}),
         "|<--| 0x0102 |REF_NODE_REQ_CONF  |02 01 CA 17 00 00 "},
        {Message(MSG_BLIND_NODE_REQ_CONF, 0x0102),
         Frame(CMD_DATA_REQUEST, {0xCB, 0x02, 0x01, 0xCA, 0x18, 0x00, 0x00}),
         "|<--| 0x0102 |BLIND_NODE_REQ_CONF|02 01 CA 18 00 00 "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(link.SendDongleMessage(c.msg), 1);
        EXPECT_EQ(peer.Receive(c.frame.size()), c.frame) << c.line;
        const auto lines = TakeLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], c.line);
    }

    for (uint32_t type : {3u, 5u, 10u, 0xFFFFFFFFu}) {
        EXPECT_EQ(link.SendDongleMessage(Message(type, 1)), 0);
        EXPECT_EQ(sink.Take(), std::vector<std::string>{"Unknown message type"});
    }
    EXPECT_TRUE(TakeLines().empty());
    EXPECT_TRUE(peer.Receive(1, 200).empty());
}

TEST_F(DongleLinkTest, FullQueueAndOverlongLine)
{
    const std::string longLine(256, 'L');
    EXPECT_EQ(link.AddLine(longLine.c_str()), 0);
    EXPECT_EQ(link.GetLineCounter(), 0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(link.AddLine(("line " + std::to_string(i)).c_str()), 1);
    EXPECT_EQ(link.AddLine("the 257th"), 0);
    EXPECT_EQ(link.GetLineCounter(), 256);
    EXPECT_EQ(notify.posts.load(), 256);

    // While capturing, a line the queue refuses still reaches the log file.
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", logPath.c_str(), 0), 1);
    EXPECT_EQ(link.SendDongleMessage(Message(MSG_PING_REQUEST)), 1);
    EXPECT_NE(ReadFile(logPath).find("PING_REQUEST"), std::string::npos);
    EXPECT_EQ(link.GetLineCounter(), 256);

    // A ping response that cannot be queued is reported and not answered.
    peer.Receive(5);
    peer.Send(Frame(CMD_PING_RESPONSE, {0x00}));
    ASSERT_TRUE(WaitFor([&] { return sink.Count() > 0; }));
    EXPECT_EQ(sink.Take(), std::vector<std::string>{"Not able log Ping Response"});
    EXPECT_TRUE(peer.Receive(5, 300).empty());
}

TEST_F(DongleLinkTest, FailedLogWriteIsReportedAndTheLineStillQueued)
{
    PtyPeer peer("COM21");
    ASSERT_EQ(link.StartCapture("COM21", "/dev/full", 0), 1);
    EXPECT_EQ(link.SendDongleMessage(Message(MSG_PING_REQUEST)), 1);
    EXPECT_EQ(sink.Take(), std::vector<std::string>{"Not able to add message to Log File"});
    EXPECT_EQ(TakeLines().size(), 1u);
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
    const double cpuMs = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
    EXPECT_LT(cpuMs, 50.0);

    EXPECT_EQ(link.SendDongleMessage(Message(MSG_PING_REQUEST)), 0) << "a send to a gone device fails";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.StopCapture(), 1);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(link.IsDeviceGone());
}

TEST_F(DongleLinkTest, DestructionStopsTheCapture)
{
    PtyPeer peer("COM21");
    {
        CDongleLink scoped;
        scoped.SetWarningSink(&sink);
        ASSERT_EQ(scoped.StartCapture("COM21", logPath.c_str(), 0), 1);
        scoped.SendDongleMessage(Message(MSG_PING_REQUEST));
    }
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE);
    EXPECT_NE(ReadFile(logPath).find("PING_REQUEST"), std::string::npos);
}

TEST_F(DongleLinkTest, NoThreadForTheCaptureUndoesTheStart)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "an address-space limit cannot coexist with the sanitizer's shadow memory";
#endif
    PtyPeer peer("COM21");
    // In a child whose address space has no room for another thread stack.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CollectingSink childSink;
        CDongleLink engine;
        engine.SetWarningSink(&childSink);
        std::ifstream status("/proc/self/status");
        std::string key;
        long vmKb = 0;
        while (status >> key)
            if (key == "VmSize:" && (status >> vmKb))
                break;
        struct rlimit rl;
        rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(vmKb + 2048) * 1024;
        if (vmKb == 0 || setrlimit(RLIMIT_AS, &rl) != 0)
            _exit(10);
        if (engine.StartCapture("COM21", logPath.c_str(), 0) != 0)
            _exit(11);
        if (engine.IsCapturing())
            _exit(12);
        if (childSink.texts != std::vector<std::string>{"Not able to create Capture thread"})
            _exit(13);
        if (ProbeComPort("COM21") != PORT_AVAILABLE)
            _exit(14);   // the port was closed again
        if (engine.StopCapture() != 0)
            _exit(15);
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
