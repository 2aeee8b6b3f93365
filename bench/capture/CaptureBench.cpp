// Capture figures: the simulator's flood through a pseudo-terminal into a capture whose
// lines a consumer thread takes as a window would; idle capture CPU; StopCapture time.
//   tessarin-bench-capture [--frames N] [--idle-seconds S]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/DongleLink.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds(int who)
{
    rusage use;
    getrusage(who, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

class CSim {
public:
    bool Start(std::vector<std::string> options)
    {
        int out[2];
        if (pipe(out) != 0)
            return false;
        const std::string program = TESSARIN_SIM_PATH;
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& o : options)
            argv.push_back(&o[0]);
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        char c = 0;
        pollfd pfd = {out[0], POLLIN, 0};
        // The first line says the link is in place.
        while (poll(&pfd, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
        }
        close(out[0]);
        return m_pid > 0 && c == '\n';
    }
    // The child's CPU seconds.
    double Stop()
    {
        if (m_pid <= 0)
            return 0;
        const double before = CpuSeconds(RUSAGE_CHILDREN);
        kill(m_pid, SIGTERM);
        int status;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return CpuSeconds(RUSAGE_CHILDREN) - before;
    }
    ~CSim() { Stop(); }

private:
    pid_t m_pid = -1;
};

// Takes every announced line in batches, as fast as it can.
class CConsumer : public ILineReadyNotify {
public:
    void Start(CDataBuffer* buffer)
    {
        m_pBuffer = buffer;
        m_thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bStop = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }
    void PostLineReady() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_nAnnounced++ == m_nTaken)
            m_wake.notify_one();
    }
    long Taken() const { return m_nTakenLines.load(); }
    Clock::time_point LastTaken() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_lastTaken;
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [this] { return m_bStop || m_nTaken < m_nAnnounced; });
            const long count = m_nAnnounced - m_nTaken;
            if (count == 0)
                return;
            m_nTaken += count;
            guard.unlock();
            char line[CDataBuffer::SLOT_SIZE];
            long got = 0;
            for (long i = 0; i < count; ++i)
                got += m_pBuffer->Get(line) == CDataBuffer::DONE;
            m_nTakenLines += got;
            guard.lock();
            m_lastTaken = Clock::now();
        }
    }

    CDataBuffer* m_pBuffer = nullptr;
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_bStop = false;
    long m_nAnnounced = 0;
    long m_nTaken = 0;
    std::atomic<long> m_nTakenLines{0};
    Clock::time_point m_lastTaken;
};

class CQuietSink : public IWarningSink {
public:
    void ShowWarning(const char* text) override { std::fprintf(stderr, "warning: %s\n", text); }
};

long CountLines(const std::string& file)
{
    std::ifstream in(file);
    return std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
}

bool Ping(CDongleLink& link)
{
    DongleMessage msg;
    msg.word[0] = MSG_PING_REQUEST;
    return link.SendDongleMessage(msg) == 1;
}

// rate 0: as fast as the line takes them.
void Flood(const std::string& folder, long frames, bool noise, long rate)
{
    CSim sim;
    std::vector<std::string> options = {"--flood", std::to_string(frames), "--seed", "3"};
    if (noise)
        options.push_back("--noise");
    if (rate > 0) {
        options.push_back("--rate");
        options.push_back(std::to_string(rate));
    }
    if (!sim.Start(options)) {
        std::fprintf(stderr, "the simulator did not start\n");
        std::exit(1);
    }
    CDongleLink link;
    CQuietSink sink;
    CConsumer consumer;
    CDataBuffer* buffer = nullptr;
    link.GetDataBuffer(&buffer);
    link.SetWarningSink(&sink);
    link.SetNotifyWindow(&consumer);
    consumer.Start(buffer);

    const std::string log = folder + "/flood.log";
    const long expected = frames + 4;   // PING, its answer, GET_DEVICE_INFO, its answer
    if (!link.StartCapture("COM21", log.c_str(), 0) || !Ping(link)) {
        std::fprintf(stderr, "the capture did not start\n");
        std::exit(1);
    }
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const Clock::time_point t0 = Clock::now();
    // Done when every line is in, or when none has come for two seconds (some were lost).
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Clock::time_point last = consumer.LastTaken();
        if (link.GetLineCounter() >= expected && consumer.Taken() >= link.GetLineCounter())
            break;
        if (Clock::now() - std::max(last, t0) > std::chrono::seconds(2))
            break;
    }
    const Clock::time_point t1 = consumer.LastTaken();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    link.StopCapture();
    consumer.Stop();
    const double simCpu = sim.Stop();

    const double elapsed = Seconds(t1 - t0);
    const long logged = CountLines(log);
    char pace[64] = "full speed";
    if (rate > 0)
        std::snprintf(pace, sizeof pace, "paced at %ld/s", rate);
    std::printf("flood%s, %s: %ld frames in %.3f s\n", noise ? " with noise" : "", pace, frames, elapsed);
    std::printf("  into log file and Data Buffer: %.0f frames/s (log file lines %ld of %ld)\n",
                static_cast<double>(frames) / elapsed, logged, expected);
    std::printf("  lines taken by the consumer: %ld, lost: %ld\n", consumer.Taken(),
                expected - consumer.Taken());
    std::printf(
        "  CPU per frame: %.2f us in the capturing process (capture thread and "
        "consumer), %.2f us in the simulator\n",
        1e6 * cpu / static_cast<double>(frames), 1e6 * simCpu / static_cast<double>(frames));
}

