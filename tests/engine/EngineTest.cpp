// The capture engine against a scripted dongle on a pseudo-terminal, and the headless
// tool as a user runs it, against the simulator.

#include "link/DongleLink.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include "link/Frame.h"
#include "platform/ComPortNames.h"
#include "tests/support/PosixPeers.h"

namespace {

long Entries(const char* folder)
{
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

const Bytes kPing = {0x02, 0x00, 0x07, 0x00, 0x07}, kGetInfo = {0x02, 0x00, 0x14, 0x00, 0x14};
const Bytes kInfo = {0x00, 0x00, 0x12, 0x4B, 0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x34, 0x12};

class EngineCapture : public ::testing::Test, public ILineReadyNotify {
protected:
    EngineCapture()
    {
        link.SetWarningSink(&sink);
        link.SetNotifyWindow(this);
        link.GetDataBuffer(&buffer);
    }
    void PostLineReady() override { ++posts; }
    int Ping() { return link.SendDongleMessage(DongleMessage()); }
    bool Known() { return link.GetDongleInfo(nullptr, nullptr); }

    CScratchFolder dir{"engine"};
    const std::string log = dir / "Tessarin.log";
    CCollectingSink sink;
    std::atomic<int> posts{0};
    CPtyPeer peer{"COM21"};
    CDongleLink link;   // after what its capture uses: it stops the capture first
    CDataBuffer* buffer = nullptr;
};

}   // namespace

// The capture thread takes the port again right after each read; a sender must still
// get it next.
TEST(EnginePortLock, AWaitingSenderGoesBeforeTheNextRead)
{
    CPortLock lock;
    std::atomic<int> sender{0};
    lock.LockForRead();
    std::thread send([&] {
        sender = 1;
        lock.LockForWrite();
        sender = 2;
        lock.Unlock();
    });
    ASSERT_TRUE(WaitUntil([&] { return sender == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));   // into its wait
    lock.Unlock();
    lock.LockForRead();
    EXPECT_EQ(sender, 2);
    lock.Unlock();
    send.join();
}

// An ordinary user allowed no more processes gets no thread: the start must not leave
// the engine claiming a capture that nothing runs, holding the port and the log file.
// A hang-up reads as "ready, 0 bytes" or as an error; taking either for "no data yet"
// made the capture thread spin.
TEST_F(EngineCapture, NoThreadOrAnUnpluggedDongleLeavesNothingBehind)
{
    for (const std::string& f : {PrivateRoot(), PrivateRoot() + "/config", PrivateRoot() + "/config/tessarin",
                                 PortLinkFolder(), peer.SlavePath()})
        chmod(f.c_str(), f == peer.SlavePath() ? 0666 : 0755);
    auto startWithoutAThread = [this] {
        const rlimit none = {0, 0};
        prctl(PR_SET_DUMPABLE, 1);   // its own /proc/self/fd to read
        const long fds = Entries("/proc/self/fd");
        if (setrlimit(RLIMIT_NPROC, &none) != 0 || link.StartCapture("COM21", "/dev/null", 0) != 0)
            return 10;
        if (link.IsCapturing() || sink.Warnings() != Texts{"Not able to create Capture thread"})
            return 11;
        return Entries("/proc/self/fd") != fds || link.StopCapture() != 0 ? 12 : 0;
    };
    EXPECT_EQ(AsOrdinaryUser(startWithoutAThread), 0);
    // A device of a group the user is not in: listed so, and Start names the group.
    ASSERT_EQ(chown(peer.SlavePath().c_str(), 0, 20) + chmod(peer.SlavePath().c_str(), 0660), 0);
    const group* dialout = getgrgid(20);
    const Texts told = {"Not able to Open Com Port: COM21 (no access)\nYou may not use " + peer.SlavePath() +
                        ": join the group \"" + (dialout ? dialout->gr_name : "20") +
                        "\" (then log in again)."};
    const auto refused = [&] {
        const bool listed = ProbeComPort("COM21") == PORT_NO_ACCESS;
        return listed && link.StartCapture("COM21 (no access)", "/dev/null", 0) == 0 &&
               sink.Warnings() == told;
    };
    EXPECT_EQ(AsOrdinaryUser([&] { return refused() ? 0 : 1; }), 0);
    chmod(peer.SlavePath().c_str(), 0666);

    std::thread([] {}).join();   // a sanitizer's own thread starts with the first of ours
    const long fds = Entries("/proc/self/fd"), threads = Entries("/proc/self/task");
    for (bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "hung up by force" : "unplugged");
        CPtyPeer dongle("COM22");
        ASSERT_EQ(link.StartCapture("COM22", log.c_str(), 1), 1);
        dongle.Send(Frame(CMD_DEV_INFO_RSP, kInfo));
        ASSERT_TRUE(WaitUntil([&] { return Known(); }));
        const int fd = open(dongle.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (forced)
            EXPECT_EQ(ioctl(fd, TIOCVHANGUP), 0);
        else
            dongle.HangUp();
        close(fd);
        if (forced) {   // the device is still there: taken up again at once, and pinged
            EXPECT_EQ(dongle.Receive(5), kPing);
            EXPECT_TRUE(WaitUntil([&] { return !link.IsDeviceGone(); }));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return link.IsDeviceGone(); }, std::chrono::milliseconds(600)));
            EXPECT_TRUE(link.IsCapturing() && !Known()) << "nothing may claim the dongle is there";
            const std::clock_t cpu = std::clock();   // a spin would burn the whole 500 ms
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 20);
            EXPECT_EQ(Ping(), 0) << "a send to a gone device fails";
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(link.StopCapture() == 1 && !link.IsDeviceGone());
        EXPECT_LT(MsSince(start), 1000);
    }
    EXPECT_EQ(std::make_pair(Entries("/proc/self/fd"), Entries("/proc/self/task")),
              std::make_pair(fds, threads));

    ASSERT_EQ(link.StartCapture("COM21", log.c_str(), 1), 1);   // another dongle
    EXPECT_TRUE(Ping() == 1 && peer.Receive(5) == kPing);
}

