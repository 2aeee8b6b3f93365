#include "link/LogLine.h"
#include "link/MsgCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

TEST(MsgCodec, HeaderDecoderStaysInsideTheFrame)
{
    struct Case {
        const char* story;
        Bytes data;
        bool whole;
        uint16_t addr, cluster;
        int dataCount;
    };
    Bytes big(120, 0x77);
    big[6] = 200;
    const Case cases[] = {
        {"as stated", {0x00, 0x34, 0x12, 0x00, 0x12, 0x00, 0x02, 0x0A, 0x0B}, true, 0x1234, 0x0012, 2},
        {"n claims more than the frame holds", {0xCB, 0x01, 0x00, 0xCA, 0x14, 0x00, 0x30, 0xAA, 0xBB}, true, 1, 0x14, 2},
        {"never more than the 48-byte area", big, true, 0x7777, 0x7777, 48},
        {"a header cut short keeps what it has", {0xCB, 0x78, 0x56, 0xCA, 0x12}, false, 0x5678, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        MsgHeader h;
        EXPECT_EQ(CMsgCodec().DecodeMsgHeader(c.data.data(), static_cast<int>(c.data.size()), h), c.whole);
        EXPECT_EQ(h.nAddr, c.addr);
        EXPECT_EQ(h.nCluster, c.cluster);
        ASSERT_EQ(h.nDataCount, c.dataCount);
        const auto from = c.data.begin() + (c.whole ? 7 : 0);
        EXPECT_EQ(Bytes(h.data, h.data + h.nDataCount), Bytes(from, from + c.dataCount));
    }
    // The table's edges: a cluster outside it is never looked up.
    EXPECT_STREQ(ClusterName(0x0011), "REF_REQ");
    EXPECT_STREQ(ClusterName(0x0018), "BLIND_REQ_CONF");
    for (uint16_t outside : {0x0000, 0x0010, 0x0019, 0xFFFF})
        EXPECT_EQ(ClusterName(outside), nullptr) << outside;
}

TEST(LogLine, TimeOfDayIsUtcToTheMillisecond)
{
    struct Case {
        long long ms;
        int h, m, s, milli;
    };
    const Case cases[] = {
        {1700000000123LL, 22, 13, 20, 123},   // 2023-11-14 22:13:20.123 UTC
        {86400000LL * 20000 - 1, 23, 59, 59, 999},
        {-1, 23, 59, 59, 999},                // before 1970 still gives a time of day
    };
    for (const Case& c : cases) {
        const UtcTimeOfDay t = UtcTimeOfDayOf(std::chrono::system_clock::time_point(std::chrono::milliseconds(c.ms)));
        EXPECT_EQ((std::vector<int>{t.nHour, t.nMinute, t.nSecond, t.nMillisecond}),
                  (std::vector<int>{c.h, c.m, c.s, c.milli})) << c.ms;
    }
}

TEST(LogLine, ExactFormsAndLimits)
{
    UtcTimeOfDay t;
    t.nHour = 9;
    t.nMinute = 5;
    t.nSecond = 7;
    t.nMillisecond = 42;
    const uint8_t bytes[] = {0x0A, 0x0B, 0xFF};
    char hex[3 * 48 + 1];
    EXPECT_EQ(FormatHexText(bytes, 0, hex, sizeof hex), 0);
    EXPECT_STREQ(hex, "");
    // Bytes that would not fit are left out whole.
    char small[7];
    EXPECT_EQ(FormatHexText(bytes, 3, small, sizeof small), 6);
    EXPECT_STREQ(small, "0A 0B ");

    char line[LOG_LINE_SIZE];
    EXPECT_EQ(FormatLogLine(line, t, false, 0x1234, "REF_RSP", small), 53);
    EXPECT_STREQ(line, "09:05:07:042 |-->| 0x1234 |REF_RSP            |0A 0B ");
    FormatLogLine(line, t, true, 0x0000, "PING_REQUEST", "");
    EXPECT_STREQ(line, "09:05:07:042 |<--| 0x0000 |PING_REQUEST       |");
    FormatLogLine(line, t, false, 0xABCD, "BLIND_NODE_REQ_CONF", nullptr);
    EXPECT_STREQ(line, "09:05:07:042 |-->| 0xABCD |BLIND_NODE_REQ_CONF|");

    // The longest line the engine forms (48 data bytes) fits; anything longer than 255 is
    // refused rather than cut.
    const Bytes all(48, 0xEE);
    EXPECT_EQ(FormatHexText(all.data(), 48, hex, sizeof hex), 144);
    EXPECT_EQ(FormatLogLine(line, t, false, 0xFFFF, "DEV_INFO_RSP", hex), 47 + 144);
    EXPECT_EQ(FormatLogLine(line, t, false, 1, "X", std::string(240, 'A').c_str()), -1);
    EXPECT_STREQ(line, "");
}
