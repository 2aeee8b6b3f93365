#include "link/ComPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/platform/TestPty.h"

using testpty::MsSince;
using testpty::PtyPeer;

static ::testing::Environment* const g_folders =
    ::testing::AddGlobalTestEnvironment(new testpty::PrivateFolders);

TEST(ComPort, OpenCloseAndFramesThroughAPseudoTerminal)
{
    CComPort port;
    EXPECT_FALSE(port.Open(48, "COM21", 38400));   // not linked yet
    EXPECT_FALSE(port.Close());

    PtyPeer peer("COM21");
    ASSERT_TRUE(port.Open(48, "COM21", 38400));
    const uint8_t ping[] = {0x02, 0x00, 0x07, 0x00, 0x07};
    EXPECT_EQ(port.SendFrame(5, ping), 5);
    EXPECT_EQ(peer.Receive(5), std::vector<uint8_t>(ping, ping + 5));

    peer.Send({0x55, 0x02, 0x10, 0x07, 0x01, 0x00, 0x16});
    int command = 0, length = 0;
    uint8_t data[48];
    bool got = false;
    for (int i = 0; i < 10 && !got; ++i)
        got = port.ReceiveFrame(command, length, data);
    ASSERT_TRUE(got);
    EXPECT_EQ(command, 0x1007);
    EXPECT_EQ(length, 1);
    EXPECT_FALSE(port.IsGone());

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close());
}

TEST(ComPort, SendDuringIdleReadsIsNeverStarved)
{
    // The capture thread reads back to back on an idle line. Each send must get the port
    // within about one read (500 ms), however eagerly the reader takes it again.
    PtyPeer peer("COM22");
    CComPort port;
    ASSERT_TRUE(port.Open(48, "COM22", 38400));
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        int command, length;
        uint8_t data[48];
        while (reading)
            port.ReceiveFrame(command, length, data);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const uint8_t frame[] = {0x02, 0x00, 0x14, 0x00, 0x14};
    long long worst = 0;
    for (int i = 0; i < 4; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(port.SendFrame(5, frame), 5);
        worst = std::max(worst, MsSince(start));
    }
    reading = false;
    reader.join();
    EXPECT_LT(worst, 2000) << "a send waited for more than the read in progress";
    EXPECT_EQ(peer.Receive(20).size(), 20u);
}
