// The message decoders and the log lines the capture engine forms from received data,
// reached through the engine's receive handlers on an engine that captures nothing (no
// port, no log file: each line goes to the Data Buffer only). Also the encoders: every
// node message encoded, framed, read back and decoded gives what was put in.
//
// Input: byte 0 picks the handler (data indication, device information, ping response)
// or the encoder round trip; the rest is the frame data (at most 48 bytes, as the
// reader delivers) or the record's words.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/FuzzTarget.h"
#include "link/DongleLink.h"
#include "link/FrameReader.h"
#include "link/MsgCodec.h"

namespace {

class CQuietSink : public IWarningSink {
public:
    void ShowWarning(const char*) override { ++m_nCount; }
    int m_nCount = 0;
};

std::string Hex(const uint8_t* bytes, int count)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
        text += ' ';
    }
    return text;
}

std::string LineAfterTime(uint16_t addr, const std::string& name, const std::string& hex)
{
    std::string padded = name;
    if (padded.size() < 19)
        padded.append(19 - padded.size(), ' ');
    char head[16];
    std::snprintf(head, sizeof head, "0x%04X", static_cast<unsigned>(addr));
    return std::string(" |-->| ") + head + " |" + padded + "|" + hex;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "hh:mm:ss:mmm" of a real time of day.
bool TimeStampHolds(const char* line)
{
    static const char form[] = "dd:dd:dd:ddd";
    for (int i = 0; i < 12; ++i) {
        if (form[i] == 'd' ? !IsDigit(line[i]) : line[i] != ':')
            return false;
    }
    const int hour = (line[0] - '0') * 10 + (line[1] - '0');
    const int minute = (line[3] - '0') * 10 + (line[4] - '0');
    const int second = (line[6] - '0') * 10 + (line[7] - '0');
    return hour < 24 && minute < 60 && second < 60;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

const char* const kClusterNames[] = {"REF_REQ",  "REF_RSP",    "BLIND_REQ",    "BLIND_RSP",
                                     "REF_CONF", "BLIND_CONF", "REF_REQ_CONF", "BLIND_REQ_CONF"};

// What the line must read for a node message: the fields the data holds, 0 for the rest,
// and only the message bytes really present.
std::string ExpectedIndication(const uint8_t* d, int length)
{
    const uint16_t addr = length >= 3 ? Le16(d + 1) : 0;
    const uint16_t cluster = length >= 6 ? Le16(d + 4) : 0;
    int shown = 0;
    if (length >= MSG_HEADER_LENGTH)
        shown = std::min<int>(d[6], length - MSG_HEADER_LENGTH);
    std::string name;
    if (cluster >= 0x0011 && cluster <= 0x0018) {
        name = kClusterNames[cluster - 0x0011];
    } else {
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(cluster));
        name = text;
    }
    return LineAfterTime(addr, name, Hex(d + MSG_HEADER_LENGTH, shown));
}

// Takes the one line the handler queued; "" (and a failed check) when there is not one.
bool TakeOneLine(CDataBuffer* buffer, std::string& line)
{
    char slot[CDataBuffer::SLOT_SIZE];
    if (buffer->Get(slot) != CDataBuffer::DONE)
        return false;
    line = slot;
    return buffer->Get(slot) == CDataBuffer::EMPTY;
}

bool LineFormHolds(const std::string& line)
{
    int bars = 0;
    for (char c : line)
        bars += c == '|';
    return line.size() <= 255 && bars == 4 && line.size() > 12 && TimeStampHolds(line.c_str());
}

int EncoderRoundTrip(CFuzzInput& in)
{
    const CMsgCodec codec;
    uint32_t w[10];
    for (uint32_t& word : w)
        word = in.Word();
    const uint16_t addr = static_cast<uint16_t>(w[1]);
    uint8_t data[MAX_TX_DATA_LENGTH + 8];
    std::memset(data, 0xA5, sizeof data);
    data[0] = MSG_TAG_FIRST;
    uint8_t* out = data + 1;
    int encoded = 0;
    uint16_t cluster = 0;
    uint8_t message[16] = {};
    int n = 0;
    switch (w[0] % 6) {
    case 0:
        encoded = codec.EncodeXyRssiReq(out, addr);
        cluster = 0x0011;
        break;
    case 1:
        encoded = codec.EncodeBlindFindReq(out, addr);
        cluster = 0x0013;
        break;
    case 2:
        encoded = codec.EncodeRefNodeConf(out, addr, static_cast<uint16_t>(w[2]),
                                          static_cast<uint16_t>(w[3]));
        cluster = 0x0015;
        n = 4;
        message[0] = uint8_t(w[2]);
        message[1] = uint8_t(w[2] >> 8);
        message[2] = uint8_t(w[3]);
        message[3] = uint8_t(w[3] >> 8);
        break;
    case 3: {
        encoded = codec.EncodeBlindNodeConf(
            out, addr, static_cast<uint8_t>(w[2]), static_cast<uint8_t>(w[3]),
            static_cast<uint8_t>(w[4]), static_cast<uint16_t>(w[5]), static_cast<uint16_t>(w[6]),
            static_cast<uint16_t>(w[7]), static_cast<uint8_t>(w[8]), static_cast<uint8_t>(w[9]));
        cluster = 0x0016;
        n = 11;
        const uint8_t expect[11] = {uint8_t(w[2]), uint8_t(w[3]), uint8_t(w[4]),
                                    uint8_t(w[5]), uint8_t(w[5] >> 8), uint8_t(w[6]),
                                    uint8_t(w[6] >> 8), uint8_t(w[7]), uint8_t(w[7] >> 8),
                                    uint8_t(w[8]), uint8_t(w[9])};
        std::memcpy(message, expect, sizeof expect);
        break;
    }
    case 4:
        encoded = codec.EncodeRefNodeReqConf(out, addr);
        cluster = 0x0017;
        break;
    default:
        encoded = codec.EncodeBlindNodeReqConf(out, addr);
        cluster = 0x0018;
        break;
    }
    FUZZ_CHECK(encoded == 6 + n);
    FUZZ_CHECK(1 + encoded <= MAX_TX_DATA_LENGTH);
    for (int i = 1 + encoded; i < static_cast<int>(sizeof data); ++i)
        FUZZ_CHECK(data[i] == 0xA5);

    uint8_t frame[MAX_TX_FRAME];
    const int frameSize = BuildFrame(CMD_DATA_REQUEST, data, 1 + encoded, frame);
    FUZZ_CHECK(frameSize == encoded + 1 + FRAME_OVERHEAD);

    static CFrameReader reader;
    reader.Reset(MAX_RX_DATA_LENGTH);
    int fed = 0;
    const CFrameReader::ByteSource source = [&](uint8_t* buffer, int count) {
        const int take = std::min(count, frameSize - fed);
        std::memcpy(buffer, frame + fed, static_cast<size_t>(take));
        fed += take;
        return take;
    };
    int command = 0;
    int length = 0;
    uint8_t got[MAX_RX_DATA_LENGTH];
    FUZZ_CHECK(reader.ReceiveFrame(source, command, length, got));
    FUZZ_CHECK(command == CMD_DATA_REQUEST && length == 1 + encoded);

    MsgHeader header;
    FUZZ_CHECK(codec.DecodeMsgHeader(got, length, header));
    FUZZ_CHECK(header.nTag1 == MSG_TAG_FIRST && header.nTag2 == MSG_TAG_SECOND);
    FUZZ_CHECK(header.nAddr == addr && header.nCluster == cluster);
    FUZZ_CHECK(header.nLength == n && header.nDataCount == n);
    FUZZ_CHECK(std::memcmp(header.data, message, static_cast<size_t>(n)) == 0);
    return 0;
}

}  // namespace

