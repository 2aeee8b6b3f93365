// The Win32 serial port, COM names and the engine under Wine, against the peers that
// scripts/test-windows links into the prefix (run these tests through it): COM21 the
// dongle simulator, COM22 an echo, COM23 hangs up at the first byte, COM24 a dangling
// link, COM25 a plain file; the others unlinked.

#include <gtest/gtest.h>

#include <windows.h>

#include "link/DongleLink.h"
#include "platform/ComPortNames.h"
#include "platform/SerialPort.h"
#include "tests/support/TestSupport.h"

TEST(WinComPorts, NamesOpenByTheirDeviceFormAndOnlySerialDevicesOpen)
{
    for (int n = FIRST_COM_PORT; n <= LAST_COM_PORT; ++n)
        EXPECT_EQ("\\\\.\\COM" + std::to_string(n), ComPortDevicePath(("COM" + std::to_string(n)).c_str()));

    // Above COM9 only the device form finds a port; a plain file probes as there but
    // takes no serial timeouts, so it must not open.
    const struct {
        const char* name;
        PortStatus probe;
        bool opens;
    } cases[] = {
        {"COM21", PORT_AVAILABLE, true},  {"COM22", PORT_AVAILABLE, true},
        {"COM25", PORT_AVAILABLE, false}, {"COM24", PORT_MISSING, false},
        {"COM26", PORT_MISSING, false},   {"COM22 (in use)", PORT_MISSING, false},
    };
    for (const auto& c : cases) {
        CSerialPort port;
        EXPECT_EQ(c.probe, ProbeComPort(c.name)) << c.name;
        EXPECT_EQ(c.opens, port.Open(c.name, 38400)) << c.name;
        EXPECT_EQ(c.opens, port.IsOpen()) << c.name;
    }
}

TEST(WinSerialPort, CarriesEveryByteWithTheDongleSettingsClosesCleanlyAndSeesAHangUp)
{
    CSerialPort port;
    ASSERT_TRUE(port.Open("COM22", 38400));
    EXPECT_FALSE(port.Open("COM22", 38400));   // one opening at a time
    Bytes sent(300), got(400);
    EXPECT_EQ(0, port.Read(got.data(), 1));   // nothing pending: the read times out empty

    // Every byte value, NUL, XON, XOFF, CR and LF among them, passes untouched: no
    // software flow control, no line-end translation.
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_EQ(300, port.Write(sent.data(), 300));
    size_t have = 0;
    for (int n = 0, idle = 0; have < sent.size() && idle < 4; idle = n == 0 ? idle + 1 : 0)
        have += n = port.Read(got.data() + have, static_cast<int>(got.size() - have));
    EXPECT_EQ(sent, Bytes(got.begin(), got.begin() + have));

    // Only Wine lets a second handle look at the settings that reached the device.
    HANDLE look =
        CreateFileA("\\\\.\\COM22", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DCB dcb = {};
    EXPECT_TRUE(GetCommState(look, &dcb));
    CloseHandle(look);
    const std::vector<DWORD> settings = {dcb.BaudRate,     dcb.ByteSize, dcb.Parity, dcb.StopBits,
                                         dcb.fOutxCtsFlow, dcb.fOutX,    dcb.fInX};
    EXPECT_EQ((std::vector<DWORD>{38400, 8, NOPARITY, ONESTOPBIT, 1, 0, 0}), settings);

    EXPECT_TRUE(port.Close());

    // A handle that went behind the port's back (a driver removed the port): Close
    // forgets it rather than closing whatever reuses the number, and the port reopens.
    ASSERT_TRUE(port.Open("COM22", 38400));
    HANDLE* handle = *reinterpret_cast<HANDLE**>(&port);   // the first field of its Impl
    ASSERT_TRUE(CloseHandle(*handle));
    EXPECT_FALSE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Open("COM22", 38400));

    // A device that hangs up is gone: writes fail, and it still closes.
    CSerialPort gone;
    ASSERT_TRUE(gone.Open("COM23", 38400));
    ASSERT_EQ(5, gone.Write(sent.data(), 5));
    ASSERT_TRUE(WaitUntil([&] {
        gone.Read(got.data(), 48);
        return gone.IsGone();
    }));
    EXPECT_LT(gone.Write(sent.data(), 5), 5);
    EXPECT_TRUE(gone.Close());
}

TEST(WinCapture, PingLearnsTheDongleAndTheLogAppendsCrLfLinesAfterATornOne)
{
    CScratchFolder folder;
    const std::string log = folder / "capture.log";
    WriteText(log, "whole\r\ntorn");   // an earlier run ended inside a line
    CDongleLink link;
    ASSERT_EQ(1, link.StartCapture("COM21", log.c_str(), 1));
    DongleMessage ping{{MSG_PING_REQUEST}};
    ASSERT_EQ(1, link.SendDongleMessage(ping));

    // PING_RESPONSE makes the engine ask for the device information by itself.
    ASSERT_TRUE(WaitUntil([&] { return link.GetDongleInfo(nullptr, nullptr); }, std::chrono::seconds(15)));
    EXPECT_EQ(1, link.StopCapture());

    const std::string text = ReadFile(log);
    ASSERT_EQ("whole\r\ntorn\r\n", text.substr(0, 13));
    // Every line ends in CR LF, none in a bare LF.
    size_t lines = 0;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1), ++lines)
        EXPECT_EQ('\r', text[at - 1]) << at;
    EXPECT_GE(lines, 6u);   // the two old lines, two requests and their answers
}
