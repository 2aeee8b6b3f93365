// The log file is written in text mode, so on Windows every line ends in CR LF on disk:
// what a Windows editor expects and what an engineer's tools there read.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "link/LogFile.h"
#include "tests/windows/TestFolder.h"

TEST(LogFileOnWindows, EveryLineEndsInCarriageReturnLineFeedEvenAfterATornOne)
{
    CTestFolder folder;
    const std::string path = folder.File("Tessarin.log");
    // An earlier run that ended inside a line (full disk, power cut): the next line
    // starts on a line of its own, and a whole file gets nothing inserted.
    std::ofstream(path, std::ios::binary) << "whole\r\ntorn";
    CLogFile log;
    for (const char* line : {"next", "last"}) {
        ASSERT_TRUE(log.Open(path.c_str(), "at"));
        ASSERT_TRUE(log.WriteLine(line));
        log.Close();
    }
    EXPECT_EQ("whole\r\ntorn\r\nnext\r\nlast\r\n", ReadBytes(path));

    // Overwriting empties the file first; lines are flushed as they are written.
    ASSERT_TRUE(log.Open(path.c_str(), "wt"));
    ASSERT_TRUE(log.WriteLine("12:00:00.000 |-->| 0x0101 |REF_RSP            | 08 00 0C 00 2D"));
    ASSERT_TRUE(log.WriteLine("12:00:00.250 |<--| 0xFFFF |XY_RSSI_REQ        |"));
    EXPECT_EQ("12:00:00.000 |-->| 0x0101 |REF_RSP            | 08 00 0C 00 2D\r\n"
              "12:00:00.250 |<--| 0xFFFF |XY_RSSI_REQ        |\r\n",
              ReadBytes(path));
    log.Close();
}