// Unplugged and plugged in again, the dongle is taken up again by itself: each frame sent
// while it was there is logged once and in order, after the ping of its return. Another
// device under the number is not taken, and the dongle is found under its own number
// wherever its node now is.
TEST_F(EngineCapture, ACaptureGoesOnAfterEachOfAHundredReplugs)
{
    auto dongle = std::make_unique<CPtyPeer>("COM22");
    ASSERT_EQ(link.StartCapture("COM22", log.c_str(), 0), 1);
    Texts expected;
    for (int i = 0; i < 100; ++i) {
        if (i == 0)
            Ping();
        ASSERT_EQ(dongle->Receive(5), kPing) << i;
        // 48 bytes, a whole read: no wait for the line to fall quiet.
        Bytes data = {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 36, static_cast<uint8_t>(i)};
        data.resize(43, 0x5A);
        dongle->Send(Frame(CMD_DATA_INDICATION, data));
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", i);
        std::string payload = hex;
        for (int k = 1; k < 36; ++k)
            payload += "5A ";
        expected.push_back("|<--| 0x0000 |PING_REQUEST       |");
        expected.push_back("|-->| 0x1234 |REF_RSP            |" + payload);
        ASSERT_TRUE(WaitUntil([&] { return ReadLines(log).size() == expected.size(); })) << i;
        dongle.reset();
        dongle = std::make_unique<CPtyPeer>("COM22");
    }
    EXPECT_EQ(WithoutTimes(ReadLines(log)), expected);
    link.StopCapture();

    RememberComPortNumbers("COM5=usb-Dongle_A\n");
    auto a = std::make_unique<CUsbDongle>("usb-Dongle_A", "ttyUSB0");
    ASSERT_EQ(link.StartCapture("COM5", log.c_str(), 0), 1);
    a.reset();
    ASSERT_TRUE(WaitUntil([&] { return link.IsDeviceGone(); }));
    CUsbDongle b("usb-Dongle_B", "ttyUSB0");
    EXPECT_TRUE(b.Peer().Receive(1, 500).empty()) << "another dongle's node";
    a = std::make_unique<CUsbDongle>("usb-Dongle_A", "ttyUSB1");
    EXPECT_EQ(a->Peer().Receive(5), kPing);
    link.StopCapture();   // before the fixture, which its lines are announced to, goes
    RememberComPortNumbers("");
}

