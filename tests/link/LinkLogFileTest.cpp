#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "link/DongleLink.h"
#include "link/LogFile.h"
#include "tests/support/PosixPeers.h"

TEST(LinkLogFile, OpenRulesOneWriterPerFileAndNoGlueToATornLine)
{
    CScratchFolder folder("log");
    const std::string path = folder / "a.log", missing = folder / "no/such.log";
    CLogFile log, other;
    EXPECT_FALSE(log.Open("", "wt") || log.Open(nullptr, "wt") || log.Open(path.c_str(), "") ||
                 log.Open(path.c_str(), nullptr) || log.Open(missing.c_str(), "wt"));
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()) && !log.IsOpen()) << "refused: nothing made";

    WriteText(path, "old line\n");
    // Already open: any name, and nothing changes.
    ASSERT_TRUE(log.Open(path.c_str(), "wt") && log.Open((folder / "b.log").c_str(), "at") &&
                log.WriteLine("whole"));
    // Another capture on the same file would empty it or write over it.
    EXPECT_FALSE(other.Open(path.c_str(), "wt") || other.Open(path.c_str(), "at"));
    EXPECT_EQ(ReadFile(path), "whole\n") << "emptied, and flushed line by line";
    log.Close();
    log.Close();
    EXPECT_FALSE(log.WriteLine("after close") || std::filesystem::exists(folder / "b.log"));

    // Appending keeps what is there; a torn last line of an earlier run gets its line end.
    WriteText(path, "whole\ntorn");
    ASSERT_TRUE(other.Open(path.c_str(), "at") && other.WriteLine("last"));
    other.Close();
    EXPECT_EQ(ReadFile(path), "whole\ntorn\nlast\n");
    // A device is no file to lose: any number of captures may write to it.
    EXPECT_TRUE(log.Open("/dev/null", "wt") && other.Open("/dev/null", "at") && other.WriteLine("gone"));
}

namespace {

bool LimitFileSize(rlim_t size)   // 0: no limit
{
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{size ? size : RLIM_INFINITY, RLIM_INFINITY};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

// A capture whose log file's disk fails (a file-size limit, or else a tiny tmpfs that
// fills): each failed line is told once, every line still reaches the queue, a frame
// from the dongle still becomes a line, and once there is room again the file holds
// only whole lines and torn starts of failed ones, never a glued or an empty line.
// Runs in a child, where the mount and the limit stay.
int CaptureOnAFailingDisk(rlim_t limit, const std::string& folder)
{
    if (!limit &&
        (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
         mount("tessarin-tiny", folder.c_str(), "tmpfs", 0, "size=24k,mode=0700") != 0))
        return 77;
    const std::string log = folder + "/Tessarin.log";
    CPtyPeer dongle("COM21");
    CCollectingSink sink;
    CDongleLink link;
    link.SetWarningSink(&sink);
    CDataBuffer* buffer = nullptr;
    link.GetDataBuffer(&buffer);
    if (!LimitFileSize(limit) || link.StartCapture("COM21", log.c_str(), 0) != 1)
        return 2;
    Texts whole, lost;
    char slot[CDataBuffer::SLOT_SIZE];
    auto add = [&, number = 10000]() mutable {   // false unless the line went to the queue as it was
        // 60 bytes with the line end; the number makes every line and torn piece unique.
        const std::string line = "line " + std::to_string(number++) + std::string(49, 'x');
        const size_t told = sink.Warnings().size();
        const bool queued =
            link.AddLine(line.c_str()) == 1 && buffer->Get(slot) == CDataBuffer::DONE && line == slot;
        (sink.Warnings().size() > told ? lost : whole).push_back(line);
        return queued;
    };
    while (lost.size() < 6 && whole.size() < 2000)
        if (!add())
            return 3;
    // A cluster outside the table shows as its number.
    dongle.Send({0x02, 0x10, 0x18, 0x08, 0xCB, 0x01, 0x01, 0xCA, 0x19, 0x00, 0x01, 0x5A, 0x43});
    if (!WaitUntil([&] { return buffer->Get(slot) == CDataBuffer::DONE; }, std::chrono::seconds(3)) ||
        std::string(slot + 12) != " |-->| 0x0101 |0x0019             |5A ")
        return 5;
    lost.push_back(slot);   // still no room: told below
    const bool room = limit ? LimitFileSize(0) : mount("", folder.c_str(), "", MS_REMOUNT, "size=1m") == 0;
    for (int i = 0; i < 45; ++i)
        if (!room || !add())
            return 6;
    link.StopCapture();
    Texts kept;
    for (const std::string& piece : ReadLines(log))
        if (piece.empty() ||
            std::none_of(lost.begin(), lost.end(), [&](auto& line) { return line.rfind(piece, 0) == 0; }))
            kept.push_back(piece);
    const bool toldOnce = sink.Warnings() == Texts(7, "Not able to add message to Log File");
    return kept == whole && ReadFile(log).back() == '\n' && toldOnce ? 0 : 7;
}

}   // namespace

TEST(LinkLogFile, AFailingDiskIsToldLineByLineAndTheCaptureGoesOn)
{
    for (rlim_t sizeLimit : {0, 100 * 60 + 30, 100 * 60}) {   // a tmpfs; a line torn; a line lost whole
        CScratchFolder folder("disk");
        const int step = InChild([&] { return CaptureOnAFailingDisk(sizeLimit, folder.Path()); }, 60);
        EXPECT_TRUE(step == 0 || step == 77) << sizeLimit << ": step " << step;   // 77: no mounts here
    }
}
