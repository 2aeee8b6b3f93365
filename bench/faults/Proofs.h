#pragma once
// One run of each long proof, shared by the fault tests (a few runs, with assertions)
// and the proof programs of bench/faults (many runs, with figures).

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/DongleLink.h"
#include "bench/faults/FaultRig.h"

namespace faultrig {

class CCollectingSink : public IWarningSink {
public:
    void ShowWarning(const char* text) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_texts.emplace_back(text);
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_texts;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_texts;
};

inline std::vector<std::string> ReadLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// True when every line of part occurs in whole, in the same order.
inline bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole)
{
    size_t at = 0;
    for (const std::string& line : part) {
        while (at < whole.size() && whole[at] != line)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

inline std::vector<std::string> WithoutTimes(std::vector<std::string> lines)
{
    for (std::string& line : lines)
        line.erase(0, std::min<size_t>(12, line.size()));
    return lines;
}

// The lines a capture must log for a stream: one per frame it takes, and the request
// for device information it sends after each ping response.
inline std::vector<std::string> ExpectedLines(const NoisyStream& stream)
{
    std::vector<std::string> lines;
    for (const ScannedFrame& f : stream.frames) {
        const std::string text = ExpectedLineText(f.command, f.data.data(), static_cast<int>(f.data.size()));
        if (text.empty())
            continue;
        lines.push_back(text);
        if (f.command == CMD_PING_RESPONSE)
            lines.push_back(" |<--| 0x0000 |GET_DEVICE_INFO    |");
    }
    return lines;
}

struct NoiseRun {
    bool bStarted = false;
    std::vector<std::string> expected;
    std::vector<std::string> lines;    // taken from the Data Buffer, without times
    std::vector<std::string> logged;   // from the log file, without times
    std::vector<std::string> warnings;
    int nLineCounter = 0;
    size_t nBytes = 0;
    int nGarbageFrames = 0;   // frames the noise formed by itself
    int nRerolls = 0;
    double dMs = 0;   // from the first byte written to the last line taken
};

// A capture on COM21 fed one noisy stream; lines are taken as the window takes them,
// so the queue never has to refuse one.
inline NoiseRun RunNoisyCapture(uint64_t seed, size_t noiseBytes, int goodFrames, const std::string& logPath)
{
    NoiseRun run;
    const NoisyStream stream = MakeNoisyStream(seed, noiseBytes, goodFrames);
    run.expected = ExpectedLines(stream);
    run.nBytes = stream.bytes.size();
    run.nGarbageFrames = static_cast<int>(stream.frames.size()) - goodFrames;
    run.nRerolls = stream.nRerolls;

    CPtyDongle dongle("COM21");
    CCollectingSink sink;
    CDongleLink link;
    link.SetWarningSink(&sink);
    CDataBuffer* buffer = nullptr;
    link.GetDataBuffer(&buffer);
    if (!dongle.IsOpen() || link.StartCapture("COM21", logPath.c_str(), 0) != 1)
        return run;
    run.bStarted = true;

    const Clock::time_point start = Clock::now();
    std::thread writer([&] { dongle.Send(stream.bytes); });
    char slot[CDataBuffer::SLOT_SIZE];
    // Until every line is taken, or is at least in the log file: the queue may refuse
    // lines to a taker the machine starves, as it would to a window.
    Clock::time_point lastLook = start;
    while (run.lines.size() < run.expected.size() && MsSince(start) < 120000) {
        if (buffer->Get(slot) == CDataBuffer::DONE) {
            run.lines.emplace_back(slot + 12);
            continue;
        }
        if (MsSince(lastLook) > 100) {
            lastLook = Clock::now();
            if (ReadLines(logPath).size() >= run.expected.size())
                break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    run.dMs = MsSince(start);
    writer.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // nothing more may come
    link.StopCapture();
    while (buffer->Get(slot) == CDataBuffer::DONE)
        run.lines.emplace_back(slot + 12);
    run.nLineCounter = link.GetLineCounter();
    run.logged = WithoutTimes(ReadLines(logPath));
    run.warnings = sink.Texts();
    return run;
}

struct HangUpCycle {
    bool bStarted = false;
    bool bKnownBefore = false;      // the dongle identity was known before the hang-up
    double dDetectMs = -1;          // until the engine saw the device gone and forgot it, or
                                    // (forced: the device stays) took it up again with a PING
    double dCpuPercent = -1;        // of one core, over a second while gone (or back)
    bool bStillCapturing = false;   // the capture goes on until stopped, as the user expects
    int nStopResult = -1;
    double dStopMs = -1;
    bool bKnownAfter = true;
    int nFdDelta = 0;   // descriptors and threads after the stop, less before start
    int nThreadDelta = 0;
};

// One capture on COM21 that loses its dongle: closed by the dongle's side (unplugged) or
// hung up by force. The engine is the caller's, kept across cycles as the window keeps it.
inline HangUpCycle RunHangUpCycle(CDongleLink& link, bool bForced, const std::string& logPath,
                                  int cpuWindowMs = 1000)
{
    HangUpCycle c;
    CDataBuffer* buffer = nullptr;
    link.GetDataBuffer(&buffer);
    const int fdsBefore = OpenDescriptors();
    const int threadsBefore = Threads();
    {
        CPtyDongle dongle("COM21");
        if (!dongle.IsOpen() || link.StartCapture("COM21", logPath.c_str(), 0) != 1)
            return c;
        c.bStarted = true;
        dongle.Send(MakeFrame(CMD_DEV_INFO_RSP, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x34, 0x12}));
        const Clock::time_point known = Clock::now();
        while (!link.GetDongleInfo(nullptr, nullptr) && MsSince(known) < 3000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        c.bKnownBefore = link.GetDongleInfo(nullptr, nullptr);

        const Clock::time_point start = Clock::now();
        if (bForced)
            dongle.ForceHangUp();
        else
            dongle.HangUp();
        if (bForced) {
            // The device stays: the engine takes it up again at once, with a PING.
            Bytes ping;
            while (ping.size() < 5 && MsSince(start) < 5000) {
                const Bytes got = dongle.Receive(10);
                got.empty() ? std::this_thread::sleep_for(std::chrono::microseconds(200)) : void();
                ping.insert(ping.end(), got.begin(), got.end());
            }
            if (ping.size() >= 5 && !link.IsDeviceGone())
                c.dDetectMs = MsSince(start);
        } else {
            while ((!link.IsDeviceGone() || link.GetDongleInfo(nullptr, nullptr)) && MsSince(start) < 5000)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (link.IsDeviceGone() && !link.GetDongleInfo(nullptr, nullptr))
                c.dDetectMs = MsSince(start);
        }

        const double cpuStart = ProcessCpuMs();
        const Clock::time_point wall = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(cpuWindowMs));
        c.dCpuPercent = 100.0 * (ProcessCpuMs() - cpuStart) / MsSince(wall);
        c.bStillCapturing = link.IsCapturing();

        const Clock::time_point stop = Clock::now();
        c.nStopResult = link.StopCapture();
        c.dStopMs = MsSince(stop);
        c.bKnownAfter = link.GetDongleInfo(nullptr, nullptr);
    }
    char slot[CDataBuffer::SLOT_SIZE];
    while (buffer->Get(slot) == CDataBuffer::DONE) {
    }
    c.nFdDelta = OpenDescriptors() - fdsBefore;
    c.nThreadDelta = Threads() - threadsBefore;
    return c;
}

}   // namespace faultrig
