// A second opener of a capturing port: another engine of this process, another program
// as root, and another as an ordinary user. Each is refused, and the first capture goes
// on unharmed: it still receives and sends, and its log file keeps every line, even
// when the second one was started with the same log file.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/e2e/E2eSupport.h"
#include "bench/faults/Proofs.h"

using namespace faultrig;

namespace {

const char kSetpriv[] = "/usr/bin/setpriv";

std::vector<std::string> AsNobody(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", TESSARIN_CAPTURE_PATH});
    return args;
}

// The next line the capture hands over, without its time; "" when none comes.
std::string TakeOne(CDataBuffer* buffer)
{
    char slot[CDataBuffer::SLOT_SIZE];
    for (const Clock::time_point start = Clock::now(); MsSince(start) < 3000;) {
        if (buffer->Get(slot) == CDataBuffer::DONE)
            return slot + 12;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::string();
}

}  // namespace

TEST(ExclusivePort, SecondOpenersAreRefusedAndTheFirstCaptureIsUnharmed)
{
    // Folders an ordinary user may pass through, and a device it could open if free.
    const std::string& root = PrivateRoot();
    for (const std::string& folder : {root, root + "/config", root + "/config/tessarin", PortLinkFolder()})
        chmod(folder.c_str(), 0755);
    const std::string logs = MakeTempFolder("exclusive");
    chmod(logs.c_str(), 0777);
    const std::string logA = logs + "/Tessarin.log";
    CPtyDongle dongle("COM21");
    ASSERT_TRUE(dongle.IsOpen());
    ASSERT_EQ(chmod(dongle.SlavePath().c_str(), 0666), 0);

    // Free, the port is the ordinary user's to take: a refusal later is the capture's doing.
    ToolResult free = RunProgram(kSetpriv, AsNobody({"COM21", "--log", logs + "/free.log", "--seconds", "0.3"}),
                                 logs, "", true);
    ASSERT_EQ(free.status, 0) << free.err;
    dongle.Receive(300);   // its PING

    CCollectingSink sinkA;
    CDongleLink linkA;
    linkA.SetWarningSink(&sinkA);
    CDataBuffer* buffer = nullptr;
    linkA.GetDataBuffer(&buffer);
    ASSERT_EQ(linkA.StartCapture("COM21", logA.c_str(), 0), 1);
    const Bytes first = MakeFrame(CMD_DATA_INDICATION, {0xCB, 0x01, 0x01, 0xCA, 0x12, 0x00, 0x01, 0x11});
    dongle.Send(first);
    ASSERT_EQ(TakeOne(buffer), " |-->| 0x0101 |REF_RSP            |11 ");

    // Another engine of this process, with another log file and with the same one.
    for (const std::string& log : {logs + "/other.log", logA}) {
        CCollectingSink sinkB;
        CDongleLink linkB;
        linkB.SetWarningSink(&sinkB);
        EXPECT_EQ(linkB.StartCapture("COM21", log.c_str(), 0), 0);
        const std::vector<std::string> told = sinkB.Texts();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_TRUE(told[0] == "Not able to Open Com Port: COM21" || told[0] == "Not able to Open Log File: " + log)
            << told[0];
    }
    // Another program as root, then as an ordinary user, each also given the same log.
    for (bool nobody : {false, true}) {
        for (const std::string& log : {logs + (nobody ? "/nobody.log" : "/root.log"), logA}) {
            SCOPED_TRACE(std::string(nobody ? "ordinary user, " : "root, ") + log);
            const std::vector<std::string> args = {"COM21", "--log", log, "--seconds", "0.3"};
            ToolResult second = nobody ? RunProgram(kSetpriv, AsNobody(args), logs, "", true)
                                       : RunProgram(TESSARIN_CAPTURE_PATH, args, logs, "", true);
            EXPECT_EQ(second.status, 1) << second.err;
            EXPECT_NE(second.err.find("Not able to Open"), std::string::npos) << second.err;
        }
    }

    // The first capture: still receiving, still sending, its log whole and in order.
    const Bytes second = MakeFrame(CMD_DATA_INDICATION, {0xCB, 0x02, 0x01, 0xCA, 0x12, 0x00, 0x01, 0x22});
    dongle.Send(second);
    EXPECT_EQ(TakeOne(buffer), " |-->| 0x0102 |REF_RSP            |22 ");
    DongleMessage ping;
    EXPECT_EQ(linkA.SendDongleMessage(ping), 1);
    EXPECT_EQ(dongle.Receive(1000), (Bytes{0x02, 0x00, 0x07, 0x00, 0x07}));
    EXPECT_TRUE(linkA.IsCapturing());
    EXPECT_FALSE(linkA.IsDeviceGone());
    EXPECT_EQ(linkA.StopCapture(), 1);
    EXPECT_EQ(WithoutTimes(faultrig::ReadLines(logA)),
              (std::vector<std::string>{" |-->| 0x0101 |REF_RSP            |11 ",
                                        " |-->| 0x0102 |REF_RSP            |22 ",
                                        " |<--| 0x0000 |PING_REQUEST       |"}));
    EXPECT_TRUE(sinkA.Texts().empty());
    std::error_code ignored;
    fs::remove_all(logs, ignored);
}

// A device is no file to lose: two captures may both log to /dev/null or /dev/full.
TEST(ExclusivePort, DevicesAsLogFilesAreNeverHeld)
{
    for (const char* device : {"/dev/null", "/dev/full"}) {
        SCOPED_TRACE(device);
        CLogFile first;
        CLogFile second;
        EXPECT_TRUE(first.Open(device, "wt"));
        EXPECT_TRUE(second.Open(device, "wt"));
        EXPECT_TRUE(second.Open(device, "at") && second.IsOpen());
    }
}