// One capture at a time, and what it receives and answers.
TEST_F(EngineCapture, OneCaptureItsFramesThePingSequenceAndTheIdentity)
{
    const std::string other = dir / "other.log";
    ASSERT_EQ(link.StartCapture("COM21", log.c_str(), 0), 1);
    EXPECT_EQ(link.StartCapture("COM21", other.c_str(), 0), 0);
    EXPECT_TRUE(Ping() == 1 && peer.Receive(5) == kPing);
    CDongleLink second;   // given the same log file too: refused, and that log file kept
    second.SetWarningSink(&sink);
    EXPECT_EQ(second.StartCapture("COM21", log.c_str(), 0), 0);
    for (const Bytes& frame :
         {Frame(CMD_DATA_INDICATION, {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 0x02, 0x0A, 0x0B}),
          Frame(CMD_PING_RESPONSE, {}), Frame(0x1234, {0x01}),                   // ignored
          Frame(CMD_DEV_INFO_RSP, {0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x22, 0x00}),   // status 1
          Frame(CMD_DEV_INFO_RSP, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9})})           // too short
        peer.Send(frame);
    ASSERT_TRUE(WaitUntil([&] { return link.GetLineCounter() == 4; }));
    EXPECT_FALSE(Known());
    peer.Send(Frame(CMD_PING_RESPONSE, {0x5A}));   // answered with GET_DEVICE_INFO
    EXPECT_EQ(peer.Receive(5), kGetInfo);
    peer.Send(Frame(CMD_DEV_INFO_RSP, kInfo));
    int shortAddr = 0;   // both from one answer
    uint64_t ieee = 0;
    ASSERT_TRUE(WaitUntil([&] { return link.GetDongleInfo(&shortAddr, &ieee); }));
    EXPECT_EQ(std::make_pair(shortAddr, ieee), std::make_pair(0x1234, uint64_t{0x00124B000A0B0C0D}));
    Texts shown;
    for (char line[CDataBuffer::SLOT_SIZE]; buffer->Get(line) == CDataBuffer::DONE;)
        shown.push_back(line);
    EXPECT_EQ(WithoutTimes(shown),
              (Texts{"|<--| 0x0000 |PING_REQUEST       |", "|-->| 0x1234 |REF_RSP            |0A 0B ",
                     "|-->| 0x0000 |DEV_INFO_RSP       |01 01 02 03 04 05 06 07 08 22 00 ",
                     "|-->| 0x0000 |DEV_INFO_RSP       |00 01 02 03 04 05 06 07 08 09 ",
                     "|-->| 0x0000 |PING_RESPONSE      |", "|<--| 0x0000 |GET_DEVICE_INFO    |",
                     "|-->| 0x0000 |DEV_INFO_RSP       |00 00 12 4B 00 0A 0B 0C 0D 34 12 "}));
    EXPECT_EQ(std::make_pair(link.GetLineCounter(), posts.load()), std::make_pair(7, 7)) << "counted, told";
    Ping();   // forgets the dongle until its answer comes; stopping forgets it too
    EXPECT_FALSE(Known());
    peer.Send(Frame(CMD_DEV_INFO_RSP, kInfo));
    ASSERT_TRUE(WaitUntil([&] { return Known(); }));
    EXPECT_TRUE(link.StopCapture() == 1 && link.StopCapture() == 0);
    EXPECT_FALSE(Known());

    ASSERT_EQ(link.StartCapture("COM21", other.c_str(), 0), 1);   // a new name after a stop
    buffer->Clear();
    for (uint32_t type : {3u, 10u, 0xFFFFFFFFu})
        EXPECT_EQ(link.SendDongleMessage(DongleMessage{{type, 1}}), 0);
    // Another opener stops the output, as a dongle holding CTS low does: the message
    // cannot leave, and neither the result nor the log may say it did.
    const int held = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(held >= 0 && tcflow(held, TCOOFF) == 0);
    EXPECT_EQ(link.SendDongleMessage(DongleMessage{{MSG_REF_NODE_REQ_CONF, 0x1234}}), 0);
    tcflow(held, TCOON);
    close(held);
    // A node message too short for its header is shown, but its address is no node's.
    peer.Send(Frame(CMD_DATA_INDICATION, {0x00, 0x01, 0x01, 0x00}));
    ASSERT_TRUE(WaitUntil([&] { return buffer->GetCount() == 3; }));
    Texts lines;
    bool namesNode[3] = {};
    for (char line[CDataBuffer::SLOT_SIZE]; buffer->Get(line, &namesNode[lines.size()]) == CDataBuffer::DONE;)
        lines.push_back(line);
    EXPECT_EQ(WithoutTimes(lines), (Texts{"|<--| 0x1234 |REF_NODE_REQ_CONF  |34 12 CA 17 00 00 ",
                                          "|<--| 0x1234 |SEND_FAILED        |34 12 CA 17 00 00 ",
                                          "|-->| 0x0101 |0x0000             |"}));
    EXPECT_TRUE(namesNode[0] && namesNode[1] && !namesNode[2]);

    // A full queue: a line it refuses still reaches the log file but is not counted,
    // and a ping response that cannot be shown is not answered.
    while (link.AddLine("filler") == 1) {
    }
    EXPECT_EQ(Ping(), 1);
    EXPECT_NE(ReadFile(other).find("PING_REQUEST"), std::string::npos);
    EXPECT_EQ(peer.ReceiveAll().size(), 10u) << "the two pings";
    peer.Send(Frame(CMD_PING_RESPONSE, {0x00}));
    const Texts told = {"Capture already active!", "Not able to Open Log File: " + log,
                        "Unknown message type",    "Unknown message type",
                        "Unknown message type",    "Not able log Ping Response"};
    EXPECT_TRUE(WaitUntil([&] { return sink.Warnings() == told; })) << sink.Warnings().size();
    EXPECT_TRUE(peer.Receive(5, 300).empty());
    EXPECT_EQ(std::make_pair(link.GetLineCounter(), posts.load()), std::make_pair(268, 268))
        << "twelve taken, 256 queued";
}

