#include "link/LogFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/TestPty.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        lines.push_back(current + "<no line end>");
    return lines;
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder = testpty::MakeTempFolder("log"); }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string Path(const char* name) const { return folder + "/" + name; }
    std::string folder;
};

}  // namespace

TEST_F(LogFileTest, OpenRules)
{
    CLogFile log;
    EXPECT_FALSE(log.WriteLine("nothing open"));
    EXPECT_FALSE(log.Open("", "wt"));
    EXPECT_FALSE(log.Open(nullptr, "wt"));
    EXPECT_FALSE(log.Open(Path("a.log").c_str(), ""));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "a refused name creates nothing";
    EXPECT_FALSE(log.Open(Path("no/such/folder.log").c_str(), "wt"));

    ASSERT_TRUE(log.Open(Path("a.log").c_str(), "wt"));
    // Already open: any name and mode succeed and change nothing.
    EXPECT_TRUE(log.Open(Path("b.log").c_str(), "at"));
    EXPECT_TRUE(log.WriteLine("first"));
    log.Close();
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_FALSE(log.WriteLine("after close"));
    EXPECT_EQ(ReadFile(Path("a.log")), "first\n");
    EXPECT_FALSE(std::filesystem::exists(Path("b.log")));
}

TEST_F(LogFileTest, CreateEmptiesAppendKeeps)
{
    const std::string path = Path("capture.log");
    std::ofstream(path) << "old line\n";
    CLogFile log;
    ASSERT_TRUE(log.Open(path.c_str(), "wt"));
    EXPECT_TRUE(log.WriteLine("12:00:00:000 |<--| 0x0000 |PING_REQUEST       |"));
    // Flushed line by line: the file is complete while still open.
    EXPECT_EQ(ReadFile(path), "12:00:00:000 |<--| 0x0000 |PING_REQUEST       |\n");
    log.Close();

    ASSERT_TRUE(log.Open(path.c_str(), "at"));
    EXPECT_TRUE(log.WriteLine("second"));
    log.Close();
    EXPECT_EQ(ReadFile(path), "12:00:00:000 |<--| 0x0000 |PING_REQUEST       |\nsecond\n");

    // A torn last line from an earlier run is not glued to the first appended one.
    std::ofstream(path, std::ios::app) << "torn";
    ASSERT_TRUE(log.Open(path.c_str(), "at"));
    EXPECT_TRUE(log.WriteLine("third"));
    log.Close();
    EXPECT_EQ(SplitLines(ReadFile(path)).back(), "third");
    EXPECT_EQ(SplitLines(ReadFile(path))[2], "torn");
}

TEST_F(LogFileTest, FullDiskIsAFailedWrite)
{
    // fputs succeeds into the buffer; only the flush meets the full device.
    CLogFile log;
    ASSERT_TRUE(log.Open("/dev/full", "wt"));
    EXPECT_FALSE(log.WriteLine("lost"));
    EXPECT_FALSE(log.WriteLine("lost again"));
    log.Close();
    EXPECT_FALSE(log.IsOpen());
}

// Runs writes in a child whose file-size limit tears a line, then lifts the limit.
// Returns the file's lines.
static std::vector<std::string> TearAndRecover(const std::string& path, rlim_t limit, bool& failedAsExpected)
{
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        CLogFile log;
        if (!log.Open(path.c_str(), "wt"))
            _exit(10);
        const std::string line(39, 'a');   // 40 bytes with its line end
        if (!log.WriteLine(line.c_str()) || !log.WriteLine(line.c_str()))
            _exit(11);
        struct rlimit rl;
        getrlimit(RLIMIT_FSIZE, &rl);
        const rlim_t hard = rl.rlim_max;
        rl.rlim_cur = limit;
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            _exit(12);
        const std::string torn(39, 'b');
        if (log.WriteLine(torn.c_str()))
            _exit(13);   // must report the line that did not reach the file
        rl.rlim_cur = hard;
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            _exit(14);
        if (!log.WriteLine("after"))
            _exit(15);
        log.Close();
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    failedAsExpected = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    EXPECT_TRUE(failedAsExpected) << "child status " << status;
    return SplitLines(ReadFile(path));
}

TEST_F(LogFileTest, LineAfterAFailedWriteStartsOnItsOwnLine)
{
    bool ok = false;
    // Part of the third line reaches the file before the limit.
    auto lines = TearAndRecover(Path("torn.log"), 100, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], std::string(39, 'a'));
    EXPECT_EQ(lines[2], std::string(20, 'b')) << "the torn piece stands alone";
    EXPECT_EQ(lines[3], "after");

    // Nothing of the third line reaches the file: no empty line appears either.
    lines = TearAndRecover(Path("clean.log"), 80, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::string(39, 'a'));
    EXPECT_EQ(lines[2], "after");
}

TEST_F(LogFileTest, LinesFromTwoThreadsNeverInterleave)
{
    const std::string path = Path("threads.log");
    CLogFile log;
    ASSERT_TRUE(log.Open(path.c_str(), "wt"));
    auto writer = [&](char c) {
        const std::string line(200, c);
        for (int i = 0; i < 500; ++i)
            log.WriteLine(line.c_str());
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    log.Close();
    const auto lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 1000u);
    for (const auto& line : lines)
        EXPECT_TRUE(line == std::string(200, 'a') || line == std::string(200, 'b'));
}
