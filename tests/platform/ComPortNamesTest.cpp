#include "platform/ComPortNames.h"
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>

#include "tests/platform/TestPty.h"

using testpty::PrivateFolders;

TEST(ComPortNames, OnlyPlainComNamesInRangeMapToTheFixedTable)
{
    const std::pair<const char*, const char*> table[] = {
        {"COM1", "/ttyS0"}, {"COM4", "/ttyS3"}, {"COM5", "/ttyUSB0"}, {"COM12", "/ttyUSB7"},
        {"COM13", "/ttyACM0"}, {"COM20", "/ttyACM7"},
    };
    for (const auto& [name, device] : table)
        EXPECT_EQ(ComPortDevicePath(name), PrivateFolders::DeviceFolder() + device) << name;
    // COM21..COM29 exist only as links; the list offers "COM3 (in use)" as an entry, and
    // opening that text must find nothing.
    for (const char* name : {"COM21", "COM29", "COM0", "COM30", "COM100", "COM3 (in use)", "com3", "COM03",
                             "COM", "COM-1", "COM 3", "", "XCOM3", "COM3x"})
        EXPECT_EQ(ComPortDevicePath(name), "") << name;
    EXPECT_EQ(ComPortDevicePath(nullptr), "");
}

TEST(ComPortNames, LinksFromTheConfigFolderWinEvenWhenDangling)
{
    testpty::LinkComName("COM2", "/nonexistent/device");
    EXPECT_EQ(ComPortDevicePath("COM2"), PrivateFolders::LinkFolder() + "/COM2");
    EXPECT_EQ(ProbeComPort("COM2"), PORT_MISSING);
    testpty::UnlinkComName("COM2");
    // A plain file in the links folder is no link: the table applies.
    std::ofstream(PrivateFolders::LinkFolder() + "/COM6") << "x";
    EXPECT_EQ(ComPortDevicePath("COM6"), PrivateFolders::DeviceFolder() + "/ttyUSB1");
    testpty::UnlinkComName("COM6");

    const std::string saved = getenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);   // not absolute: ignored
    EXPECT_EQ(ComPortLinkFolder(), "/home/someone/.config/tessarin/ports");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ComPortLinkFolder(), "/home/someone/.config/tessarin/ports");
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    EXPECT_EQ(ComPortLinkFolder(), PrivateFolders::LinkFolder());
}

TEST(ComPortNames, ProbeClassifiesAndChangesNoSettings)
{
    EXPECT_EQ(ProbeComPort("COM1"), PORT_MISSING);   // nothing in the private device folder
    EXPECT_EQ(ProbeComPort("COM21"), PORT_MISSING);  // no link
    EXPECT_EQ(ProbeComPort("COM3 (in use)"), PORT_MISSING);

    testpty::PtyPeer peer("COM21");
    const int other = open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(other, &tio), 0);
    cfsetospeed(&tio, B9600);
    tio.c_lflag |= ECHO;
    ASSERT_EQ(tcsetattr(other, TCSANOW, &tio), 0);
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE);
    ASSERT_EQ(tcgetattr(other, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_NE(tio.c_lflag & ECHO, 0u);

    // Held by this very process: root passes TIOCEXCL, the lock still tells.
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM21", 38400));
    EXPECT_EQ(ProbeComPort("COM21"), PORT_IN_USE);
    port.Close();
    // Held by another program that took only the advisory lock.
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ProbeComPort("COM21"), PORT_IN_USE);
    close(other);
    EXPECT_EQ(ProbeComPort("COM21"), PORT_AVAILABLE);

    // A folder where a device should be is neither missing nor in use.
    std::filesystem::create_directory(PrivateFolders::DeviceFolder() + "/ttyUSB2");
    EXPECT_EQ(ProbeComPort("COM7"), PORT_FAILED);

    if (getuid() != 0)
        return;   // the rest needs root to become an ordinary user
    // An ordinary user's view of a root-only device: access denied counts as in use.
    const std::string dev = PrivateFolders::DeviceFolder() + "/ttyACM1";
    std::ofstream(dev) << "";
    ASSERT_EQ(chmod(dev.c_str(), 0600), 0);
    ASSERT_EQ(chmod(PrivateFolders::DeviceFolder().c_str(), 0755), 0);
    ASSERT_EQ(chmod(PrivateFolders::root.c_str(), 0755), 0);
    EXPECT_EQ(testpty::AsOrdinaryUser([] { return static_cast<int>(ProbeComPort("COM14")); }), PORT_IN_USE);
}
