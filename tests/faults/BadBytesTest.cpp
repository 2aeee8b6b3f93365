// Bad bytes on the line: ten MiB of random noise with a thousand good frames set into
// it, and junk frames with good checksums in the noise, through a pseudo-terminal into a
// running capture. Every frame the stream holds, the good ones and whatever checksummed
// garbage the noise holds, becomes its one line, in order, in the log file and for the
// taker of the Data Buffer.

#include <gtest/gtest.h>

#include "bench/faults/Proofs.h"

using namespace faultrig;

TEST(BadBytes, NoiseWithGoodFramesMixedInLosesNoneAndInventsNone)
{
    PrivateRoot();
    const std::string logPath = MakeTempFolder("badbytes") + "/Tessarin.log";
    for (uint64_t seed : {1u, 2u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const NoiseRun run = RunNoisyCapture(seed, size_t(10) << 20, 1000, logPath);
        ASSERT_TRUE(run.bStarted);
        ASSERT_GT(run.expected.size(), 1000u + 1000u) << "the junk frames must give lines too";
        EXPECT_EQ(run.logged, run.expected);
        // What the queue took, it handed over in order; a refusal is counted, never lost
        // from the log (it happens only when the machine starves the taker).
        EXPECT_EQ(run.nLineCounter, static_cast<int>(run.lines.size()));
        if (run.lines.size() == run.expected.size())
            EXPECT_EQ(run.lines, run.expected);
        else
            EXPECT_TRUE(IsSubsequence(run.lines, run.expected));
        EXPECT_TRUE(run.warnings.empty());
    }
}
