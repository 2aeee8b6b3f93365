// Settings that must survive, at length: a save killed on entering each of its system
// calls, a thousand saves killed at random moments, and two processes saving a thousand
// times each while a third reads.
//   tessarin-prove-settings [--kills N] [--saves N] [--seed S]
// Prints the figures of each; exits 1 when the hive was ever anything but a whole old
// or new one, a temporary file stayed after a start, or an update was lost.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/faults/SettingsProofs.h"

using namespace faultrig;

int main(int argc, char** argv)
{
    int kills = 1000;
    int saves = 1000;
    unsigned long long seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--kills")
            kills = std::atoi(argv[i + 1]);
        else if (opt == "--saves")
            saves = std::atoi(argv[i + 1]);
        else if (opt == "--seed")
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        else {
            std::fprintf(stderr, "usage: %s [--kills N] [--saves N] [--seed S]\n", argv[0]);
            return 2;
        }
    }
    int failures = 0;
    for (uint32_t previous : {0u, 7u}) {
        const Clock::time_point start = Clock::now();
        const KillSweep s = KillAtEverySystemCall(previous, 8);
        std::printf(
            "kill at every system call of a %s: %d calls, old hive after %d, new after %d, "
            "%.1f s  %s\n",
            previous ? "save over a hive" : "first save", s.nSyscalls, s.nOld, s.nNew, MsSince(start) / 1e3,
            s.failure.empty() ? "ok" : ("FAILED: " + s.failure).c_str());
        failures += !s.failure.empty() || s.nOld + s.nNew != s.nSyscalls;
        std::fflush(stdout);
    }
    {
        const Clock::time_point start = Clock::now();
        const RandomKills r = KillAtRandomMoments(kills, seed);
        std::printf(
            "kill at random moments: %d trials, whole record %d, one the killed save wrote %d, "
            "%.1f s  %s\n",
            r.nTrials, r.nWhole, r.nWritten, MsSince(start) / 1e3,
            r.failure.empty() ? "ok" : ("FAILED: " + r.failure).c_str());
        failures += !r.failure.empty();
        std::fflush(stdout);
    }
    {
        const Clock::time_point start = Clock::now();
        const SideBySide r = TwoWritersAndAReader(saves);
        const double seconds = MsSince(start) / 1e3;
        std::printf(
            "two writers of %d saves each and a reader: %d reads, final values %lld and %lld, "
            "%.1f s (%.0f saves/s)  %s\n",
            r.nSaves, r.nReads, r.nFinalA, r.nFinalB, seconds, 2 * r.nSaves / seconds,
            r.failure.empty() ? "ok" : ("FAILED: " + r.failure).c_str());
        failures += !r.failure.empty() || r.nFinalA != saves || r.nFinalB != saves;
    }
    return failures == 0 ? 0 : 1;
}
