// The Win32 serial port and COM names against pseudo-terminal peers that
// scripts/test-windows links into Wine (TestPorts.h), and the capture engine on top of
// them against the dongle simulator. Wine lets a second handle open a port that one
// already holds, where Windows refuses: nothing here depends on either behaviour.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "link/ComPort.h"
#include "link/DongleLink.h"
#include "link/Frame.h"
#include "platform/ComPortNames.h"
#include "platform/SerialPort.h"
#include "tests/windows/TestFolder.h"
#include "tests/windows/TestPorts.h"

namespace {

using Clock = std::chrono::steady_clock;

// Polls cond until it holds or the wait is clearly hopeless; never a measurement.
template <typename Cond>
bool WaitFor(Cond cond, std::chrono::seconds limit = std::chrono::seconds(15))
{
    const auto end = Clock::now() + limit;
    while (!cond()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Reads until count bytes came or a few idle reads in a row brought nothing.
std::vector<uint8_t> ReadBack(CSerialPort& port, int count, int* largestRead)
{
    std::vector<uint8_t> got;
    uint8_t chunk[48];
    int idle = 0;
    *largestRead = 0;
    while (static_cast<int>(got.size()) < count && idle < 4) {
        const int n = port.Read(chunk, static_cast<int>(sizeof chunk));
        if (n == 0) {
            ++idle;
            continue;
        }
        idle = 0;
        *largestRead = std::max(*largestRead, n);
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(ComPortNamesOnWindows, EveryListedNameOpensByItsDeviceForm)
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
}

TEST(ComPortNamesOnWindows, ProbeFindsPortsAboveNineAndOnlyRealDevices)
{
    // The plain name of a port above COM9 is not found: the reason for the device form.
    HANDLE plain = CreateFileA(ECHO_PORT, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, plain);
    if (plain != INVALID_HANDLE_VALUE)
        CloseHandle(plain);

    EXPECT_EQ(PORT_AVAILABLE, ProbeComPort(ECHO_PORT)) << RUN_THROUGH_SCRIPT;
    EXPECT_EQ(PORT_AVAILABLE, ProbeComPort(SIM_PORT)) << RUN_THROUGH_SCRIPT;
    EXPECT_EQ(PORT_MISSING, ProbeComPort(DANGLING_PORT));
    for (const char* name : UNLINKED_PORTS)
        EXPECT_EQ(PORT_MISSING, ProbeComPort(name)) << name;
    EXPECT_EQ(PORT_MISSING, ProbeComPort("COM30"));
    EXPECT_EQ(PORT_MISSING, ProbeComPort("COM22 (in use)"));

    // A file called like a port in the current folder is no port: by its plain name it
    // would have opened, and been listed.
    CTestFolder folder;
    const std::string lookalike = UNLINKED_PORTS[0];
    std::ofstream(folder.File(lookalike.c_str())) << "not a port";
    char previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, previous));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.Path().string().c_str()));
    HANDLE file = CreateFileA(lookalike.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    EXPECT_EQ(PORT_MISSING, ProbeComPort(lookalike.c_str()));
    CSerialPort port;
    EXPECT_FALSE(port.Open(lookalike.c_str(), 38400));
    EXPECT_FALSE(port.IsOpen());
    SetCurrentDirectoryA(previous);
}

TEST(SerialPortOnWindows, CarriesBytesBothWaysInReadsOfTheAskedSize)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(ECHO_PORT, 38400)) << RUN_THROUGH_SCRIPT;
    EXPECT_TRUE(port.IsOpen());
    EXPECT_FALSE(port.Open(ECHO_PORT, 38400));   // one opening at a time
    EXPECT_TRUE(port.IsOpen());

    // Nothing pending: the read times out empty.
    uint8_t byte;
    EXPECT_EQ(0, port.Read(&byte, 1));

    std::vector<uint8_t> sent(300);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + 3);   // every byte value but in no easy order
    sent[10] = 0x00;
    sent[11] = 0x11;   // XON and XOFF pass untouched: no software flow control
    sent[12] = 0x13;
    sent[13] = 0x0D;   // no line-end translation either
    sent[14] = 0x0A;
    ASSERT_EQ(static_cast<int>(sent.size()), port.Write(sent.data(), static_cast<int>(sent.size())));

    int largest = 0;
    const std::vector<uint8_t> got = ReadBack(port, static_cast<int>(sent.size()), &largest);
    EXPECT_EQ(sent, got);
    EXPECT_LE(largest, 48);
    EXPECT_FALSE(port.IsGone());

    // The settings reached the device. Only Wine lets a second handle look at them.
    HANDLE look = CreateFileA(ComPortDevicePath(ECHO_PORT).c_str(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (look != INVALID_HANDLE_VALUE) {
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(look, &dcb));
        EXPECT_EQ(38400u, dcb.BaudRate);
        EXPECT_EQ(8, dcb.ByteSize);
        EXPECT_EQ(NOPARITY, dcb.Parity);
        EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
        EXPECT_EQ(1u, dcb.fOutxCtsFlow);
        EXPECT_EQ(0u, dcb.fOutX);
        EXPECT_EQ(0u, dcb.fInX);
        CloseHandle(look);
    }

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Close());
    EXPECT_EQ(0, port.Read(&byte, 1));
    EXPECT_EQ(0, port.Write(&byte, 1));

    // The handle went: the port opens again.
    ASSERT_TRUE(port.Open(ECHO_PORT, 38400));
    const uint8_t again[] = {0x02, 0x00, 0x07, 0x00, 0x07};
    ASSERT_EQ(5, port.Write(again, 5));
    EXPECT_EQ(std::vector<uint8_t>(again, again + 5), ReadBack(port, 5, &largest));
}

