#include "platform/ComPortNames.h"
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>

#include "tests/platform/TestPty.h"

using testpty::PrivateFolders;

static ::testing::Environment* const g_folders =
    ::testing::AddGlobalTestEnvironment(new PrivateFolders);

TEST(ComPortNames, FixedTableCoversTheThreeDeviceFamilies)
{
    const std::string dev = PrivateFolders::DeviceFolder();
    EXPECT_EQ(ComPortDevicePath("COM1"), dev + "/ttyS0");
    EXPECT_EQ(ComPortDevicePath("COM4"), dev + "/ttyS3");
    EXPECT_EQ(ComPortDevicePath("COM5"), dev + "/ttyUSB0");
    EXPECT_EQ(ComPortDevicePath("COM12"), dev + "/ttyUSB7");
    EXPECT_EQ(ComPortDevicePath("COM13"), dev + "/ttyACM0");
    EXPECT_EQ(ComPortDevicePath("COM20"), dev + "/ttyACM7");
    EXPECT_EQ(ComPortDevicePath("COM21"), "");
    EXPECT_EQ(ComPortDevicePath("COM29"), "");
}

TEST(ComPortNames, OnlyPlainComNamesInRangeMapToDevices)
{
    // The list offers "COM3 (in use)" as an entry; opening that text must find nothing.
    for (const char* name : {"COM0", "COM30", "COM100", "COM3 (in use)", "com3", "COM03", "COM",
                             "COM-1", "COM 3", "", "XCOM3", "COM3x"})
        EXPECT_EQ(ComPortDevicePath(name), "") << name;
    EXPECT_EQ(ComPortDevicePath(nullptr), "");
}

TEST(ComPortNames, LinkWinsOverTableEvenWhenDangling)
{
    testpty::LinkComName("COM2", "/nonexistent/device");
    testpty::LinkComName("COM25", "/dev/null");
    EXPECT_EQ(ComPortDevicePath("COM2"), PrivateFolders::LinkFolder() + "/COM2");
    EXPECT_EQ(ComPortDevicePath("COM25"), PrivateFolders::LinkFolder() + "/COM25");
    EXPECT_EQ(ProbeComPort("COM2"), PORT_MISSING);

    // A plain file in the links folder is no link: the table applies.
    testpty::UnlinkComName("COM2");
    std::ofstream(PrivateFolders::LinkFolder() + "/COM6") << "x";
    EXPECT_EQ(ComPortDevicePath("COM6"), PrivateFolders::DeviceFolder() + "/ttyUSB1");
    testpty::UnlinkComName("COM6");
    testpty::UnlinkComName("COM25");
}

TEST(ComPortNames, LinkFolderFollowsXdgThenHome)
{
    const std::string saved = getenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ComPortLinkFolder(), saved + "/tessarin/ports");

    setenv("HOME", "/home/someone", 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);   // not absolute: ignored
    EXPECT_EQ(ComPortLinkFolder(), "/home/someone/.config/tessarin/ports");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ComPortLinkFolder(), "/home/someone/.config/tessarin/ports");
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST(ComPortNames, ProbeClassifiesMissingFreeHeldAndOdd)
{
    EXPECT_EQ(ProbeComPort("COM1"), PORT_MISSING);   // nothing in the private device folder
    EXPECT_EQ(ProbeComPort("COM21"), PORT_MISSING);  // no link
    EXPECT_EQ(ProbeComPort("COM3 (in use)"), PORT_MISSING);

    testpty::PtyPeer peer("COM21");
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE);

    // Held by this very process: root passes TIOCEXCL, the lock still tells.
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM21", 38400));
    EXPECT_EQ(ProbeComPort("COM21"), PORT_IN_USE);
    port.Close();
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE);

    // Held by another program that took only the advisory lock.
    const int other = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ProbeComPort("COM21"), PORT_IN_USE);
    close(other);

    // A folder where a device should be is neither missing nor in use.
    std::filesystem::create_directory(PrivateFolders::DeviceFolder() + "/ttyUSB2");
    EXPECT_EQ(ProbeComPort("COM7"), PORT_FAILED);
    std::filesystem::remove(PrivateFolders::DeviceFolder() + "/ttyUSB2");
}

TEST(ComPortNames, ProbeChangesNoSettings)
{
    testpty::PtyPeer peer("COM22");
    const int fd = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(fd, &before), 0);
    cfsetospeed(&before, B9600);
    cfsetispeed(&before, B9600);
    before.c_lflag |= ECHO;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &before), 0);

    EXPECT_EQ(ProbeComPort("COM22"), PORT_AVAILABLE);
    struct termios after;
    ASSERT_EQ(tcgetattr(fd, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), B9600);
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    close(fd);
}

TEST(ComPortNames, ProbeOfDeviceTheUserMayNotOpenIsInUse)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to become an ordinary user";
    // An ordinary user's view of a root-only device: access denied counts as in use.
    const std::string dev = PrivateFolders::DeviceFolder() + "/ttyACM1";
    std::ofstream(dev) << "";
    ASSERT_EQ(chmod(dev.c_str(), 0600), 0);
    ASSERT_EQ(chmod(PrivateFolders::DeviceFolder().c_str(), 0755), 0);
    ASSERT_EQ(chmod(PrivateFolders::root.c_str(), 0755), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        _exit(ProbeComPort("COM14") == PORT_IN_USE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::filesystem::remove(dev);
}
