// The dongle goes away, many times: one engine, captures whose dongle is unplugged (its
// side closes) or hung up by force, alternately.
//   tessarin-prove-hangup [--cycles N] [--cpu-ms W]
// Prints the time to find the device gone (or, hung up by force, to take it up again),
// the CPU taken while it is gone, the time to stop, and descriptors and threads left
// over; exits 1 when a promise did not hold (found within 600 ms, under 1 % of a core,
// stop works, nothing left behind).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/faults/Proofs.h"

using namespace faultrig;

int main(int argc, char** argv)
{
    int cycles = 100;
    int cpuMs = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--cycles")
            cycles = std::atoi(argv[i + 1]);
        else if (opt == "--cpu-ms")
            cpuMs = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: %s [--cycles N] [--cpu-ms W]\n", argv[0]);
            return 2;
        }
    }
    PrivateRoot();
    const std::string folder = MakeTempFolder("prove-hangup");
    const std::string logPath = folder + "/Tessarin.log";
    CCollectingSink sink;
    CDongleLink link;
    link.SetWarningSink(&sink);
    RunHangUpCycle(link, false, logPath, 10);   // what the C library sets up once is no leak

    std::vector<double> detect, cpu, stop;
    int failures = 0;
    int fdLeak = 0;
    int threadLeak = 0;
    for (int i = 0; i < cycles; ++i) {
        const HangUpCycle c = RunHangUpCycle(link, i % 2 == 1, logPath, cpuMs);
        const bool ok = c.bStarted && c.bKnownBefore && c.dDetectMs >= 0 && c.dDetectMs < 600 &&
                        c.dCpuPercent < 1.0 && c.bStillCapturing && c.nStopResult == 1 && c.dStopMs < 1000 &&
                        !c.bKnownAfter && c.nFdDelta == 0 && c.nThreadDelta == 0;
        if (!ok) {
            ++failures;
            std::printf(
                "cycle %d (%s): started %d known %d found %.1f ms cpu %.2f %% capturing %d "
                "stop %d in %.1f ms known after %d fds %+d threads %+d\n",
                i, i % 2 ? "forced" : "unplugged", c.bStarted, c.bKnownBefore, c.dDetectMs, c.dCpuPercent,
                c.bStillCapturing, c.nStopResult, c.dStopMs, c.bKnownAfter, c.nFdDelta, c.nThreadDelta);
        }
        detect.push_back(c.dDetectMs);
        cpu.push_back(c.dCpuPercent);
        stop.push_back(c.dStopMs);
        fdLeak += c.nFdDelta;
        threadLeak += c.nThreadDelta;
    }
    auto figures = [](const char* what, std::vector<double> v, const char* unit) {
        std::sort(v.begin(), v.end());
        double sum = 0;
        for (double x : v)
            sum += x;
        std::printf("%-22s min %8.2f  median %8.2f  mean %8.2f  max %8.2f %s\n", what, v.front(),
                    v[v.size() / 2], sum / v.size(), v.back(), unit);
    };
    if (cycles > 0) {
        figures("found gone (or back)", detect, "ms");
        figures("CPU while gone", cpu, "% of a core");
        figures("StopCapture took", stop, "ms");
    }
    std::printf("descriptors left over %d, threads left over %d, warnings %zu\n", fdLeak, threadLeak,
                sink.Texts().size());
    std::printf("%d of %d cycles held\n", cycles - failures, cycles);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return failures == 0 ? 0 : 1;
}
