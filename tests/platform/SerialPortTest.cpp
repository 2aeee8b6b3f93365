// The serial port, COM names and the probe, on pseudo-terminals and the private device
// folder: never a real device, never the user's own port links.

#include "platform/ComPortNames.h"
#include "platform/ConfigFolder.h"
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/support/PosixPeers.h"

// One port on a pseudo-terminal from open to close, and what the probe says of it.
TEST(PlatformSerialPort, OpenReadWriteCloseAndTheProbe)
{
    CPtyPeer peer("COM23");
    CSerialPort port, second;
    LinkComName("COM24", "/dev/null");   // opens, but is no terminal
    for (const char* name : {"COM25", "COM3 (in use)", "COM24"})
        EXPECT_FALSE(port.Open(name, 38400) || port.IsOpen()) << name;

    // Another descriptor keeps the device open, as a simulator holding its own end does:
    // exclusive mode must not outlive Close then.
    const std::string slave = peer.SlavePath();
    const int other = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    ASSERT_EQ(tcgetattr(other, &tio), 0);
    cfsetospeed(&tio, B9600);
    ASSERT_EQ(tcsetattr(other, TCSANOW, &tio), 0);
    EXPECT_EQ(ProbeComPort("COM23"), PORT_AVAILABLE);
    EXPECT_TRUE(tcgetattr(other, &tio) == 0 && cfgetospeed(&tio) == B9600)
        << "the probe changed the settings";

    ASSERT_TRUE(port.Open("COM23", 38400));
    EXPECT_FALSE(port.Open("COM23", 38400)) << "an open port is not opened over";
    EXPECT_FALSE(second.Open("COM23", 38400)) << "a second opener, even as root";
    EXPECT_EQ(ProbeComPort("COM23"), PORT_IN_USE);
    for (const std::string& f : {PrivateRoot(), DeviceFolder(), PrivateRoot() + "/config",
                                 PrivateRoot() + "/config/tessarin", PortLinkFolder(), slave})
        chmod(f.c_str(), f == slave ? 0666 : 0755);   // within reach of uid 65534
    auto openAsUser = [&] { return open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0 ? 0 : errno; };
    EXPECT_EQ(AsOrdinaryUser(openAsUser), EBUSY);
    ASSERT_EQ(tcgetattr(other, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio) * 10000 + cfgetispeed(&tio), B38400 * 10001u);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8 | CRTSCTS));

    uint8_t buffer[48];
    auto timedRead = [&](const Bytes& sent, int got, long long minMs, long long maxMs) {
        peer.Send(sent);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(port.Read(buffer, 48), got);
        EXPECT_TRUE(MsSince(start) >= minMs && MsSince(start) < maxMs) << MsSince(start);
    };
    timedRead({}, 0, 450, 800);                  // idle: the 500 ms total
    timedRead(Bytes(48, 0x5A), 48, 0, 450);      // the count: at once
    timedRead({0x02, 0x00, 0x07}, 3, 90, 300);   // fewer: 100 ms after the last byte
    std::thread trickle([&] {
        for (uint8_t i = 0; i < 12; ++i) {
            peer.Send({i});
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    });
    const int got = port.Read(buffer, 48);   // a byte every 60 ms: still the total
    trickle.join();
    EXPECT_TRUE(got >= 2 && got < 12) << got;

    // A line that takes nothing: a write gives up after 60 ms a byte plus 2 s, and Close
    // drops what is stuck rather than wait for the line.
    const Bytes chunk(4096);   // until the pty's buffers stay full
    for (int full = 0; full < 5; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        full = write(other, chunk.data(), chunk.size()) > 0 ? 0 : full + 1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(port.Write(chunk.data(), 5), 5);
    EXPECT_TRUE(MsSince(start) >= 2250 && MsSince(start) < 5000) << MsSince(start);
    EXPECT_TRUE(port.Close() && !port.Close());
    EXPECT_LT(peer.ReceiveAll(500).size(), 8192u);
    EXPECT_EQ(AsOrdinaryUser(openAsUser), 0) << "the port is everyone's again after Close";
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);   // another program's lock alone
    EXPECT_EQ(ProbeComPort("COM23"), PORT_IN_USE);
    close(other);
    EXPECT_EQ(ProbeComPort("COM23"), PORT_AVAILABLE);

    // Another program that holds the device without any lock, then the lock files of a
    // live process and of one long gone (removed as stale).
    const pid_t holder = fork();
    if (holder == 0) {
        closefrom(0);   // not the pty's far end: that would be the dongle itself
        if (open(slave.c_str(), O_RDWR | O_NOCTTY) >= 0)
            pause();
        _exit(1);
    }
    EXPECT_TRUE(WaitUntil([] { return ProbeComPort("COM23") == PORT_IN_USE; }));
    EXPECT_FALSE(port.Open("COM23", 38400));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    const std::string lockFile = PrivateRoot() + "/lock/LCK.." + slave.substr(5).replace(3, 1, "_");
    for (const pid_t pid : {1, holder}) {
        WriteText(lockFile, std::string(10 - std::to_string(pid).size(), ' ') + std::to_string(pid) + "\n");
        EXPECT_EQ(ProbeComPort("COM23"), pid == 1 ? PORT_IN_USE : PORT_AVAILABLE) << pid;
    }
    ASSERT_TRUE(port.Open("COM23", 38400));
    EXPECT_EQ(std::stol(ReadFile(lockFile)), getpid()) << "our own lock while open";
    port.Close();
    EXPECT_FALSE(std::filesystem::exists(lockFile));

    mkdir((DeviceFolder() + "/ttyUSB2").c_str(), 0755);
    EXPECT_EQ(ProbeComPort("COM7"), PORT_FAILED);
    WriteText(DeviceFolder() + "/ttyACM1", "");   // one the user may not open
    EXPECT_EQ(AsOrdinaryUser([] { return static_cast<int>(ProbeComPort("COM14")); }), PORT_NO_ACCESS);
}

