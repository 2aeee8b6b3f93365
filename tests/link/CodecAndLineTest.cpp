#include "link/LogLine.h"
#include "link/MsgCodec.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

TEST(MsgCodec, EncodersWriteHeaderAndData)
{
    CMsgCodec codec;
    uint8_t out[17];
    ASSERT_EQ(codec.EncodeXyRssiReq(out, 0xFFFF), 6);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{0xFF, 0xFF, 0xCA, 0x11, 0x00, 0x00}));
    ASSERT_EQ(codec.EncodeBlindFindReq(out, 0xFFFF), 6);
    EXPECT_EQ(out[3], 0x13);
    ASSERT_EQ(codec.EncodeRefNodeReqConf(out, 0x0102), 6);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{0x02, 0x01, 0xCA, 0x17, 0x00, 0x00}));
    ASSERT_EQ(codec.EncodeBlindNodeReqConf(out, 0x0102), 6);
    EXPECT_EQ(out[3], 0x18);

    ASSERT_EQ(codec.EncodeRefNodeConf(out, 0x1234, 0x0028, 0x002A), 10);
    EXPECT_EQ(Bytes(out, out + 10), (Bytes{0x34, 0x12, 0xCA, 0x15, 0x00, 0x04, 0x28, 0x00, 0x2A, 0x00}));

    ASSERT_EQ(codec.EncodeBlindNodeConf(out, 0xABCD, 45, 30, 1, 0x0102, 0x0A0B, 0xBEEF, 0xFF, 8), 17);
    EXPECT_EQ(Bytes(out, out + 17), (Bytes{0xCD, 0xAB, 0xCA, 0x16, 0x00, 11, 45, 30, 1, 0x02, 0x01,
                                           0x0B, 0x0A, 0xEF, 0xBE, 0xFF, 8}));
}

TEST(MsgCodec, HeaderDecoderStaysInsideTheFrame)
{
    CMsgCodec codec;
    MsgHeader h;
    const Bytes example = {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 0x02, 0x0A, 0x0B};
    ASSERT_TRUE(codec.DecodeMsgHeader(example.data(), 9, h));
    EXPECT_EQ(h.nAddr, 0x1234);
    EXPECT_EQ(h.nCluster, 0x0012);
    EXPECT_EQ(h.nLength, 2);
    EXPECT_EQ(h.nDataCount, 2);
    EXPECT_EQ(h.data[1], 0x0B);

    // n claims more than the frame holds: only what is present is taken.
    const Bytes claims = {0xCB, 0x01, 0x00, 0xCA, 0x14, 0x00, 0x30, 0xAA, 0xBB};
    ASSERT_TRUE(codec.DecodeMsgHeader(claims.data(), 9, h));
    EXPECT_EQ(h.nLength, 0x30);
    EXPECT_EQ(h.nDataCount, 2);

    // Never more than the 48-byte area, whatever the length given.
    Bytes big(120, 0x77);
    big[6] = 200;
    ASSERT_TRUE(codec.DecodeMsgHeader(big.data(), 120, h));
    EXPECT_EQ(h.nDataCount, 48);

    // A header cut short keeps what it has and reports the rest missing.
    const Bytes shortHeader = {0xCB, 0x78, 0x56, 0xCA, 0x12};
    EXPECT_FALSE(codec.DecodeMsgHeader(shortHeader.data(), 5, h));
    EXPECT_EQ(h.nAddr, 0x5678);
    EXPECT_EQ(h.nCluster, 0);
    EXPECT_EQ(h.nDataCount, 0);
}

TEST(MsgCodec, DeviceInfoByteOrderAndShortInput)
{
    CMsgCodec codec;
    const Bytes info = {0x00, 0x00, 0x12, 0x4B, 0x00, 0x01, 0x02, 0x03, 0x04, 0x34, 0x12};
    DeviceInfo d;
    ASSERT_TRUE(codec.DecodeDeviceInfo(info.data(), 11, d));
    EXPECT_EQ(d.nStatus, 0);
    EXPECT_EQ(d.nIeeeAddr, 0x00124B0001020304ULL);
    EXPECT_EQ(d.nShortAddr, 0x1234);

    DeviceInfo untouched;
    untouched.nShortAddr = 0x7777;
    EXPECT_FALSE(codec.DecodeDeviceInfo(info.data(), 10, untouched));
    EXPECT_EQ(untouched.nShortAddr, 0x7777);
}

