#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>

#include <thread>

#include "tests/platform/TestPty.h"

using testpty::MsSince;
using testpty::PtyPeer;
using Clock = std::chrono::steady_clock;

TEST(SerialPort, OpenAppliesTheDongleSettingsAndWrites)
{
    PtyPeer peer("COM23");
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM23", 38400));

    // Read the settings back through a second descriptor, as stty would.
    const int fd = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&tio), B38400);
    EXPECT_EQ(cfgetispeed(&tio), B38400);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8 | CRTSCTS));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    uint8_t frame[] = {0x02, 0x00, 0x07, 0x00, 0x07};
    EXPECT_EQ(port.Write(frame, 5), 5);
    EXPECT_EQ(peer.Receive(5), std::vector<uint8_t>(frame, frame + 5));
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close());
    EXPECT_EQ(port.Write(frame, 5), 0);
    EXPECT_EQ(port.Read(frame, 5), 0);
}

TEST(SerialPort, OpenRefusesWhatIsNoFreePortAndHoldsItAlone)
{
    CSerialPort port;
    EXPECT_FALSE(port.Open("COM24", 38400));          // no link, no device
    EXPECT_FALSE(port.Open("COM3 (in use)", 38400));
    testpty::LinkComName("COM24", "/dev/null");        // opens, but is no terminal
    EXPECT_FALSE(port.Open("COM24", 38400));
    EXPECT_FALSE(port.IsOpen());

    // A second opener in the same process is refused, even as root.
    PtyPeer peer("COM25");
    CSerialPort first;
    ASSERT_TRUE(first.Open("COM25", 38400));
    EXPECT_FALSE(port.Open("COM25", 38400));
    EXPECT_FALSE(port.IsOpen());
    first.Close();
    EXPECT_TRUE(port.Open("COM25", 38400));
    EXPECT_FALSE(port.Open("COM25", 38400)) << "an open port is not opened over";
    port.Close();

    // Exclusive mode used to outlive Close while another descriptor kept the device open
    // (a simulator holding its own end), locking ordinary users out of a free port.
    if (getuid() != 0)
        return;   // needs root to become an ordinary user
    ASSERT_EQ(chmod(peer.SlavePath().c_str(), 0666), 0);
    const int other = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    auto openAsUser = [&] {
        const int fd = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return fd >= 0 ? 0 : errno;
    };
    ASSERT_TRUE(port.Open("COM25", 38400));
    EXPECT_EQ(testpty::AsOrdinaryUser(openAsUser), EBUSY);
    port.Close();
    EXPECT_EQ(testpty::AsOrdinaryUser(openAsUser), 0) << "the port is free again after Close";
    close(other);
}

TEST(SerialPort, ReadTimeoutsAndPartialReads)
{
    PtyPeer peer("COM26");
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM26", 38400));
    uint8_t buffer[48];

    // Idle: returns 0 after the overall limit of about 500 ms.
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 48), 0);
    EXPECT_GE(MsSince(start), 450);

    // The count arrives: returns at once with all of it.
    std::vector<uint8_t> bytes(48);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    peer.Send(bytes);
    start = Clock::now();
    ASSERT_EQ(port.Read(buffer, 48), 48);
    EXPECT_LT(MsSince(start), 450);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 48), bytes);

    // Fewer bytes than asked come back one interval after the last, well before the
    // overall limit; a read after a timeout still works.
    peer.Send({0x02, 0x00, 0x07});
    start = Clock::now();
    ASSERT_EQ(port.Read(buffer, 48), 3);
    const long long ms = MsSince(start);
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 450);

    // Bytes trickling in keep the read going to the overall limit, not beyond.
    std::thread trickle([&] {
        for (int i = 0; i < 12; ++i) {
            peer.Send({static_cast<uint8_t>(i)});
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    });
    const int got = port.Read(buffer, 48);
    trickle.join();
    EXPECT_GE(got, 2);
    EXPECT_LT(got, 12);
}

// A hang-up reads as "ready, 0 bytes"; taking that for "no data yet" made every caller spin.
TEST(SerialPort, HangUpIsGoneNotAnEndlessStreamOfEmptyReads)
{
    PtyPeer peer("COM28");
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM28", 38400));
    EXPECT_FALSE(port.IsGone());
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        peer.HangUp();
    });
    uint8_t buffer[48];
    EXPECT_EQ(port.Read(buffer, 48), 0);
    unplug.join();
    EXPECT_TRUE(port.IsGone());

    // From then on reads fail at once and say so; the caller must not loop on them.
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 48), 0);
    EXPECT_LT(MsSince(start), 100);
    EXPECT_LT(port.Write(buffer, 5), 5);
    EXPECT_TRUE(port.Close());
}
