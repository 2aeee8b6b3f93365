// The headless capture tool as a user runs it, against the simulator.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "tests/e2e/E2eSupport.h"

namespace {

const std::string TOOL = TESSARIN_CAPTURE_PATH;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(CaptureTool, RefusesToStartWithoutAPortItCanOpen)
{
    CTestFolder dir;
    ToolResult r = RunProgram(TOOL, {}, dir.Path(), "");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "--help"));

    r = RunProgram(TOOL, {"COM21", "--seconds", "soon"}, dir.Path(), "");
    EXPECT_EQ(r.status, 1);

    r = RunProgram(TOOL, {"--help"}, dir.Path(), "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "Usage: tessarin-capture COMn"));

    r = RunProgram(TOOL, {"COM22"}, dir.Path(), "ping\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "Not able to Open Com Port: COM22")) << r.err;
    EXPECT_EQ(r.out, "");

    r = RunProgram(TOOL, {"COM21", "--log", dir / "no/such/folder/x.log"}, dir.Path(), "");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "Not able to Open Log File: " + dir / "no/such/folder/x.log"));
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

    std::vector<std::string> frames = ReadLines(record);
    const auto deviceInfo = std::count(frames.begin(), frames.end(), "02 00 14 00 14");
    EXPECT_EQ(deviceInfo, 2);   // one for each answered PING
    frames.erase(std::remove(frames.begin(), frames.end(), "02 00 14 00 14"), frames.end());
    EXPECT_EQ(frames, (std::vector<std::string>{
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
    EXPECT_TRUE(Contains(r.err, "unknown command \"bogus\""));
    EXPECT_TRUE(Contains(r.err, "Invalid Minimum of reference nodes!"));

    // What it printed is what it logged, to the default file in its folder. A line sent
    // and a line received at the same moment may reach the file and the queue in
    // opposite orders: the engine takes the two locks one after the other.
    const std::vector<std::string> logged = ReadLines(dir / "Tessarin.log");
    std::vector<std::string> printed = Lines(r.out);
    std::vector<std::string> sortedLog = logged;
    std::sort(printed.begin(), printed.end());
    std::sort(sortedLog.begin(), sortedLog.end());
    EXPECT_EQ(printed, sortedLog);
    for (const std::string& line : logged)
        EXPECT_TRUE(IsLogLine(line)) << line;
    // Ten sent lines: two PINGs, each with its GET_DEVICE_INFO, and the six node messages.
    EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                            [](const std::string& l) { return Contains(l, "|<--|"); }),
              10);
}

TEST(CaptureTool, StopsOnSecondsSignalOrQuitAndAppendsWhenAsked)
{
    CTestFolder dir;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--quiet"}));
    const std::string log = dir / "run.log";

    // Input left open: only the time limit ends it.
    ToolResult r = RunProgram(TOOL, {"COM21", "--log", log, "--seconds", "1"}, dir.Path(), "",
                              true);
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> first = Lines(r.out);
    ASSERT_EQ(first.size(), 4u);   // PING, its answer, GET_DEVICE_INFO, its answer
    EXPECT_TRUE(Contains(first[3], "|DEV_INFO_RSP       |00 54 53 52 4E 44 00 00 01 6F 79 "));

    r = RunProgram(TOOL, {"COM21", "--append", "--log", log}, dir.Path(), "xy\n", true, 1.5);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out).size(), 4u + 1u + 5u);   // the ping lines, XY, five answers
    std::vector<std::string> logged = ReadLines(log);
    ASSERT_EQ(logged.size(), first.size() + 10u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), logged.begin()));

    r = RunProgram(TOOL, {"COM21", "--log", log}, dir.Path(), "quit\n", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_LE(ReadLines(log).size(), 4u);   // not appended: emptied first
}

TEST(CaptureTool, EndsWhenTheDongleIsUnplugged)
{
    CTestFolder dir;
    CSimProcess sim;
    ASSERT_TRUE(sim.Start({"--quiet"}));
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        sim.Kill();
    });
    // Input stays open and no limit is given: only the hang-up can end it.
    const ToolResult r = RunProgram(TOOL, {"COM21"}, dir.Path(), "", true);
    unplug.join();
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "COM21 has gone away")) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 4u);
}

}  // namespace
