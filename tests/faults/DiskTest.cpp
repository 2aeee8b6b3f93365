// A disk that fails under the log file: a tiny tmpfs that fills, and a file-size limit.
// Each failed line is told, the capture goes on and its lines still reach the window,
// and once there is room again the file holds no torn line glued to the next one.

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <fstream>
#include <sstream>

#include "bench/faults/Proofs.h"

using namespace faultrig;

namespace {

const char kLogWarning[] = "Not able to add message to Log File";

// Distinct lines of the log line form and of varying length.
std::string Line(int i)
{
    char head[64];
    std::snprintf(head, sizeof head, "10:%02d:%02d:%03d |-->| 0x%04X |BLIND_RSP          |",
                  i / 60000 % 60, i / 1000 % 60, i % 1000, i & 0xFFFF);
    return head + std::string(size_t(3 * (i % 17)), 'A');
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every piece between line ends is a whole line, or the torn start of one reported
// failed, in order; every line reported written is there whole. "" when all held.
std::string CheckLog(const std::string& text, const std::vector<std::string>& lines,
                     const std::vector<bool>& failed)
{
    std::stringstream in(text);
    std::vector<bool> whole(lines.size(), false);
    size_t next = 0;
    for (std::string piece; std::getline(in, piece, '\n');) {
        size_t k = next;
        while (k < lines.size() && piece != lines[k]
               && !(failed[k] && !piece.empty() && lines[k].compare(0, piece.size(), piece) == 0))
            ++k;
        if (k == lines.size())
            return "a piece is no line nor the torn start of a failed one: \"" + piece + "\"";
        whole[k] = piece == lines[k];
        next = k + 1;
    }
    for (size_t i = 0; i < lines.size(); ++i)
        if (!failed[i] && !whole[i])
            return "line " + std::to_string(i) + " was reported written but is not in the file";
    return std::string();
}

// A capture whose log lines are written as its handlers write them; records which were
// told failed, and checks that each still reached the queue.
struct Capture {
    CCollectingSink sink;
    CDongleLink link;
    CDataBuffer* buffer = nullptr;
    std::vector<std::string> lines;
    std::vector<bool> failed;

    Capture()
    {
        link.SetWarningSink(&sink);
        link.GetDataBuffer(&buffer);
    }
    int Failures() const { return static_cast<int>(std::count(failed.begin(), failed.end(), true)); }
    void Write(int count, std::string& report)
    {
        char slot[CDataBuffer::SLOT_SIZE];
        for (int n = 0; n < count; ++n) {
            const size_t before = sink.Texts().size();
            lines.push_back(Line(static_cast<int>(lines.size())));
            RIG_CHECK(report, link.AddLine(lines.back().c_str()) == 1);
            const std::vector<std::string> texts = sink.Texts();
            RIG_CHECK(report, texts.size() <= before + 1);
            failed.push_back(texts.size() > before);
            RIG_CHECK(report, !failed.back() || texts.back() == kLogWarning);
            RIG_CHECK(report, buffer->Get(slot) == CDataBuffer::DONE && lines.back() == slot);
        }
    }
    // A frame from the dongle still becomes a line for the window.
    bool GoesOn(CPtyDongle& dongle)
    {
        char slot[CDataBuffer::SLOT_SIZE];
        dongle.Send(MakeFrame(CMD_DATA_INDICATION, {0xCB, 0x01, 0x01, 0xCA, 0x12, 0x00, 0x01, 0x5A}));
        for (const Clock::time_point start = Clock::now(); MsSince(start) < 3000;) {
            if (buffer->Get(slot) == CDataBuffer::DONE)
                return std::string(slot + 12) == " |-->| 0x0101 |REF_RSP            |5A ";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
};

}  // namespace

TEST(DiskTest, FullDiskTellsEachFailedLineAndRoomAgainGluesNone)
{
    PrivateRoot();
    struct Disk {
        const char* name;
        std::function<bool(const std::string& folder)> fill;   // false: not possible here
        std::function<bool(const std::string& folder)> free;
        bool bTears;   // the failure falls inside a line: the case of the glued lines
    };
    const std::vector<Disk> disks = {
        {"tiny tmpfs",
         [](const std::string& folder) {
             // A mount namespace of its own: the mount cannot outlive the child.
             if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                 || mount("tessarin-tiny", folder.c_str(), "tmpfs", 0, "size=32k,mode=0700") != 0)
                 return false;
             std::ofstream(folder + "/filler") << std::string(8192, 'F');
             return true;
         },
         [](const std::string& folder) { return unlink((folder + "/filler").c_str()) == 0; }, false},
        {"file-size limit",
         [](const std::string&) {
             signal(SIGXFSZ, SIG_IGN);
             struct rlimit limit;
             getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = 5000;
             return setrlimit(RLIMIT_FSIZE, &limit) == 0;
         },
         [](const std::string&) {
             struct rlimit limit;
             getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = limit.rlim_max;
             return setrlimit(RLIMIT_FSIZE, &limit) == 0;
         }, true},
    };
    std::string skipped;
    for (const Disk& disk : disks) {
        SCOPED_TRACE(disk.name);
        const std::string folder = MakeTempFolder("disk");
        const std::string report = RunInChild([&](std::string& r) {
            if (!disk.fill(folder)) {
                r = "SKIP";
                return;
            }
            const std::string log = folder + "/Tessarin.log";
            CPtyDongle dongle("COM21");
            Capture c;
            RIG_CHECK(r, c.link.StartCapture("COM21", log.c_str(), 0) == 1);
            while (c.lines.size() < 2000 && c.Failures() == 0)
                c.Write(1, r);
            RIG_CHECK(r, c.lines.size() > 1 && c.Failures() == 1);
            c.Write(5, r);   // still full: each fails and is told
            RIG_CHECK(r, c.Failures() == 6);
            RIG_CHECK(r, c.GoesOn(dongle));
            RIG_CHECK(r, !disk.bTears || ReadAll(log).back() != '\n');
            RIG_CHECK(r, disk.free(folder));
            c.Write(45, r);
            RIG_CHECK(r, c.Failures() == 6);
            c.link.StopCapture();
            const std::string text = ReadAll(log);
            const std::string problem = CheckLog(text, c.lines, c.failed);
            if (!problem.empty())
                r += problem + "\n";
            RIG_CHECK(r, !text.empty() && text.back() == '\n');
        });
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        if (report == "SKIP")
            skipped += std::string(disk.name) + " ";
        else
            EXPECT_EQ(report, "");
    }
    if (!skipped.empty())
        GTEST_SKIP() << "not possible here: " << skipped;
}
