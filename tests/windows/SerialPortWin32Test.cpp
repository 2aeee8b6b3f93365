// The Win32 serial port and COM names against pseudo-terminal peers that
// scripts/test-windows links into Wine (TestPorts.h), and the capture engine on top of
// them against the dongle simulator. Wine lets a second handle open a port that one
// already holds, where Windows refuses: nothing here depends on either behaviour.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "link/DongleLink.h"
#include "platform/ComPortNames.h"
#include "platform/SerialPort.h"
#include "tests/windows/TestFolder.h"
#include "tests/windows/TestPorts.h"

namespace {

// Polls cond until it holds or the wait is clearly hopeless; never a measurement.
template <typename Cond>
bool WaitFor(Cond cond)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Reads until count bytes came or a few idle reads in a row brought nothing.
std::vector<uint8_t> ReadBack(CSerialPort& port, size_t count, int* largestRead)
{
    std::vector<uint8_t> got;
    uint8_t chunk[48];
    *largestRead = 0;
    for (int idle = 0; got.size() < count && idle < 4;) {
        const int n = port.Read(chunk, static_cast<int>(sizeof chunk));
        idle = n == 0 ? idle + 1 : 0;
        *largestRead = std::max(*largestRead, n);
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

// Both of the engine's seams: counts line announcements and warnings.
class CEngineOwner : public ILineReadyNotify, public IWarningSink {
public:
    void PostLineReady() override { ++m_nLines; }
    void ShowWarning(const char*) override { ++m_nWarnings; }
    std::atomic<int> m_nLines{0};
    std::atomic<int> m_nWarnings{0};
};

}  // namespace

TEST(ComPortNamesOnWindows, ListedNamesOpenByTheirDeviceFormAndOnlyRealDevicesOpen)
{
    for (int n = FIRST_COM_PORT; n <= LAST_COM_PORT; ++n) {
        const std::string name = "COM" + std::to_string(n);
        EXPECT_EQ("\\\\.\\" + name, ComPortDevicePath(name.c_str())) << name;
    }
    // Only the names the port list makes; an entry with its suffix names no device.
    for (const char* bad : {"COM0", "COM30", "COM03", "COM3 (in use)", "com3", "COM", "",
                            "\\\\.\\COM3", "COM3\\..\\COM4", "LPT1", "CON"})
        EXPECT_EQ("", ComPortDevicePath(bad)) << bad;
    EXPECT_EQ("", ComPortDevicePath(nullptr));
    EXPECT_EQ("", ComPortLinkFolder());

    // Ports above COM9 are found: by their plain name they would not be.
    EXPECT_EQ(PORT_AVAILABLE, ProbeComPort(ECHO_PORT)) << RUN_THROUGH_SCRIPT;
    EXPECT_EQ(PORT_AVAILABLE, ProbeComPort(SIM_PORT)) << RUN_THROUGH_SCRIPT;
    CSerialPort port;
    for (const char* name : {DANGLING_PORT, UNLINKED_PORTS[0], "COM30", "COM22 (in use)", ""}) {
        EXPECT_EQ(PORT_MISSING, ProbeComPort(name)) << name;
        EXPECT_FALSE(port.Open(name, 38400)) << name;
        EXPECT_FALSE(port.IsOpen()) << name;
    }
    EXPECT_FALSE(port.Open(nullptr, 38400));

    // A file called like a port in the current folder is no port: by its plain name it
    // would open, and be listed.
    CTestFolder folder;
    const char* lookalike = UNLINKED_PORTS[1];
    std::ofstream(folder.File(lookalike)) << "not a port";
    char previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, previous));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.Path().string().c_str()));
    HANDLE file = CreateFileA(lookalike, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << "the lookalike must be there to be refused";
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    EXPECT_EQ(PORT_MISSING, ProbeComPort(lookalike));
    EXPECT_FALSE(port.Open(lookalike, 38400));
    SetCurrentDirectoryA(previous);
}