TEST(SerialPortOnWindows, MissingAndMisnamedPortsDoNotOpen)
{
    CSerialPort port;
    for (const char* name : {DANGLING_PORT, UNLINKED_PORTS[1], "COM30", "COM22 (in use)", ""}) {
        EXPECT_FALSE(port.Open(name, 38400)) << name;
        EXPECT_FALSE(port.IsOpen()) << name;
    }
    EXPECT_FALSE(port.Open(nullptr, 38400));
    EXPECT_FALSE(port.Close());
}

TEST(SerialPortOnWindows, ADeviceThatHangsUpIsGoneAndStaysClosable)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open(HANGUP_PORT, 38400)) << RUN_THROUGH_SCRIPT;
    EXPECT_FALSE(port.IsGone());
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

TEST(CaptureOnWindows, SimulatorAnswersThroughTheWin32Port)
{
    CComPort port;
    ASSERT_TRUE(port.Open(MAX_RX_DATA_LENGTH, SIM_PORT, 38400)) << RUN_THROUGH_SCRIPT;
    uint8_t frame[MAX_TX_FRAME];
    const int size = BuildFrame(CMD_PING_REQUEST, nullptr, 0, frame);
    ASSERT_EQ(size, port.SendFrame(size, frame));

    // The simulator's nodes may report in between; the answer comes within a few reads.
    int command = 0;
    int length = 0;
    uint8_t data[MAX_RX_DATA_LENGTH];
    bool answered = false;
    for (int i = 0; i < 20 && !answered; ++i)
        answered = port.ReceiveFrame(command, length, data) && command == CMD_PING_RESPONSE;
    ASSERT_TRUE(answered);
    EXPECT_EQ(1, length);
    EXPECT_EQ(0, data[0]);
    EXPECT_TRUE(port.Close());
}

namespace {

class CLineCounter : public ILineReadyNotify {
public:
    void PostLineReady() override { ++m_nLines; }
    std::atomic<int> m_nLines{0};
};

class CWarningRecorder : public IWarningSink {
public:
    void ShowWarning(const char* text) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_warnings.push_back(text);
    }
    std::vector<std::string> Warnings()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_warnings;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_warnings;
};

}  // namespace

TEST(CaptureOnWindows, EngineLearnsTheDongleAndLogsInTextMode)
{
    CTestFolder folder;
    const std::string logPath = folder.File("capture.log");
    CLineCounter lines;
    CWarningRecorder warnings;
    CDongleLink link;
    link.SetNotifyWindow(&lines);
    link.SetWarningSink(&warnings);

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
    EXPECT_TRUE(warnings.Warnings().empty());

    const std::string log = ReadBytes(logPath);
    EXPECT_NE(std::string::npos, log.find("PING_REQUEST"));
    EXPECT_NE(std::string::npos, log.find("PING_RESPONSE"));
    EXPECT_NE(std::string::npos, log.find("DEV_INFO_RSP"));
    // One CR LF per line announced, and no line end of another kind.
    size_t crlf = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        ++crlf;
    size_t lf = 0;
    for (char c : log)
        lf += c == '\n';
    EXPECT_EQ(crlf, lf);
    EXPECT_EQ(static_cast<size_t>(lines.m_nLines.load()), crlf);
    EXPECT_GE(crlf, 4u);   // sent PING, its answer, sent GET_DEVICE_INFO, its answer
}

TEST(CaptureOnWindows, EngineSeesTheDongleGoAndStillStops)
{
    CTestFolder folder;
    CWarningRecorder warnings;
    CDongleLink link;
    link.SetWarningSink(&warnings);
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
