#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/platform/TestPty.h"

using testpty::MsSince;
using testpty::PtyPeer;
using Clock = std::chrono::steady_clock;

TEST(SerialPort, OpenAppliesTheDongleSettings)
{
    PtyPeer peer("COM23");
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM23", 38400));
    EXPECT_TRUE(port.IsOpen());

    // Read the settings back through a second descriptor, as stty would.
    const int fd = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&tio), B38400);
    EXPECT_EQ(cfgetispeed(&tio), B38400);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Close());
}

TEST(SerialPort, OpenRefusesWhatIsNoFreePort)
{
    CSerialPort port;
    EXPECT_FALSE(port.Open("COM24", 38400));          // no link, no device
    EXPECT_FALSE(port.Open("COM3 (in use)", 38400));
    EXPECT_FALSE(port.IsOpen());

    testpty::LinkComName("COM24", "/dev/null");        // opens, but is no terminal
    EXPECT_FALSE(port.Open("COM24", 38400));
    EXPECT_FALSE(port.IsOpen());
    testpty::UnlinkComName("COM24");

    // Exclusive: a second opener in the same process is refused, even as root.
    PtyPeer peer("COM25");
    CSerialPort first;
    ASSERT_TRUE(first.Open("COM25", 38400));
    EXPECT_FALSE(port.Open("COM25", 38400));
    EXPECT_FALSE(port.IsOpen());
    first.Close();
    EXPECT_TRUE(port.Open("COM25", 38400));
    EXPECT_FALSE(port.Open("COM25", 38400)) << "an open port is not opened over";
}

// Opens path as an ordinary user in a child; returns 0 when it opened, else errno.
static int OpenAsOrdinaryUser(const std::string& path)
{
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(255);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
}

TEST(SerialPort, ExclusiveForOtherUsersWhileOpenOnly)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to become an ordinary user";
    PtyPeer peer("COM29");
    ASSERT_EQ(chmod(peer.SlavePath().c_str(), 0666), 0);
    // Another descriptor stays open throughout, as a simulator may keep its own end.
    const int other = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);

    CSerialPort port;
    ASSERT_TRUE(port.Open("COM29", 38400));
    EXPECT_EQ(OpenAsOrdinaryUser(peer.SlavePath()), EBUSY);
    port.Close();
    EXPECT_EQ(OpenAsOrdinaryUser(peer.SlavePath()), 0) << "the port is free again after Close";
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
    long long ms = MsSince(start);
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 3000);

    // The count arrives: returns at once with all of it.
    std::vector<uint8_t> bytes(48);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    peer.Send(bytes);
    start = Clock::now();
    ASSERT_EQ(port.Read(buffer, 48), 48);
    EXPECT_LT(MsSince(start), 450);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 48), bytes);

    // Fewer bytes than asked: they come back one interval after the last, well before
    // the overall limit; a read after a timeout still works.
    peer.Send({0x02, 0x00, 0x07});
    start = Clock::now();
    ASSERT_EQ(port.Read(buffer, 48), 3);
    ms = MsSince(start);
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 450);
    EXPECT_EQ(buffer[2], 0x07);

    // Bytes trickling in keep the read going to the overall limit, not beyond.
    std::thread trickle([&] {
        for (int i = 0; i < 12; ++i) {
            peer.Send({static_cast<uint8_t>(i)});
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    });
    start = Clock::now();
    const int got = port.Read(buffer, 48);
    ms = MsSince(start);
    trickle.join();
    EXPECT_GE(got, 2);
    EXPECT_LT(got, 12);
    EXPECT_LT(ms, 1500);
}

TEST(SerialPort, WriteReachesThePeer)
{
    PtyPeer peer("COM27");
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM27", 38400));
    const uint8_t frame[] = {0x02, 0x00, 0x07, 0x00, 0x07};
    EXPECT_EQ(port.Write(frame, 5), 5);
    EXPECT_EQ(peer.Receive(5), std::vector<uint8_t>(frame, frame + 5));
    port.Close();
    EXPECT_EQ(port.Write(frame, 5), 0);
    EXPECT_EQ(port.Read(const_cast<uint8_t*>(frame), 5), 0);
}

TEST(SerialPort, HangUpIsGoneNotAnEndlessStreamOfEmptyReads)
{
    PtyPeer peer("COM28");
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM28", 38400));
    EXPECT_FALSE(port.IsGone());

    // The unplug comes while a read waits.
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
    const uint8_t ping[] = {0x02, 0x00, 0x07, 0x00, 0x07};
    EXPECT_LT(port.Write(ping, 5), 5);
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
}
