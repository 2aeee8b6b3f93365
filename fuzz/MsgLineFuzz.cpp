// The message decoders and the log lines the capture engine forms from received data,
// through the receive handlers of an engine that captures nothing (each line goes to its
// Data Buffer only): one line each, after its time of day the text the simulator
// expects of the program, without a warning; only a whole device information
// with status 0 makes the dongle known.
//
// Input: byte 0 picks the handler (even: data indication, odd: device information);
// the rest is the frame data, at most 48 bytes as the reader delivers.

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "link/DongleLink.h"
#include "sim/DongleSim.h"

TESSARIN_FUZZ_TARGET(MsgLine)
{
    struct : IWarningSink {
        int count = 0;
        void ShowWarning(const char*) override { ++count; }
    } sink;
    CDongleLink engine;
    CDataBuffer* buffer = nullptr;
    engine.SetWarningSink(&sink);
    engine.GetDataBuffer(&buffer);
    CFuzzInput in{data, size};
    const bool deviceInfo = in.Byte() % 2;
    // A copy of exactly the data's size lets the address sanitizer see a read past it.
    const int length = static_cast<int>(std::min<size_t>(in.left, MAX_RX_DATA_LENGTH));
    std::vector<uint8_t> frame(static_cast<size_t>(std::max(length, 1)));
    std::memcpy(frame.data(), in.rest, static_cast<size_t>(length));
    // A short header shows the fields it holds whole, 0 for the rest.
    uint8_t header[MAX_RX_DATA_LENGTH] = {};
    std::memcpy(header, frame.data(), static_cast<size_t>(length >= 6 ? length : length >= 3 ? 3 : 0));

    std::string expected;
    if (!deviceInfo) {
        FUZZ_CHECK(engine.OnDataIndication(frame.data(), length) == 1);
        expected = ExpectedLogText(CMD_DATA_INDICATION, header, std::max(length, MSG_HEADER_LENGTH));
    } else {
        engine.OnDeviceInfo(frame.data(), length);
        // The simulator forms no line of empty data; the program's then ends at the name.
        expected =
            ExpectedLogText(CMD_DEV_INFO_RSP, frame.data(), std::max(length, 1)).substr(0, 35 + 3 * length);
        FUZZ_CHECK(engine.GetDongleInfo(nullptr, nullptr) == (length >= DEVICE_INFO_LENGTH && frame[0] == 0));
    }
    char line[CDataBuffer::SLOT_SIZE] = {};
    FUZZ_CHECK(buffer->Get(line) == CDataBuffer::DONE && engine.GetLineCounter() == 1 &&
               line + 12 == expected && sink.count == 0);
    return 0;
}