TEST(MsgCodec, ClusterNamesOnlyInsideTheTable)
{
    EXPECT_STREQ(ClusterName(0x0011), "REF_REQ");
    EXPECT_STREQ(ClusterName(0x0014), "BLIND_RSP");
    EXPECT_STREQ(ClusterName(0x0018), "BLIND_REQ_CONF");
    EXPECT_EQ(ClusterName(0x0010), nullptr);
    EXPECT_EQ(ClusterName(0x0019), nullptr);
    EXPECT_EQ(ClusterName(0x0000), nullptr);
    EXPECT_EQ(ClusterName(0xFFFF), nullptr);
}

TEST(LogLine, TimeOfDayIsUtcToTheMillisecond)
{
    using namespace std::chrono;
    // 2023-11-14 22:13:20.123 UTC
    UtcTimeOfDay t = UtcTimeOfDayOf(system_clock::time_point(milliseconds(1700000000123LL)));
    EXPECT_EQ(t.nHour, 22);
    EXPECT_EQ(t.nMinute, 13);
    EXPECT_EQ(t.nSecond, 20);
    EXPECT_EQ(t.nMillisecond, 123);
    t = UtcTimeOfDayOf(system_clock::time_point(milliseconds(86400000LL * 20000 - 1)));
    EXPECT_EQ(t.nHour, 23);
    EXPECT_EQ(t.nMinute, 59);
    EXPECT_EQ(t.nSecond, 59);
    EXPECT_EQ(t.nMillisecond, 999);
    t = UtcTimeOfDayOf(system_clock::time_point(milliseconds(-1)));
    EXPECT_EQ(t.nHour, 23);
    EXPECT_EQ(t.nMillisecond, 999);
}

TEST(LogLine, ExactFormsAndLimits)
{
    UtcTimeOfDay t;
    t.nHour = 9;
    t.nMinute = 5;
    t.nSecond = 7;
    t.nMillisecond = 42;
    char hex[3 * 48 + 1];
    const uint8_t bytes[] = {0x0A, 0x0B, 0xFF};
    EXPECT_EQ(FormatHexText(bytes, 2, hex, sizeof hex), 6);
    EXPECT_STREQ(hex, "0A 0B ");
    EXPECT_EQ(FormatHexText(bytes, 0, hex, sizeof hex), 0);
    EXPECT_STREQ(hex, "");
    char small[7];
    EXPECT_EQ(FormatHexText(bytes, 3, small, sizeof small), 6);
    EXPECT_STREQ(small, "0A 0B ");

    char line[LOG_LINE_SIZE];
    const int formed = FormatLogLine(line, t, false, 0x1234, "REF_RSP", "0A 0B ");
    EXPECT_STREQ(line, "09:05:07:042 |-->| 0x1234 |REF_RSP            |0A 0B ");
    EXPECT_EQ(formed, static_cast<int>(std::string(line).size()));
    FormatLogLine(line, t, true, 0x0000, "PING_REQUEST", "");
    EXPECT_STREQ(line, "09:05:07:042 |<--| 0x0000 |PING_REQUEST       |");
    FormatLogLine(line, t, false, 0xABCD, "BLIND_NODE_REQ_CONF", nullptr);
    EXPECT_STREQ(line, "09:05:07:042 |-->| 0xABCD |BLIND_NODE_REQ_CONF|");

    // The longest line the engine forms (48 data bytes) fits with room to spare.
    Bytes all(48, 0xEE);
    FormatHexText(all.data(), 48, hex, sizeof hex);
    const int length = FormatLogLine(line, t, false, 0xFFFF, "DEV_INFO_RSP", hex);
    EXPECT_GT(length, 180);
    EXPECT_LT(length, 256);
    int bars = 0;
    for (const char* p = line; *p; ++p)
        bars += *p == '|';
    EXPECT_EQ(bars, 4);

    // Anything longer than 255 is refused rather than cut.
    const std::string tooLong(240, 'A');
    EXPECT_EQ(FormatLogLine(line, t, false, 1, "X", tooLong.c_str()), -1);
    EXPECT_STREQ(line, "");
}
