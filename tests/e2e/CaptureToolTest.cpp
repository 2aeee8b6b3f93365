// The headless capture tool as a user runs it, against the simulator.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "tests/e2e/E2eSupport.h"

namespace {

const std::string TOOL = TESSARIN_CAPTURE_PATH;
using Lines = std::vector<std::string>;

Lines Split(const std::string& text)
{
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(CaptureTool, RefusesToStartWithoutAPortItCanOpen)
{
    CTestFolder dir;
    const std::string badLog = dir / "no/such/folder/x.log";
    struct Case {
        Lines args;
        int status;
        std::string out, err;
    };
    const Case cases[] = {
        {{}, 1, "", "--help"},
        {{"COM21", "--seconds", "soon"}, 1, "", "--seconds needs"},
        {{"--help"}, 0, "Usage: tessarin-capture COMn", ""},
        {{"COM22"}, 1, "", "Not able to Open Com Port: COM22"},
        {{"COM21", "--log", badLog}, 1, "", "Not able to Open Log File: " + badLog},
    };
    for (const Case& c : cases) {
        const ToolResult r = RunProgram(TOOL, c.args, dir.Path(), "ping\n");
        SCOPED_TRACE(r.err);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.err), std::string::npos);
        // A failed start captures nothing.
        EXPECT_TRUE(c.status == 0 ? r.out.find(c.out) != std::string::npos : r.out.empty()) << r.out;
    }
}

TEST(CaptureTool, EveryCommandWritesExactlyItsFrame)
{
    CTestFolder dir;
    CSimProcess sim;
    const std::string record = dir / "record.txt";
    ASSERT_TRUE(sim.Start({"--quiet", "--record", record}));
    const std::string commands =
        "ping\n"
        "xy\n"
        "blindfind\n"
        "refreq 1234\n"
        "blindreq 0xABCD\n"
        "refconf 1234 10 10.5\n"
        "blindconf 0201 45 30 1 5 20 ABCD 7 3\n"
        "# a comment, then mistakes that must send nothing\n"
        "bogus\n"
        "refreq 12345\n"
        "refconf 1234 10.123 1\n"
        "blindconf 0201 45 30 1 5 20 ABCD 7 9\n"
        "xy 1\n"
        "blindreq";   // no line end at the very end
    const ToolResult r = RunProgram(TOOL, {"COM21"}, dir.Path(), commands);
    EXPECT_EQ(r.status, 0) << r.err;
    sim.Stop();

    Lines frames = ReadLines(record);
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "02 00 14 00 14"), 2);   // one for each answered PING
    frames.erase(std::remove(frames.begin(), frames.end(), "02 00 14 00 14"), frames.end());
    EXPECT_EQ(frames, (Lines{
                          "02 00 07 00 07",   // the PING of every start
                          "02 00 07 00 07",
                          "02 00 18 07 CB FF FF CA 11 00 00 0F",
                          "02 00 18 07 CB FF FF CA 13 00 00 0D",
                          "02 00 18 07 CB 34 12 CA 17 00 00 2F",
                          "02 00 18 07 CB CD AB CA 18 00 00 60",
                          "02 00 18 0B CB 34 12 CA 15 00 04 28 00 2A 00 27",
                          "02 00 18 12 CB 01 02 CA 16 00 0B 2D 1E 01 05 00 14 00 CD AB 07 03 54",
                      }));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6) << r.err;
    EXPECT_NE(r.err.find("unknown command \"bogus\""), std::string::npos);
    EXPECT_NE(r.err.find("Invalid Minimum of reference nodes!"), std::string::npos);

    // What it printed is what it logged, to the default file in its folder. A line sent
    // and a line received at the same moment may reach the file and the queue in
    // opposite orders: the engine takes the two locks one after the other.
    Lines logged = ReadLines(dir / "Tessarin.log");
    for (const std::string& line : logged)
        EXPECT_TRUE(IsLogLine(line)) << line;
    // Ten sent lines: two PINGs, each with its GET_DEVICE_INFO, and the six node messages.
    EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                            [](const std::string& l) { return l.find("|<--|") != std::string::npos; }),
              10);
    Lines printed = Split(r.out);
    std::sort(printed.begin(), printed.end());
    std::sort(logged.begin(), logged.end());
    EXPECT_EQ(printed, logged);
}

TEST(CaptureTool, StopsOnSecondsSignalQuitOrUnplugAndAppendsWhenAsked)
{
    CTestFolder dir;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--quiet"}));
    const std::string log = dir / "run.log";

    // Input left open: only the time limit ends it.
    ToolResult r = RunProgram(TOOL, {"COM21", "--log", log, "--seconds", "1"}, dir.Path(), "", true);
    EXPECT_EQ(r.status, 0);
    const Lines first = Split(r.out);
    ASSERT_EQ(first.size(), 4u);   // PING, its answer, GET_DEVICE_INFO, its answer
    EXPECT_NE(first[3].find("|DEV_INFO_RSP       |00 54 53 52 4E 44 00 00 01 6F 79 "), std::string::npos);

    r = RunProgram(TOOL, {"COM21", "--append", "--log", log}, dir.Path(), "xy\n", true, 1.5);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Split(r.out).size(), 4u + 1u + 5u);   // the ping lines, XY, five answers
    const Lines logged = ReadLines(log);
    ASSERT_EQ(logged.size(), first.size() + 10u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), logged.begin()));

    r = RunProgram(TOOL, {"COM21", "--log", log}, dir.Path(), "quit\n", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_LE(ReadLines(log).size(), 4u);   // not appended: emptied first

    // Input stays open and no limit is given: only the hang-up can end it.
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        sim.Kill();
    });
    r = RunProgram(TOOL, {"COM21"}, dir.Path(), "", true);
    unplug.join();
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("COM21 has gone away"), std::string::npos) << r.err;
    EXPECT_EQ(Split(r.out).size(), 4u);
}

}  // namespace
