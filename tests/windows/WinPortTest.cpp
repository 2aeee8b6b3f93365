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

TEST(WinSerialPort, OpensOnlySerialDevicesByTheirDeviceFormCarriesEveryByteAndSeesAHangUp)
{
    for (int n = FIRST_COM_PORT; n <= LAST_COM_PORT; ++n)
        EXPECT_EQ("\\\\.\\COM" + std::to_string(n), ComPortDevicePath(("COM" + std::to_string(n)).c_str()));

    // Above COM9 only the device form finds a port; a plain file probes as there but
    // takes no serial timeouts, so it must not open.
    CSerialPort port;
    const std::pair<const char*, PortStatus> refused[] = {{"COM25", PORT_AVAILABLE},
                                                          {"COM24", PORT_MISSING},
                                                          {"COM26", PORT_MISSING},
                                                          {"COM22 (in use)", PORT_MISSING}};
    for (const auto& [name, probe] : refused) {
        EXPECT_EQ(probe, ProbeComPort(name)) << name;
        EXPECT_FALSE(port.Open(name, 38400)) << name;
    }
    EXPECT_EQ(PORT_AVAILABLE, ProbeComPort("COM22"));
    ASSERT_TRUE(port.Open("COM22", 38400));
    EXPECT_FALSE(port.Open("COM22", 38400));   // one opening at a time
    Bytes sent(256), got(300);
    EXPECT_EQ(0, port.Read(got.data(), 1));   // nothing pending: the read times out empty

    // Every byte value, NUL, XON, XOFF, CR and LF among them, passes untouched: no
    // software flow control, no line-end translation.
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(256, port.Write(sent.data(), 256));
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

    // A handle that went behind the port's back (a driver removed the port): Close
    // forgets it rather than closing whatever reuses the number, so the port opens again.
    HANDLE* handle = *reinterpret_cast<HANDLE**>(&port);   // the first field of its Impl
    ASSERT_TRUE(CloseHandle(*handle));
    EXPECT_FALSE(port.Close());

    // A device that hangs up is gone: writes fail, and it still closes.
    ASSERT_TRUE(port.Open("COM23", 38400));
    ASSERT_EQ(5, port.Write(sent.data(), 5));
    ASSERT_TRUE(WaitUntil([&] {
        port.Read(got.data(), 48);
        return port.IsGone();
    }));
    EXPECT_LT(port.Write(sent.data(), 5), 5);
    EXPECT_TRUE(port.Close());
}

TEST(WinCapture, PingLearnsTheDongleAndTheLogAppendsCrLfLinesAfterATornOne)
{
    CScratchFolder folder;
    const std::string log = folder / "capture.log";
    WriteText(log, "whole\r\ntorn");   // an earlier run ended inside a line
    CDongleLink link;
    ASSERT_EQ(1, link.StartCapture("COM21", log.c_str(), 1));
    ASSERT_EQ(1, link.SendDongleMessage(DongleMessage{{MSG_PING_REQUEST}}));

    // PING_RESPONSE makes the engine ask for the device information by itself.
    ASSERT_TRUE(WaitUntil([&] { return link.GetDongleInfo(nullptr, nullptr); }, std::chrono::seconds(15)));
    EXPECT_EQ(1, link.StopCapture());
    // A text-mode log: the break after the torn line, like every line end, is CR LF.
    EXPECT_EQ("whole\r\ntorn\r\n", ReadFile(log).substr(0, 13));
}