TEST(SerialPortOnWindows, CarriesEveryByteBothWaysWithTheDongleSettings)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(ECHO_PORT, 38400)) << RUN_THROUGH_SCRIPT;
    EXPECT_FALSE(port.Open(ECHO_PORT, 38400));   // one opening at a time
    EXPECT_TRUE(port.IsOpen());
    uint8_t byte;
    EXPECT_EQ(0, port.Read(&byte, 1));   // nothing pending: the read times out empty

    // Every byte value in no easy order; NUL, XON, XOFF, CR and LF pass untouched: no
    // software flow control and no line-end translation.
    std::vector<uint8_t> sent(300);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint8_t special[] = {0x00, 0x11, 0x13, 0x0D, 0x0A};
    std::copy(std::begin(special), std::end(special), sent.begin() + 10);
    ASSERT_EQ(static_cast<int>(sent.size()), port.Write(sent.data(), static_cast<int>(sent.size())));
    int largest = 0;
    EXPECT_EQ(sent, ReadBack(port, sent.size(), &largest));
    EXPECT_LE(largest, 48);
    EXPECT_FALSE(port.IsGone());

    // The settings reached the device. Only Wine lets a second handle look at them.
    HANDLE look = CreateFileA(ComPortDevicePath(ECHO_PORT).c_str(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (look != INVALID_HANDLE_VALUE) {
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(look, &dcb));
        CloseHandle(look);
        EXPECT_EQ(38400u, dcb.BaudRate);
        EXPECT_EQ(8, dcb.ByteSize);
        EXPECT_EQ(NOPARITY, dcb.Parity);
        EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
        EXPECT_EQ(1u, dcb.fOutxCtsFlow);
        EXPECT_EQ(0u, dcb.fOutX | dcb.fInX);
    }

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close());
    EXPECT_EQ(0, port.Read(&byte, 1));
    EXPECT_EQ(0, port.Write(&byte, 1));
    // The handle went: the port opens again.
    ASSERT_TRUE(port.Open(ECHO_PORT, 38400));
    const std::vector<uint8_t> again = {0x02, 0x00, 0x07, 0x00, 0x07};
    ASSERT_EQ(5, port.Write(again.data(), 5));
    EXPECT_EQ(again, ReadBack(port, 5, &largest));
}

TEST(SerialPortOnWindows, ADeviceThatHangsUpIsGoneAndStaysClosable)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(HANGUP_PORT, 38400)) << RUN_THROUGH_SCRIPT;
    const uint8_t ping[] = {0x02, 0x00, 0x07, 0x00, 0x07};
    ASSERT_EQ(5, port.Write(ping, 5));
    uint8_t buffer[48];
    for (int i = 0; i < 40 && !port.IsGone(); ++i)
        port.Read(buffer, static_cast<int>(sizeof buffer));
    ASSERT_TRUE(port.IsGone());
    // From now on every transfer fails at once instead of waiting out its timeout.
    EXPECT_EQ(0, port.Read(buffer, static_cast<int>(sizeof buffer)));
    EXPECT_LT(port.Write(ping, 5), 5);
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
}

TEST(CaptureOnWindows, EngineLearnsTheDongleAndLogsInTextMode)
{
    CTestFolder folder;
    const std::string logPath = folder.File("capture.log");
    CEngineOwner owner;
    CDongleLink link;
    link.SetNotifyWindow(&owner);
    link.SetWarningSink(&owner);
    ASSERT_EQ(1, link.StartCapture(SIM_PORT, logPath.c_str(), 0)) << RUN_THROUGH_SCRIPT;
    DongleMessage ping;
    ping.word[0] = MSG_PING_REQUEST;
    ASSERT_EQ(1, link.SendDongleMessage(ping));

    // PING_RESPONSE makes the engine ask for the device information by itself.
    int shortAddr = -1;
    uint64_t ieee = 0;
    ASSERT_TRUE(WaitFor([&] { return link.GetDongleInfo(&shortAddr, &ieee); }));
    EXPECT_EQ(SIM_SHORT_ADDR, shortAddr);
    EXPECT_EQ(SIM_IEEE_ADDR, ieee);
    EXPECT_EQ(1, link.StopCapture());
    EXPECT_FALSE(link.IsDeviceGone());
    EXPECT_EQ(0, owner.m_nWarnings.load());

    const std::string log = ReadBytes(logPath);
    for (const char* kind : {"PING_REQUEST", "PING_RESPONSE", "DEV_INFO_RSP"})
        EXPECT_NE(std::string::npos, log.find(kind)) << kind;
    // One CR LF per line announced, and no line end of another kind.
    size_t crlf = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        ++crlf;
    EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), crlf);
    EXPECT_EQ(static_cast<size_t>(owner.m_nLines.load()), crlf);
    EXPECT_GE(crlf, 4u);   // sent PING, its answer, sent GET_DEVICE_INFO, its answer
}

TEST(CaptureOnWindows, EngineSeesTheDongleGoAndStillStops)
{
    CTestFolder folder;
    CEngineOwner owner;
    CDongleLink link;
    link.SetWarningSink(&owner);
    ASSERT_EQ(1, link.StartCapture(ENGINE_HANGUP_PORT, folder.File("gone.log").c_str(), 0))
        << RUN_THROUGH_SCRIPT;
    DongleMessage ping;
    ping.word[0] = MSG_PING_REQUEST;
    ASSERT_EQ(1, link.SendDongleMessage(ping));
    ASSERT_TRUE(WaitFor([&] { return link.IsDeviceGone(); }));
    EXPECT_FALSE(link.GetDongleInfo(nullptr, nullptr));
    EXPECT_EQ(1, link.StopCapture());
    EXPECT_FALSE(link.IsCapturing());
}
