// A disk that fails under the log file: /dev/full, a tiny tmpfs that fills and frees
// again, and a file-size limit. The failure is found on the very line that fails (a
// flush that fails is a failed write), the user is told each time, the capture goes on
// and its lines still reach the window, and the file never holds a torn line glued to
// the next one, within a capture or across an appending restart.

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <fstream>
#include <sstream>

#include "tests/faults/Proofs.h"

using namespace faultrig;

namespace {

const char kLogWarning[] = "Not able to add message to Log File";

// Distinct lines of the log line form and of varying length.
std::string Line(int i)
{
    char head[64];
    std::snprintf(head, sizeof head, "10:%02d:%02d:%03d |-->| 0x%04X |BLIND_RSP          |",
                  i / 60000 % 60, i / 1000 % 60, i % 1000, i & 0xFFFF);
    std::string line = head;
    for (int k = 0; k < i % 17; ++k)
        line += "AB ";
    return line;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Checks a log file against the lines written in order and whether each was reported
// failed: every piece between line ends is a whole line or a torn start of one that
// failed, in order, and every line reported written is there whole. "" when all held.
std::string CheckLog(const std::string& text, const std::vector<std::string>& lines,
                     const std::vector<bool>& failed, size_t firstIndex = 0)
{
    std::vector<std::string> pieces;
    std::stringstream in(text);
    for (std::string piece; std::getline(in, piece, '\n');)
        pieces.push_back(piece);
    std::vector<bool> whole(lines.size(), false);
    size_t next = firstIndex;
    for (size_t p = 0; p < pieces.size(); ++p) {
        const std::string& piece = pieces[p];
        size_t k = next;
        bool found = false;
        bool torn = false;
        for (; k < lines.size() && !found; ++k) {
            if (piece == lines[k]) {
                found = true;
                whole[k] = true;
            } else if (!piece.empty() && piece.size() < lines[k].size()
                       && lines[k].compare(0, piece.size(), piece) == 0) {
                found = torn = true;
            }
        }
        if (!found)
            return "piece " + std::to_string(p) + " is no line nor the start of one: \"" + piece + "\"";
        if (torn && !failed[k - 1])
            return "line " + std::to_string(k - 1) + " is torn but was reported written";
        next = k;
    }
    for (size_t i = firstIndex; i < lines.size(); ++i) {
        if (!failed[i] && !whole[i])
            return "line " + std::to_string(i) + " was reported written but is not in the file";
    }
    return std::string();
}

class DiskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrivateRoot();
        m_strFolder = MakeTempFolder("disk");
        m_link.SetWarningSink(&m_sink);
        m_link.GetDataBuffer(&m_pBuffer);
    }
    void TearDown() override
    {
        m_link.StopCapture();
        std::error_code ignored;
        fs::remove_all(m_strFolder, ignored);
    }