TESSARIN_FUZZ_TARGET(MsgLine)
{
    // One engine for the whole run, as the window keeps one for its whole life.
    static CQuietSink sink;
    static CDongleLink engine;
    static CDataBuffer* buffer = nullptr;
    if (buffer == nullptr) {
        engine.SetWarningSink(&sink);
        engine.GetDataBuffer(&buffer);
    }

    CFuzzInput in(data, size);
    const int handler = in.Byte() % 4;
    if (handler == 3)
        return EncoderRoundTrip(in);

    // The reader never delivers more than 48 bytes; a copy of exactly that size lets the
    // address sanitizer see a read past the frame's data.
    const int length = static_cast<int>(std::min<size_t>(in.RestSize(), MAX_RX_DATA_LENGTH));
    std::unique_ptr<uint8_t[]> owned(new uint8_t[length > 0 ? length : 1]);
    uint8_t* frame = owned.get();
    std::memcpy(frame, in.Rest(), static_cast<size_t>(length));

    const CMsgCodec codec;
    MsgHeader header;
    codec.DecodeMsgHeader(frame, length, header);
    FUZZ_CHECK(header.nDataCount >= 0 && header.nDataCount <= header.nLength);
    FUZZ_CHECK(header.nDataCount <= std::max(0, length - MSG_HEADER_LENGTH));

    int shortBefore = 0;
    uint64_t ieeeBefore = 0;
    const bool knownBefore = engine.GetDongleInfo(&shortBefore, &ieeeBefore);
    const int counterBefore = engine.GetLineCounter();
    std::string line;
    std::string expected;
    switch (handler) {
    case 0:
        FUZZ_CHECK(engine.OnDataIndication(frame, length) == 1);
        expected = ExpectedIndication(frame, length);
        break;
    case 1: {
        engine.OnDeviceInfo(frame, length);
        expected = LineAfterTime(0, "DEV_INFO_RSP", Hex(frame, length));
        int shortAfter = 0;
        uint64_t ieeeAfter = 0;
        const bool knownAfter = engine.GetDongleInfo(&shortAfter, &ieeeAfter);
        if (length >= DEVICE_INFO_LENGTH && frame[0] == 0) {
            uint64_t ieee = 0;
            for (int i = 1; i <= 8; ++i)
                ieee = ieee << 8 | frame[i];
            FUZZ_CHECK(knownAfter && shortAfter == Le16(frame + 9) && ieeeAfter == ieee);
        } else {
            FUZZ_CHECK(knownAfter == knownBefore);
            FUZZ_CHECK(!knownAfter || (shortAfter == shortBefore && ieeeAfter == ieeeBefore));
        }
        break;
    }
    default:
        // Not capturing: the answering GET_DEVICE_INFO is neither sent nor logged.
        FUZZ_CHECK(engine.OnPingResponse() == 0);
        expected = LineAfterTime(0, "PING_RESPONSE", "");
        break;
    }

    FUZZ_CHECK(TakeOneLine(buffer, line));
    FUZZ_CHECK(engine.GetLineCounter() == counterBefore + 1);
    FUZZ_CHECK(LineFormHolds(line));
    FUZZ_CHECK(line.substr(12) == expected);
    FUZZ_CHECK(sink.m_nCount == 0);
    return 0;
}
