// Bad bytes, at length: noisy streams (random noise with good frames set into it)
// through a pseudo-terminal into a capture, one seed after another.
//   tessarin-prove-noise [--runs R] [--mib M] [--frames F] [--seed S]
// Prints per run the stream, the checksummed frames in the noise, the lines logged and
// those the queue refused to a starved taker, and the rate; exits 1 when any line was
// lost, added, out of order or different in the log.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/faults/Proofs.h"

using namespace faultrig;

int main(int argc, char** argv)
{
    int runs = 5;
    int mib = 10;
    int frames = 1000;
    unsigned long long seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        const long long v = std::atoll(argv[i + 1]);
        if (opt == "--runs")
            runs = static_cast<int>(v);
        else if (opt == "--mib")
            mib = static_cast<int>(v);
        else if (opt == "--frames")
            frames = static_cast<int>(v);
        else if (opt == "--seed")
            seed = static_cast<unsigned long long>(v);
        else {
            std::fprintf(stderr, "usage: %s [--runs R] [--mib M] [--frames F] [--seed S]\n", argv[0]);
            return 2;
        }
    }
    PrivateRoot();
    const std::string folder = MakeTempFolder("prove-noise");
    const std::string logPath = folder + "/Tessarin.log";

    int failures = 0;
    std::printf("%6s %10s %7s %8s %8s %8s %7s %9s  %s\n", "seed", "bytes", "good", "garbage", "lines",
                "refused", "rerolls", "MB/s", "result");
    for (int r = 0; r < runs; ++r) {
        const NoiseRun run = RunNoisyCapture(seed + r, size_t(mib) << 20, frames, logPath);
        std::string result = "ok";
        if (!run.bStarted)
            result = "FAILED: the capture did not start";
        else if (run.logged != run.expected)
            result = "FAILED: the log file differs";
        else if (!IsSubsequence(run.lines, run.expected) ||
                 run.nLineCounter != static_cast<int>(run.lines.size()))
            result = "FAILED: the lines taken differ";
        else if (!run.warnings.empty())
            result = "FAILED: warning " + run.warnings.front();
        failures += result != "ok";
        std::printf("%6llu %10zu %7d %8d %8zu %8zu %7d %9.1f  %s\n", seed + r, run.nBytes, frames,
                    run.nGarbageFrames, run.logged.size(), run.logged.size() - run.lines.size(), run.nRerolls,
                    run.dMs > 0 ? run.nBytes / run.dMs / 1e3 : 0.0, result.c_str());
        std::fflush(stdout);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    std::printf("%d of %d runs held\n", runs - failures, runs);
    return failures == 0 ? 0 : 1;
}