void IdleAndStop(const std::string& folder, double idleSeconds)
{
    CSim sim;
    if (!sim.Start({"--quiet"})) {
        std::fprintf(stderr, "the simulator did not start\n");
        std::exit(1);
    }
    CDongleLink link;
    CQuietSink sink;
    link.SetWarningSink(&sink);
    const std::string log = folder + "/idle.log";
    if (!link.StartCapture("COM21", log.c_str(), 0) || !Ping(link)) {
        std::fprintf(stderr, "the capture did not start\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));   // let the ping settle
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const Clock::time_point t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    const double wall = Seconds(Clock::now() - t0);
    std::printf("idle capture: %.1f ms CPU over %.1f s (%.3f %% of a core)\n", cpu * 1e3, wall,
                100.0 * cpu / wall);

    std::vector<double> stops;
    for (int i = 0; i < 8; ++i) {
        if (i > 0) {
            link.StartCapture("COM21", log.c_str(), 1);
            // Stop lands anywhere in an idle read of up to 500 ms.
            std::this_thread::sleep_for(std::chrono::milliseconds(37 + 61 * i));
        }
        const Clock::time_point s0 = Clock::now();
        link.StopCapture();
        stops.push_back(Seconds(Clock::now() - s0) * 1e3);
    }
    double sum = 0;
    for (double s : stops)
        sum += s;
    std::printf("StopCapture on an idle line: min %.1f ms, mean %.1f ms, max %.1f ms (%zu stops)\n",
                *std::min_element(stops.begin(), stops.end()), sum / static_cast<double>(stops.size()),
                *std::max_element(stops.begin(), stops.end()), stops.size());

    // Under a flood the capture thread never waits in a read.
    CSim flood;
    sim.Stop();
    if (flood.Start({"--flood", "100000000"}) && link.StartCapture("COM21", log.c_str(), 0) && Ping(link)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const Clock::time_point s0 = Clock::now();
        link.StopCapture();
        std::printf("StopCapture during a flood: %.1f ms\n", Seconds(Clock::now() - s0) * 1e3);
    }
}

}   // namespace

int main(int argc, char** argv)
{
    long frames = 200000;
    double idleSeconds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--idle-seconds") == 0)
            idleSeconds = std::atof(argv[i + 1]);
    }
    char pattern[] = "/tmp/tessarin-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string folder = pattern;
    // Our own ports folder and no real devices: the simulator's link is all there is.
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    setenv("TESSARIN_DEVICE_DIR", folder.c_str(), 1);

    Flood(folder, frames, false, 0);
    Flood(folder, frames, true, 0);
    // Paced: whether the consumer keeps up at a given rate (then nothing may be lost).
    for (long rate : {20000L, 50000L, 100000L})
        Flood(folder, std::min(frames, rate * 3), false, rate);
    // With noise on a paced line, each false start byte the reader drops costs a read that
    // waits for the line: this shows what that does to the rate.
    Flood(folder, std::min(frames, 60000L), true, 20000);
    IdleAndStop(folder, idleSeconds);

    const std::string cleanup = "rm -rf '" + folder + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