// Bad arguments and ports that cannot be opened start nothing; then one session.
TEST(EngineTool, ArgumentsAndASessionWithTheSimulator)
{
    CScratchFolder dir("tool");
    CSimProcess sim;
    const std::string record = dir / "record.txt", log = dir / "run.log";
    ASSERT_TRUE(sim.Start({"--quiet", "--record", record}));
    CSerialPort holder;   // another program holds COM21
    ASSERT_TRUE(holder.Open("COM21", 38400));
    const std::pair<Texts, std::string> cases[] = {
        {{}, "which port?"},
        {{"COM21", "--seconds", "0"}, "--seconds needs"},
        {{"COM21", "--log"}, "--log needs"},
        {{"COM21", "--bogus"}, "unknown option --bogus"},
        {{"COM21", "COM22"}, "one port only"},
        {{"COM22"}, "Not able to Open Com Port: COM22"},
        {{"COM21"}, "Not able to Open Com Port: COM21"},
        {{"COM21", "--log", ""}, "Not able to Open Log File: \n"},
        {{"COM21", "--log", dir / "no/x.log"}, "Not able to Open Log File: " + dir / "no/x.log"},
        {{"--help"}, ""}};
    for (const auto& [args, err] : cases) {
        const ToolResult r = RunProgram(CapturePath(), args, dir.Path(), "ping\n");
        EXPECT_EQ(r.status, err.empty() ? 0 : 1) << r.err;
        EXPECT_NE(r.err.find(err), std::string::npos);
        EXPECT_EQ(r.out.find("Usage: tessarin-capture COMn"), err.empty() ? 0 : std::string::npos) << r.out;
    }
    holder.Close();

    const std::string commands =
        "ping\nxy\nblindfind\nrefreq 1234\nblindreq 0xABCD\nrefconf 1234 10 10.5\n"
        "blindconf 0201 45 30 1 5 20 ABCD 7 3\n# a comment, then mistakes that send nothing\n"
        "bogus\nrefreq 12345\nrefconf 1234 10.123 1\nblindconf 0201 45 30 1 5 20 ABCD 7 9\nxy 1\nblindreq";
    setenv("TZ", "XST-5:45", 1);   // the stamps are UTC whatever the zone
    const std::time_t started = std::time(nullptr);
    ToolResult r = RunProgram(CapturePath(), {"COM21"}, dir.Path(), commands);
    unsetenv("TZ");
    EXPECT_EQ(r.status, 0) << r.err;
    sim.Stop();
    Texts frames = ReadLines(record);
    // Less the GET_DEVICE_INFO that answers each ping response, wherever it fell.
    frames.erase(std::remove(frames.begin(), frames.end(), "02 00 14 00 14"), frames.end());
    EXPECT_EQ(frames,
              (Texts{"02 00 07 00 07", "02 00 07 00 07", "02 00 18 07 CB FF FF CA 11 00 00 0F",
                     "02 00 18 07 CB FF FF CA 13 00 00 0D", "02 00 18 07 CB 34 12 CA 17 00 00 2F",
                     "02 00 18 07 CB CD AB CA 18 00 00 60", "02 00 18 0B CB 34 12 CA 15 00 04 28 00 2A 00 27",
                     "02 00 18 12 CB 01 02 CA 16 00 0B 2D 1E 01 05 00 14 00 CD AB 07 03 54"}));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6) << r.err;
    EXPECT_NE(r.err.find("unknown command \"bogus\""), std::string::npos);

    // Printed is logged (to Tessarin.log in its folder), though a line sent and one
    // received at the same moment may reach the two in either order.
    const Texts logged = ReadLines(dir / "Tessarin.log");
    WriteText(log, r.out);
    const Texts printed = ReadLines(log);
    int h = 0, m = 0, s = 0;
    ASSERT_EQ(std::sscanf(logged.at(0).c_str(), "%d:%d:%d", &h, &m, &s), 3);
    EXPECT_LE((h * 3600 + m * 60 + s - started % 86400 + 86400) % 86400, 5) << logged[0];
    EXPECT_TRUE(std::is_permutation(printed.begin(), printed.end(), logged.begin(), logged.end())) << r.out;

    // It stops after --seconds though its input stays open, on SIGTERM (appending when
    // asked) and on quit.
    ASSERT_TRUE(sim.Start({"--quiet"}));
    r = RunProgram(CapturePath(), {"COM21", "--log", log, "--seconds", "1"}, dir.Path(), "", true);
    const Texts first = ReadLines(log);
    EXPECT_TRUE(r.status == 0 && r.out == ReadFile(log) && first.size() == 4) << r.out;
    r = RunProgram(CapturePath(), {"COM21", "--append", "--log", log}, dir.Path(), "xy\n", true, 1.5);
    const Texts appended = ReadLines(log);   // the ping's four lines, XY and five answers
    EXPECT_TRUE(r.status == 0 && appended.size() == 14 &&
                std::equal(first.begin(), first.end(), appended.begin()));
    r = RunProgram(CapturePath(), {"COM21", "--log", log}, dir.Path(), "quit\n", true);
    EXPECT_TRUE(r.status == 0 && ReadLines(log).size() <= 4) << "emptied first";

    // Commands faster than they can be sent: the input is read only as it is used, the
    // output keeps up with the log (on a machine too busy to run the tool for a moment,
    // some lines may be refused by the full queue, as in the window; never most of them),
    // and the time limit ends it on time, its port there or lost.
    std::string flood;
    for (int i = 0; i < 1000000; ++i)
        flood += "xy\n";
    const long memoryKb = r.maxRssKb;   // a quiet run's (a sanitizer's shadow included)
    for (bool unplugged : {false, true}) {
        // A fresh dongle and log: the last flood's requests would keep it busy for a while.
        sim.Stop();
        ASSERT_TRUE(sim.Start({"--quiet"}));
        std::remove(log.c_str());
        std::thread unplug([&] {
            // Unplugged in the middle of the flood, however long a busy machine takes to
            // get it going.
            const auto begun = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            while (MsSince(begun) < 900 && ReadLines(log).size() < 300)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            unplugged ? sim.Kill() : void();
        });
        const auto start = std::chrono::steady_clock::now();
        r = RunProgram(CapturePath(), {"COM21", "--log", log, "--seconds", "1"}, dir.Path(), flood);
        unplug.join();
        EXPECT_LT(MsSince(start), 3000) << "within 2 s of the limit";
        EXPECT_TRUE(r.status == 0 && r.maxRssKb < memoryKb + 32768) << r.maxRssKb - memoryKb << " KB more";
        const long printed = std::count(r.out.begin(), r.out.end(), '\n'), logged = ReadLines(log).size();
        EXPECT_TRUE(printed > 100 && printed * 2 >= logged)
            << printed << " of " << logged << (unplugged ? ", unplugged" : "");
    }
    EXPECT_LT(std::count(r.err.begin(), r.err.end(), '\n'), 10) << "seen between two commands";

    // Plugged in again, the capture goes on with a ping, and it says so.
    ASSERT_TRUE(sim.Start({"--quiet"}));
    std::remove(log.c_str());   // the last run's lines would say it pinged at once
    auto run = std::async(std::launch::async, [&] {
        return RunProgram(CapturePath(), {"COM21", "--log", log, "--seconds", "1.5"}, dir.Path(), "", true);
    });
    // Unplugged once the capture has pinged, however long a busy machine takes to start it.
    const auto pinged = [&] { return ReadFile(log).find("PING_RESPONSE") != std::string::npos; };
    for (int waited = 0; waited < 3000 && !pinged(); waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sim.Kill();
    ASSERT_TRUE(sim.Start({"--quiet"}));
    r = run.get();
    EXPECT_EQ(r.err,
              "tessarin-capture: COM21 has gone away (unplugged or hung up); reconnecting...\n"
              "tessarin-capture: COM21 is back; capturing again\n");
    const Texts lines = WithoutTimes(ReadLines(log));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "|<--| 0x0000 |PING_REQUEST       |"), 2);
}
