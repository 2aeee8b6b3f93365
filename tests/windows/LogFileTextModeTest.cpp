// The log file is written in text mode, so on Windows every line ends in CR LF on disk:
// what a Windows editor expects and what an engineer's tools there read.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "link/LogFile.h"
#include "tests/windows/TestFolder.h"

namespace {

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace

TEST(LogFileOnWindows, EveryLineEndsInCarriageReturnLineFeed)
{
    CTestFolder folder;
    const std::string path = folder.File("Tessarin.log");
    const char first[] = "12:00:00.000 |-->| 0x0101 |REF_RSP            | 08 00 0C 00 2D";
    const char second[] = "12:00:00.250 |<--| 0xFFFF |XY_RSSI_REQ        |";

    CLogFile log;
    ASSERT_TRUE(log.Open(path.c_str(), "wt"));
    ASSERT_TRUE(log.WriteLine(first));
    ASSERT_TRUE(log.WriteLine(second));
    // Flushed line by line: the file is whole before it is closed.
    EXPECT_EQ(std::string(first) + "\r\n" + second + "\r\n", ReadBytes(path));
    log.Close();

    // Appending keeps the old lines and ends the new one the same way.
    ASSERT_TRUE(log.Open(path.c_str(), "at"));
    ASSERT_TRUE(log.WriteLine("third"));
    log.Close();
    EXPECT_EQ(std::string(first) + "\r\n" + second + "\r\nthird\r\n", ReadBytes(path));

    // Overwriting empties the file first.
    ASSERT_TRUE(log.Open(path.c_str(), "wt"));
    ASSERT_TRUE(log.WriteLine("only"));
    log.Close();
    EXPECT_EQ("only\r\n", ReadBytes(path));
}

TEST(LogFileOnWindows, AppendAfterATornLineStartsOnALineOfItsOwn)
{
    CTestFolder folder;
    const std::string path = folder.File("torn.log");
    // An earlier run that ended inside a line (full disk, power cut).
    WriteBytes(path, "whole\r\ntorn");

    CLogFile log;
    ASSERT_TRUE(log.Open(path.c_str(), "at"));
    ASSERT_TRUE(log.WriteLine("next"));
    log.Close();
    EXPECT_EQ("whole\r\ntorn\r\nnext\r\n", ReadBytes(path));

    // A file that ends in CR LF is whole: nothing is inserted.
    ASSERT_TRUE(log.Open(path.c_str(), "at"));
    ASSERT_TRUE(log.WriteLine("last"));
    log.Close();
    EXPECT_EQ("whole\r\ntorn\r\nnext\r\nlast\r\n", ReadBytes(path));
}