    // Writes lines from..to through the engine, as its handlers do; records which were
    // reported failed, and that each still reached the queue.
    void Write(int from, int to, std::string& report)
    {
        char slot[CDataBuffer::SLOT_SIZE];
        for (int i = from; i < to; ++i) {
            const size_t before = m_sink.Texts().size();
            m_lines.push_back(Line(i));
            RIG_CHECK(report, m_link.AddLine(m_lines.back().c_str()) == 1);
            const std::vector<std::string> texts = m_sink.Texts();
            const bool failed = texts.size() > before;
            RIG_CHECK(report, texts.size() <= before + 1);
            RIG_CHECK(report, !failed || texts.back() == kLogWarning);
            m_failed.push_back(failed);
            RIG_CHECK(report, m_pBuffer->Get(slot) == CDataBuffer::DONE && m_lines.back() == slot);
        }
    }
    int FirstFailed() const
    {
        for (size_t i = 0; i < m_failed.size(); ++i)
            if (m_failed[i])
                return static_cast<int>(i);
        return -1;
    }
    int Failures() const
    {
        int n = 0;
        for (bool f : m_failed)
            n += f;
        return n;
    }
    // A frame from the dongle still becomes a line for the window.
    bool CaptureGoesOn(CPtyDongle& dongle)
    {
        char slot[CDataBuffer::SLOT_SIZE];
        dongle.Send(MakeFrame(CMD_DATA_INDICATION, {0xCB, 0x01, 0x01, 0xCA, 0x12, 0x00, 0x01, 0x5A}));
        const Clock::time_point start = Clock::now();
        while (MsSince(start) < 3000) {
            if (m_pBuffer->Get(slot) == CDataBuffer::DONE)
                return std::string(slot + 12) == " |-->| 0x0101 |REF_RSP            |5A ";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    std::string m_strFolder;
    CCollectingSink m_sink;
    CDongleLink m_link;
    CDataBuffer* m_pBuffer = nullptr;
    std::vector<std::string> m_lines;
    std::vector<bool> m_failed;
};

}  // namespace

TEST_F(DiskTest, DevFullFailsEveryLineAndTheCaptureGoesOn)
{
    CPtyDongle dongle("COM21");
    ASSERT_EQ(m_link.StartCapture("COM21", "/dev/full", 0), 1);
    std::string report;
    Write(0, 20, report);
    EXPECT_EQ(report, "");
    EXPECT_EQ(Failures(), 20);
    m_sink.Clear();
    EXPECT_TRUE(CaptureGoesOn(dongle));
    EXPECT_EQ(m_sink.Texts(), std::vector<std::string>{kLogWarning});
}

TEST_F(DiskTest, TinyFilesystemFillsThenFreesWithoutGluingLines)
{
    // In a child with a mount namespace of its own: the mount cannot outlive the test.
    const std::string mountPoint = m_strFolder + "/tiny";
    fs::create_directory(mountPoint);
    bool skipped = false;
    const std::string report = RunInChild([&](std::string& r) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || mount("tessarin-tiny", mountPoint.c_str(), "tmpfs", 0, "size=32k,mode=0700") != 0) {
            r = "SKIP";
            return;
        }
        const std::string filler = mountPoint + "/filler";
        {
            std::ofstream(filler) << std::string(8192, 'F');
        }
        const std::string log = mountPoint + "/Tessarin.log";
        CPtyDongle dongle("COM21");
        RIG_CHECK(r, m_link.StartCapture("COM21", log.c_str(), 0) == 1);
        int i = 0;
        for (; i < 2000 && FirstFailed() < 0; ++i)
            Write(i, i + 1, r);
        RIG_CHECK(r, FirstFailed() > 0);
        Write(i, i + 5, r);   // still full: each fails and is told
        RIG_CHECK(r, Failures() == 6);
        RIG_CHECK(r, CaptureGoesOn(dongle));
        RIG_CHECK(r, CheckLog(ReadAll(log), m_lines, m_failed) == "");

        // Room again: the next line starts a line of its own.
        RIG_CHECK(r, unlink(filler.c_str()) == 0);
        Write(i + 5, i + 50, r);
        RIG_CHECK(r, Failures() == 6);
        m_link.StopCapture();
        const std::string text = ReadAll(log);
        const std::string problem = CheckLog(text, m_lines, m_failed);
        RIG_CHECK(r, problem == "");
        if (!problem.empty())
            r += problem + "\n";
        RIG_CHECK(r, !text.empty() && text.back() == '\n');
        RIG_CHECK(r, text.find(m_lines.back()) != std::string::npos);
    });
    if (report == "SKIP")
        skipped = true;
    else
        EXPECT_EQ(report, "");
    if (skipped)
        GTEST_SKIP() << "no tmpfs could be mounted here";
}

TEST_F(DiskTest, FileSizeLimitFindsTheFirstFailedLineAndAnAppendStartsFresh)
{
    const std::string log = m_strFolder + "/Tessarin.log";
    const std::string report = RunInChild([&](std::string& r) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {5000, 5000};
        RIG_CHECK(r, setrlimit(RLIMIT_FSIZE, &limit) == 0);
        CPtyDongle dongle("COM21");
        RIG_CHECK(r, m_link.StartCapture("COM21", log.c_str(), 0) == 1);
        Write(0, 100, r);
        const int first = FirstFailed();
        RIG_CHECK(r, first > 0);
        for (int i = first; i < 100; ++i)
            RIG_CHECK(r, m_failed[size_t(i)]);
        RIG_CHECK(r, CaptureGoesOn(dongle));
        m_link.StopCapture();
        const std::string problem = CheckLog(ReadAll(log), m_lines, m_failed);
        RIG_CHECK(r, problem == "");
        if (!problem.empty())
            r += problem + "\n";
        // The limit fell inside a line: the file ends torn, which is the case to prove.
        const std::string text = ReadAll(log);
        RIG_CHECK(r, text.size() == 5000 && text.back() != '\n');
    });
    ASSERT_EQ(report, "");

    // The next capture appends: its first line must not join the torn one.
    const std::string before = ReadAll(log);
    CPtyDongle dongle("COM21");
    ASSERT_EQ(m_link.StartCapture("COM21", log.c_str(), 1), 1);
    std::string r;
    for (int i = 0; i < 100; ++i) {   // what the child wrote, for the check below
        m_lines.push_back(Line(i));
        m_failed.push_back(before.find(Line(i) + "\n") == std::string::npos);
    }
    Write(100, 110, r);
    EXPECT_EQ(r, "");
    EXPECT_EQ(Failures(), std::count(m_failed.begin(), m_failed.begin() + 100, true));
    m_link.StopCapture();
    const std::string text = ReadAll(log);
    EXPECT_EQ(text.compare(0, before.size(), before), 0) << "appending kept what was there";
    EXPECT_EQ(CheckLog(text, m_lines, m_failed), "");
    EXPECT_EQ(text[before.size()], '\n');
}
