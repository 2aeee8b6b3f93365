// Bad bytes on the line: ten MiB of random noise with a thousand good frames set into
// it, through a pseudo-terminal into a running capture. Every frame the stream holds,
// the good ones and whatever checksummed garbage the noise forms, becomes its one line,
// in order, in the Data Buffer and in the log file.

#include <gtest/gtest.h>

#include "tests/faults/Proofs.h"

using namespace faultrig;

TEST(BadBytes, NoiseWithGoodFramesMixedInLosesNoneAndInventsNone)
{
    PrivateRoot();
    const std::string logPath = MakeTempFolder("badbytes") + "/Tessarin.log";
    for (uint64_t seed : {1u, 2u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const NoiseRun run = RunNoisyCapture(seed, size_t(10) << 20, 1000, logPath);
        ASSERT_TRUE(run.bStarted);
        ASSERT_GE(run.expected.size(), 1000u);
        EXPECT_EQ(run.lines, run.expected);
        EXPECT_EQ(run.logged, run.expected);
        EXPECT_EQ(run.nLineCounter, static_cast<int>(run.expected.size()));
        EXPECT_TRUE(run.warnings.empty());
    }
}