TEST(PlatformComNames, ALinkWinsThenTheFixedTable)
{
    Texts devices;
    for (const char* name :
         {"COM1", "COM4", "COM5", "COM12", "COM13", "COM20", "COM21", "COM29", "COM0", "COM30", "COM100",
          "COM3 (in use)", "com3", "COM03", "COM", "COM-1", "", "XCOM3", "COM3x"})
        devices.push_back(ComPortDevicePath(name));
    const std::string d = DeviceFolder();
    Texts fixed = {d + "/ttyS0",   d + "/ttyS3",   d + "/ttyUSB0",
                   d + "/ttyUSB7", d + "/ttyACM0", d + "/ttyACM7"};
    fixed.resize(19);   // and no device for the rest
    EXPECT_EQ(devices, fixed);
    EXPECT_EQ(ComPortDevicePath(nullptr), "");
    EXPECT_EQ(ProbeComPort("COM1") * 10 + ProbeComPort("COM3 (in use)"), PORT_MISSING * 11);

    for (const char* name : {"COM2", "COM29"}) {   // even dangling, and in the links-only range
        LinkComName(name, "/nonexistent/device");
        EXPECT_EQ(ComPortDevicePath(name), PortLinkFolder() + "/" + name);
        EXPECT_EQ(ProbeComPort(name), PORT_MISSING);
        UnlinkComName(name);
    }
    WriteText(PortLinkFolder() + "/COM6", "x");   // a plain file is no link
    EXPECT_EQ(ComPortDevicePath("COM6"), DeviceFolder() + "/ttyUSB1");
}

// USB dongles by their stable identity: each is given a number once (its node's, unless
// another dongle has it) and keeps it however it is plugged in again, in this run and,
// through the remembered table, the next.
TEST(PlatformComNames, ADongleKeepsItsNumberByItsIdentity)
{
    auto a = std::make_unique<CUsbDongle>("usb-A", "ttyUSB0");
    auto b = std::make_unique<CUsbDongle>("usb-B", "ttyACM0");
    EXPECT_TRUE(AssignComPortNumbers() && !AssignComPortNumbers());
    const std::string table = RememberedComPortNumbers() + "COM14=usb-Gone\n";
    EXPECT_EQ(table, "COM5=usb-A\nCOM13=usb-B\nCOM14=usb-Gone\n");
    a.reset();
    b.reset();
    RememberComPortNumbers("");   // a restart, with lines no table of ours holds
    RememberComPortNumbers(table + "COM30=usb-X\nCOM6=../x\nCOM7=a/b\nCOM8=\njunk\n");
    EXPECT_EQ(RememberedComPortNumbers(), table);

    b = std::make_unique<CUsbDongle>("usb-B", "ttyUSB0");   // the other way round
    a = std::make_unique<CUsbDongle>("usb-A", "ttyACM0");
    CUsbDongle c("usb-C", "ttyUSB1");   // new, its node's number free
    CUsbDongle d("usb-D", "ttyACM1");   // new, its node's number another's: the lowest free
    EXPECT_TRUE(AssignComPortNumbers());
    const std::string byId = DeviceFolder() + "/serial/by-id/";
    Texts paths;
    for (const char* name : {"COM5", "COM6", "COM7", "COM13", "COM14"})
        paths.push_back(ComPortDevicePath(name));
    // The node of a dongle known under another number is not shown twice.
    EXPECT_EQ(paths, (Texts{byId + "usb-A", byId + "usb-C", byId + "usb-D", byId + "usb-B", ""}));
    CPtyPeer plain("COM22");   // no identity but its name's
    EXPECT_EQ(std::make_pair(ComPortIdentity("COM5"), ComPortIdentity("COM22")),
              std::make_pair(std::string("by-id:usb-A"), PortLinkFolder() + "/COM22"));
    EXPECT_TRUE(IsUsbSerialPort("COM5") && !IsUsbSerialPort("COM22"));
    EXPECT_EQ(ComPortDescription("COM5 (in use)"), "COM5: " + a->Peer().SlavePath() + ", usb-A");
    RememberComPortNumbers("");
}

// Only an absolute XDG_CONFIG_HOME counts; without a usable HOME the user database
// names the home folder.
TEST(PlatformConfigFolder, XdgThenHomeThenTheUserDatabase)
{
    const std::string xdg = std::getenv("XDG_CONFIG_HOME"), user = getpwuid(getuid())->pw_dir;
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    const char* cases[][3] = {// XDG_CONFIG_HOME, HOME, the folder ("" for the user's)
                              {"/x/cfg", "/h", "/x/cfg/tessarin"},
                              {"x/cfg", "/h", "/h/.config/tessarin"},
                              {nullptr, "/h", "/h/.config/tessarin"},
                              {nullptr, "h", ""},
                              {"", nullptr, ""}};
    for (const auto& [setXdg, setHome, folder] : cases) {
        setXdg ? setenv("XDG_CONFIG_HOME", setXdg, 1) : unsetenv("XDG_CONFIG_HOME");
        setHome ? setenv("HOME", setHome, 1) : unsetenv("HOME");
        EXPECT_EQ(TessarinConfigFolder(), *folder ? folder : user + "/.config/tessarin")
            << (setXdg ? setXdg : "unset") << " " << (setHome ? setHome : "unset");
    }
    setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    home ? setenv("HOME", savedHome.c_str(), 1) : unsetenv("HOME");
}
