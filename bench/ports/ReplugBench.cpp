// From a replug to the first logged frame: a capture on a pseudo-terminal linked as
// COM21 is unplugged (its far end closed) and plugged in again (a new one linked under
// the same name) many times. For each return: the time until the engine has reopened the
// device (its PING arrives) and until the frame the dongle then sends is logged.
//   tessarin-bench-replug [replugs]

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/DongleLink.h"
#include "link/Frame.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Counter : ILineReadyNotify {
    std::atomic<int> lines{0};
    void PostLineReady() override { ++lines; }
};

double Ms(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A new pseudo-terminal linked as the port; its master, or -1.
int Plug(const std::string& link)
{
    int master = -1, slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return -1;
    close(slave);
    const std::string temp = link + ".new";
    std::filesystem::remove(temp);
    if (symlink(name, temp.c_str()) != 0 || rename(temp.c_str(), link.c_str()) != 0) {
        close(master);
        return -1;
    }
    return master;
}

// Reads until count bytes came (true) or 5 s passed; the master gives EIO until the far
// end is opened.
bool Receive(int master, size_t count)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    size_t got = 0;
    uint8_t buffer[64];
    while (got < count && Clock::now() < deadline) {
        pollfd pfd = {master, POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0)
            continue;
        const ssize_t n = read(master, buffer, std::min(sizeof buffer, count - got));
        if (n > 0)
            got += static_cast<size_t>(n);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return got == count;
}

void Report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.2f ms, 90%% %.2f ms, max %.2f ms\n", what, ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], ms.back());
}

}   // namespace

int main(int argc, char** argv)
{
    const int replugs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    char scratch[] = "/tmp/tessarin-bench-replug-XXXXXX";
    if (!mkdtemp(scratch)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = scratch, links = root + "/tessarin/ports", link = links + "/COM21";
    std::filesystem::create_directories(links);
    std::filesystem::create_directories(root + "/dev");
    std::filesystem::create_directories(root + "/lock");
    setenv("XDG_CONFIG_HOME", scratch, 1);
    setenv("TESSARIN_DEVICE_DIR", (root + "/dev").c_str(), 1);
    setenv("TESSARIN_LOCK_DIR", (root + "/lock").c_str(), 1);

    Counter counter;
    CDongleLink engine;
    engine.SetNotifyWindow(&counter);
    int master = Plug(link);
    if (master < 0 || !engine.StartCapture("COM21", (root + "/replug.log").c_str(), 0)) {
        std::fprintf(stderr, "cannot start the capture\n");
        return 1;
    }
    // A frame of 48 bytes fills a read: the line is not held for the line to fall quiet.
    uint8_t data[43] = {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 36};
    uint8_t frame[64];
    const int frameSize = BuildFrame(CMD_DATA_INDICATION, data, sizeof data, frame);

    std::vector<double> reopened, logged;
    for (int i = 0; i < replugs; ++i) {
        close(master);   // unplugged
        while (!engine.IsDeviceGone())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        const int before = counter.lines.load();
        const Clock::time_point plugged = Clock::now();
        master = Plug(link);
        if (master < 0 || !Receive(master, 5)) {   // the PING of its return
            std::fprintf(stderr, "replug %d: the capture did not come back\n", i + 1);
            return 1;
        }
        const Clock::time_point back = Clock::now();
        if (write(master, frame, static_cast<size_t>(frameSize)) != frameSize)
            return 1;
        while (counter.lines.load() < before + 2)   // the PING's line and the frame's
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        reopened.push_back(Ms(plugged, back));
        logged.push_back(Ms(plugged, Clock::now()));
        CDataBuffer* buffer = nullptr;
        engine.GetDataBuffer(&buffer);
        buffer->Clear();
    }
    engine.StopCapture();
    close(master);
    std::printf("%d replugs of a pseudo-terminal linked as COM21\n", replugs);
    Report("replug to reopened and pinged", reopened);
    Report("replug to the first frame logged", logged);
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
