// The dongle goes away mid-capture, unplugged (its side closes) or hung up by force,
// several times over one engine as the window keeps it: found within 0.6 s and the
// dongle forgotten, no spinning while it is gone, Stop works, and nothing is left
// behind (descriptors, threads). The hundred-times run is scripts/prove-hangup.

#include <gtest/gtest.h>

#include "bench/faults/Proofs.h"

using namespace faultrig;

TEST(HangUp, FoundQuicklyCostsNothingWhileGoneAndLeavesNothingBehind)
{
    PrivateRoot();
    const std::string logPath = MakeTempFolder("hangup") + "/Tessarin.log";
    CCollectingSink sink;
    CDongleLink link;
    link.SetWarningSink(&sink);
    // One cycle first, so whatever the C library sets up once is not counted as a leak.
    RunHangUpCycle(link, false, logPath, 10);
    for (int cycle = 0; cycle < 6; ++cycle) {
        const bool forced = cycle % 2 == 1;
        SCOPED_TRACE(std::string(forced ? "forced hang-up" : "unplugged") + ", cycle " + std::to_string(cycle));
        const HangUpCycle c = RunHangUpCycle(link, forced, logPath, 500);
        ASSERT_TRUE(c.bStarted);
        EXPECT_TRUE(c.bKnownBefore);
        EXPECT_GE(c.dDetectMs, 0) << "never found gone";
        EXPECT_LT(c.dDetectMs, 600);
        // A tenth of a core allows for a busy machine; a spin would take the whole core.
        EXPECT_LT(c.dCpuPercent, 10.0);
        EXPECT_TRUE(c.bStillCapturing);
        EXPECT_EQ(c.nStopResult, 1);
        EXPECT_LT(c.dStopMs, 1000);
        EXPECT_FALSE(c.bKnownAfter);
        EXPECT_EQ(c.nFdDelta, 0);
        EXPECT_EQ(c.nThreadDelta, 0);
    }
    EXPECT_FALSE(link.IsCapturing());
    EXPECT_TRUE(sink.Texts().empty());
}
