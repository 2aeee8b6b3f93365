#include "commands/InputRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string TWENTY_NINES(20, '9');

struct Read {
    const char* text;
    int64_t value;
};

TEST(NumberReading, DecimalReadsLikeScanf)
{
    const Read valid[] = {
        {"12", 12}, {" 12", 12}, {"\t\n 7", 7}, {"+7", 7}, {"-1", -1}, {"-0", 0},
        {"12ab", 12}, {"10 .5", 10}, {"0x10", 0}, {"1e3", 1},
        {"00000000000000000001", 1}, {"2147483647", 2147483647},
        {"-2147483648", -2147483648LL},
    };
    for (const Read& r : valid) {
        int64_t v = 12345;
        EXPECT_TRUE(ReadDecimal(r.text, &v)) << '"' << r.text << '"';
        EXPECT_EQ(v, r.value) << '"' << r.text << '"';
    }

    const char* invalid[] = {"", "   ", "ab", "-", "+", "- 5", "+ 5", ".5", "x1"};
    for (const char* text : invalid) {
        int64_t v = 12345;
        EXPECT_FALSE(ReadDecimal(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 12345) << "a refused text leaves the value alone: \"" << text << '"';
    }
}

TEST(NumberReading, HexReadsLikeScanf)
{
    const Read valid[] = {
        {"ffff", 0xFFFF}, {"FFFF", 0xFFFF}, {"0xFFFF", 0xFFFF}, {"0XfFfF", 0xFFFF},
        {" 1A2B ", 0x1A2B}, {"1A2Bxyz", 0x1A2B}, {"12G", 0x12}, {"0", 0},
        {"+0x1A", 0x1A}, {"-0x10", -16}, {"-1", -1},
        // The 0 of a prefix with no digit after it is the number itself.
        {"0xG", 0}, {"0x", 0},
        {"FFFFFFFF", 0xFFFFFFFFLL}, {"-FFFFFFFF", -0xFFFFFFFFLL},
    };
    for (const Read& r : valid) {
        int64_t v = 12345;
        EXPECT_TRUE(ReadHex(r.text, &v)) << '"' << r.text << '"';
        EXPECT_EQ(v, r.value) << '"' << r.text << '"';
    }

    const char* invalid[] = {"", "  ", "G1", "x10", "-", "- 1", "+ 1", "-x1"};
    for (const char* text : invalid) {
        int64_t v = 12345;
        EXPECT_FALSE(ReadHex(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 12345) << '"' << text << '"';
    }
}

// scanf would wrap these into the 32-bit variable: "100000000" in hexadecimal becomes 0,
// "-FFFFFFFF" becomes 1, "4294967296" in decimal becomes 0, and each then passes a
// range check that starts at 0. They must be refused instead.
TEST(NumberReading, DigitsBeyondThirtyTwoBitsNeverWrap)
{
    int64_t v = 0;
    EXPECT_FALSE(ReadHex("100000000", &v));
    EXPECT_FALSE(ReadHex("0x100000001", &v));
    EXPECT_FALSE(ReadHex("-100000000", &v));
    EXPECT_FALSE(ReadHex(std::string(40, 'F'), &v));
    EXPECT_FALSE(ReadDecimal("2147483648", &v));
    EXPECT_FALSE(ReadDecimal("-2147483649", &v));
    EXPECT_FALSE(ReadDecimal("4294967296", &v));
    EXPECT_FALSE(ReadDecimal(TWENTY_NINES, &v));
    EXPECT_FALSE(ReadDecimal("-" + TWENTY_NINES, &v));
    EXPECT_FALSE(ReadDecimal(std::string(5000, '9'), &v));

    uint32_t word = 77;
    EXPECT_FALSE(ReadNodeAddress("100000000", &word));
    EXPECT_FALSE(ReadNodeAddress("-FFFFFFFF", &word));
    EXPECT_FALSE(ReadNodeAddress("1000000000000000FFFF", &word));
    EXPECT_FALSE(ReadDecimalInRange("4294967296", 0, 255, &word));
    EXPECT_FALSE(ReadDecimalInRange(TWENTY_NINES, 0, 65535, &word));
    EXPECT_FALSE(ReadDecimalInRange("18446744073709551617", 0, 255, &word));
    EXPECT_EQ(word, 77u);
}

TEST(NumberReading, DestinationAddress)
{
    const Read valid[] = {
        {"1a2b", 0x1A2B}, {"1A2B", 0x1A2B}, {"0x1A2B", 0x1A2B}, {" 1A2B ", 0x1A2B},
        {"12G", 0x12}, {"FFFF", 0xFFFF}, {"0", 0}, {"0000", 0}, {"-0", 0},
    };
    for (const Read& r : valid) {
        uint32_t a = 77;
        EXPECT_TRUE(ReadNodeAddress(r.text, &a)) << '"' << r.text << '"';
        EXPECT_EQ(a, static_cast<uint32_t>(r.value)) << '"' << r.text << '"';
    }
    const char* invalid[] = {"10000", "-1", "G1", "", "    ", "-0x1", "0x10000"};
    for (const char* text : invalid) {
        uint32_t a = 77;
        EXPECT_FALSE(ReadNodeAddress(text, &a)) << '"' << text << '"';
        EXPECT_EQ(a, 77u) << '"' << text << '"';
    }
}

struct Position {
    const char* text;
    uint32_t value;
};

TEST(PositionText, TextToPositionRoundsUpToQuarters)
{
    const Position valid[] = {
        {"10", 40}, {"10.5", 42}, {"10,5", 42}, {"10.50", 42}, {"10,50", 42},
        {"10.05", 41}, {"10.99", 44}, {"0.01", 1}, {"16383.75", 65535}, {"16383", 65532},
        {"10 .5", 42}, {"0", 0}, {"0.00", 0}, {"10.0", 40}, {"10.25", 41}, {"10.26", 42},
        {"10.75", 43}, {"10.76", 44}, {"10.1", 41}, {"10.3", 42}, {"10.8", 44},
        {" 7", 28}, {"+7.5", 30}, {"12ab", 48}, {"16382.99", 65532},
    };
    for (const Position& p : valid) {
        uint32_t v = 99999;
        EXPECT_TRUE(TextToPosition(p.text, &v)) << '"' << p.text << '"';
        EXPECT_EQ(v, p.value) << '"' << p.text << '"';
    }

    const std::string invalid[] = {
        "16383.8", "16384", "16383.76", "-1", ".5", "10.", "1.234", "1.2.3", "", "10.x",
        "-1.5", "abc", ",5", "   ",
        // would wrap to a small whole part if the reading were not checked
        "4294967296", "4294967296.5", "4294983680", TWENTY_NINES, TWENTY_NINES + ".5",
    };
    for (const std::string& text : invalid) {
        uint32_t v = 99999;
        EXPECT_FALSE(TextToPosition(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 99999u) << '"' << text << '"';
    }
}

TEST(PositionText, PositionToTextAndBack)
{
    EXPECT_EQ(PositionToText(0), "0.00");
    EXPECT_EQ(PositionToText(41), "10.25");
    EXPECT_EQ(PositionToText(42), "10.50");
    EXPECT_EQ(PositionToText(43), "10.75");
    EXPECT_EQ(PositionToText(65535), "16383.75");

    // Every position shown comes back unchanged when OK is pressed without an edit.
    for (uint32_t value = 0; value <= 0xFFFF; ++value) {
        uint32_t back = 0xFFFFFFFF;
        ASSERT_TRUE(TextToPosition(PositionToText(value), &back)) << value;
        ASSERT_EQ(back, value);
    }
}

TEST(ParamFields, EachFieldHasItsOwnRange)
{
    struct Case {
        const ParamField& field;
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {BLIND_FIELDS[1], "255", true},   {BLIND_FIELDS[1], "256", false},
        {BLIND_FIELDS[2], "255", true},   {BLIND_FIELDS[2], "256", false},
        {BLIND_FIELDS[3], "0", true},     {BLIND_FIELDS[3], "1", true},
        {BLIND_FIELDS[3], "2", false},    {BLIND_FIELDS[4], "65535", true},
        {BLIND_FIELDS[4], "65536", false}, {BLIND_FIELDS[5], "65535", true},
        {BLIND_FIELDS[5], "65536", false}, {BLIND_FIELDS[6], "00FF", true},
        {BLIND_FIELDS[6], "10000", false}, {BLIND_FIELDS[7], "255", true},
        {BLIND_FIELDS[7], "256", false},  {BLIND_FIELDS[8], "0", false},
        {BLIND_FIELDS[8], "1", true},     {BLIND_FIELDS[8], "8", true},
        {BLIND_FIELDS[8], "9", false},    {BLIND_FIELDS[0], "ffff", true},
        {REF_FIELDS[0], "0xFFFF", true},  {REF_FIELDS[0], "10000", false},
        {REF_FIELDS[1], "16383.75", true}, {REF_FIELDS[2], "16383.8", false},
    };
    for (const Case& c : cases) {
        uint32_t word = 0;
        EXPECT_EQ(ReadField(c.field, c.text, &word), c.valid)
            << c.field.caption << " \"" << c.text << '"';
    }

    // Neither a negative value, nor an empty text, nor digits beyond 32 bits pass any
    // field; the hexadecimal texts are those that a wrap would turn into 0 or 1.
    for (const ParamField* fields : {REF_FIELDS, BLIND_FIELDS}) {
        const int count = fields == REF_FIELDS ? REF_FIELD_COUNT : BLIND_FIELD_COUNT;
        for (int i = 0; i < count; ++i) {
            for (const std::string& text :
                 {std::string("-1"), std::string(), std::string(" "), TWENTY_NINES,
                  std::string("100000000"), std::string("-FFFFFFFF")}) {
                uint32_t word = 0;
                EXPECT_FALSE(ReadField(fields[i], text, &word))
                    << fields[i].caption << " \"" << text << '"';
            }
        }
    }
}

TEST(ParamFields, ShownValuesReadBackUnchanged)
{
    for (const ParamField* fields : {REF_FIELDS, BLIND_FIELDS}) {
        const int count = fields == REF_FIELDS ? REF_FIELD_COUNT : BLIND_FIELD_COUNT;
        for (int i = 0; i < count; ++i) {
            const ParamField& f = fields[i];
            const int64_t lo = f.kind == FieldKind::Position ? 0 : f.lo;
            const int64_t hi = f.kind == FieldKind::Position ? 0xFFFF : f.hi;
            for (int64_t v : {lo, hi, (lo + hi) / 2, lo + 1}) {
                uint32_t word = 0xDEADBEEF;
                ASSERT_TRUE(ReadField(f, FormatField(f, static_cast<uint32_t>(v)), &word))
                    << f.caption << ' ' << v;
                EXPECT_EQ(word, static_cast<uint32_t>(v)) << f.caption;
            }
        }
    }

    EXPECT_EQ(FormatField(BLIND_FIELDS[6], 0x00FF), "00FF");
    EXPECT_EQ(FormatDecimal(0xFFFFFFFF), "-1");

    // Fresh settings hold 0 minimum reference nodes, which OK cannot pass unchanged.
    uint32_t word = 0;
    EXPECT_FALSE(ReadField(BLIND_FIELDS[8], FormatField(BLIND_FIELDS[8], 0), &word));
}

} // namespace
