#include "link/LogFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/platform/TestPty.h"

using testpty::ReadFile;

namespace {

class LogFileTest : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return folder.path + "/" + name; }
    testpty::TempFolder folder{"log"};
};

}  // namespace

TEST_F(LogFileTest, OpenRules)
{
    CLogFile log;
    EXPECT_FALSE(log.WriteLine("nothing open"));
    EXPECT_FALSE(log.Open("", "wt"));
    EXPECT_FALSE(log.Open(nullptr, "wt"));
    EXPECT_FALSE(log.Open(Path("a.log").c_str(), ""));
    EXPECT_FALSE(log.Open(Path("no/such/folder.log").c_str(), "wt"));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(std::filesystem::is_empty(folder.path)) << "a refused name creates nothing";

    ASSERT_TRUE(log.Open(Path("a.log").c_str(), "wt"));
    // Already open: any name and mode succeed and change nothing.
    EXPECT_TRUE(log.Open(Path("b.log").c_str(), "at"));
    EXPECT_TRUE(log.WriteLine("first"));
    log.Close();
    log.Close();
    EXPECT_FALSE(log.WriteLine("after close"));
    EXPECT_EQ(ReadFile(Path("a.log")), "first\n");
    EXPECT_FALSE(std::filesystem::exists(Path("b.log")));
}

TEST_F(LogFileTest, CreateEmptiesAppendKeepsAndNeverGluesToATornLine)
{
    const std::string path = Path("capture.log");
    std::ofstream(path) << "old line\n";
    CLogFile log;
    ASSERT_TRUE(log.Open(path.c_str(), "wt"));
    EXPECT_TRUE(log.WriteLine("first"));
    EXPECT_EQ(ReadFile(path), "first\n") << "flushed line by line";
    log.Close();

    ASSERT_TRUE(log.Open(path.c_str(), "at"));
    EXPECT_TRUE(log.WriteLine("second"));
    log.Close();
    // A torn last line from an earlier run is not glued to the first appended one.
    std::ofstream(path, std::ios::app) << "torn";
    ASSERT_TRUE(log.Open(path.c_str(), "at"));
    EXPECT_TRUE(log.WriteLine("third"));
    log.Close();
    EXPECT_EQ(ReadFile(path), "first\nsecond\ntorn\nthird\n");

    // A full disk shows only at the flush: fputs succeeded into the buffer.
    ASSERT_TRUE(log.Open("/dev/full", "wt"));
    EXPECT_FALSE(log.WriteLine("lost"));
    EXPECT_FALSE(log.WriteLine("lost again"));
}

// A write that fails part-way used to leave the next line glued to the torn piece, or,
// when nothing of it reached the file, an empty line. A child's file-size limit tears
// the third line, then is lifted for a fourth.
TEST_F(LogFileTest, LineAfterAFailedWriteStartsOnItsOwnLine)
{
    const std::string a(39, 'a'), b(39, 'b');   // 40 bytes with the line end
    for (rlim_t limit : {100, 80}) {
        SCOPED_TRACE(limit);
        const std::string path = Path("torn.log");
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            CLogFile log;
            if (!log.Open(path.c_str(), "wt") || !log.WriteLine(a.c_str()) || !log.WriteLine(a.c_str()))
                _exit(10);
            struct rlimit rl;
            getrlimit(RLIMIT_FSIZE, &rl);
            const rlim_t hard = rl.rlim_max;
            rl.rlim_cur = limit;
            if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
                _exit(11);
            if (log.WriteLine(b.c_str()))
                _exit(12);   // must report the line that did not reach the file
            rl.rlim_cur = hard;
            _exit(setrlimit(RLIMIT_FSIZE, &rl) == 0 && log.WriteLine("after") ? 0 : 13);
        }
        int status = -1;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        const std::string torn = limit == 100 ? std::string(20, 'b') + "\n" : "";
        EXPECT_EQ(ReadFile(path), a + "\n" + a + "\n" + torn + "after\n");
    }
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
    std::istringstream text(ReadFile(path));
    int lines = 0;
    for (std::string line; std::getline(text, line); ++lines)
        ASSERT_TRUE(line == std::string(200, 'a') || line == std::string(200, 'b')) << lines;
    EXPECT_EQ(lines, 1000);
}
