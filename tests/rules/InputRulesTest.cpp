#include "commands/InputRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string TWENTY_NINES(20, '9');
constexpr int64_t NO = INT64_MIN;   // refused

// Each text read as "%d", as "%X" and as a node address, the way scanf reads it. scanf
// would wrap digits beyond 32 bits into the variable ("100000000" in hexadecimal becomes
// 0, "4294967296" in decimal becomes 0), and each then passed a range check that starts
// at 0: such texts are refused instead.
TEST(NumberReading, DecimalHexAndAddressReadLikeScanfAndNeverWrap)
{
    struct Case {
        std::string text;
        int64_t decimal, hex, address;
    };
    const Case cases[] = {
        {"12", 12, 0x12, 0x12}, {"\t\n 7", 7, 7, 7}, {"+7", 7, 7, 7}, {"-1", -1, -1, NO}, {"-0", 0, 0, 0},
        {"12ab", 12, 0x12AB, 0x12AB}, {"10 .5", 10, 0x10, 0x10}, {"1e3", 1, 0x1E3, 0x1E3},
        {"00000000000000000001", 1, 1, 1}, {"0000", 0, 0, 0}, {"ffff", NO, 0xFFFF, 0xFFFF},
        {"0XfFfF", 0, 0xFFFF, 0xFFFF}, {" 1A2B ", 1, 0x1A2B, 0x1A2B}, {"12G", 12, 0x12, 0x12},
        {"+0x1A", 0, 0x1A, 0x1A}, {"-0x10", 0, -16, NO}, {"-0x1", 0, -1, NO}, {"10000", 10000, 0x10000, NO},
        {"0x10000", 0, 0x10000, NO},
        // The 0 of a prefix with no digit after it is the number itself.
        {"0xG", 0, 0, 0}, {"0x", 0, 0, 0},
        {"2147483647", 2147483647, NO, NO}, {"-2147483648", -2147483648LL, NO, NO},
        {"FFFFFFFF", NO, 0xFFFFFFFFLL, NO}, {"-FFFFFFFF", NO, -0xFFFFFFFFLL, NO},
        {"2147483648", NO, NO, NO}, {"-2147483649", NO, NO, NO}, {"4294967296", NO, NO, NO},
        {"100000000", 100000000, NO, NO}, {"-100000000", -100000000, NO, NO}, {"0x100000001", 0, NO, NO},
        {std::string(40, 'F'), NO, NO, NO}, {TWENTY_NINES, NO, NO, NO}, {"-" + TWENTY_NINES, NO, NO, NO},
        {std::string(5000, '9'), NO, NO, NO}, {"1000000000000000FFFF", NO, NO, NO},
        {"", NO, NO, NO}, {"   ", NO, NO, NO}, {"-", NO, NO, NO}, {"+", NO, NO, NO}, {"- 5", NO, NO, NO},
        {"+ 5", NO, NO, NO}, {".5", NO, NO, NO}, {"x1", NO, NO, NO}, {"G1", NO, NO, NO}, {"-x1", NO, NO, NO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE('"' + c.text.substr(0, 40) + '"');
        // A refused text leaves the value alone.
        int64_t v = 12345;
        EXPECT_EQ(ReadDecimal(c.text, &v), c.decimal != NO);
        EXPECT_EQ(v, c.decimal != NO ? c.decimal : 12345);
        v = 12345;
        EXPECT_EQ(ReadHex(c.text, &v), c.hex != NO);
        EXPECT_EQ(v, c.hex != NO ? c.hex : 12345);
        uint32_t a = 77;
        EXPECT_EQ(ReadNodeAddress(c.text, &a), c.address != NO);
        EXPECT_EQ(a, c.address != NO ? static_cast<uint32_t>(c.address) : 77u);
    }
    uint32_t word = 77;
    EXPECT_FALSE(ReadDecimalInRange("4294967296", 0, 255, &word));
    EXPECT_FALSE(ReadDecimalInRange("18446744073709551617", 0, 255, &word));
    EXPECT_EQ(word, 77u);
}

TEST(PositionText, TextToPositionRoundsUpToQuartersAndBack)
{
    const std::pair<const char*, uint32_t> valid[] = {
        {"10", 40}, {"10.5", 42}, {"10,5", 42}, {"10,50", 42}, {"10.05", 41}, {"10.99", 44}, {"0.01", 1},
        {"16383.75", 65535}, {"16383", 65532}, {"10 .5", 42}, {"0.00", 0}, {"10.25", 41}, {"10.26", 42},
        {"10.75", 43}, {"10.76", 44}, {"10.1", 41}, {"10.8", 44}, {" 7", 28}, {"+7.5", 30}, {"12ab", 48},
        {"16382.99", 65532},
    };
    for (const auto& [text, value] : valid) {
        uint32_t v = 99999;
        EXPECT_TRUE(TextToPosition(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, value) << '"' << text << '"';
    }
    const std::string invalid[] = {
        "16383.8", "16384", "16383.76", "-1", ".5", "10.", "1.234", "1.2.3", "", "10.x", "-1.5", "abc", ",5", "   ",
        // would wrap to a small whole part if the reading were not checked
        "4294967296", "4294967296.5", "4294983680", TWENTY_NINES, TWENTY_NINES + ".5",
    };
    for (const std::string& text : invalid) {
        uint32_t v = 99999;
        EXPECT_FALSE(TextToPosition(text, &v)) << '"' << text << '"';
        EXPECT_EQ(v, 99999u) << '"' << text << '"';
    }

    EXPECT_EQ(PositionToText(0), "0.00");
    EXPECT_EQ(PositionToText(41), "10.25");
    EXPECT_EQ(PositionToText(65535), "16383.75");
    // Every position shown comes back unchanged when OK is pressed without an edit.
    for (uint32_t value = 0; value <= 0xFFFF; ++value) {
        uint32_t back = 0xFFFFFFFF;
        ASSERT_TRUE(TextToPosition(PositionToText(value), &back)) << value;
        ASSERT_EQ(back, value);
    }
}

TEST(ParamFields, EachFieldHasItsOwnRangeAndShownValuesReadBack)
{
    struct Case {
        const ParamField& field;
        const char* valid;
        const char* invalid;
    };
    const Case cases[] = {
        {BLIND_FIELDS[0], "ffff", "10000"}, {BLIND_FIELDS[1], "255", "256"},   {BLIND_FIELDS[2], "255", "256"},
        {BLIND_FIELDS[3], "1", "2"},        {BLIND_FIELDS[4], "65535", "65536"}, {BLIND_FIELDS[5], "65535", "65536"},
        {BLIND_FIELDS[6], "00FF", "10000"}, {BLIND_FIELDS[7], "255", "256"},   {BLIND_FIELDS[8], "8", "9"},
        {BLIND_FIELDS[8], "1", "0"},        {REF_FIELDS[0], "0xFFFF", "10000"}, {REF_FIELDS[1], "16383.75", "16383.8"},
        {REF_FIELDS[2], "0", "16384"},
    };
    for (const Case& c : cases) {
        uint32_t word = 0;
        EXPECT_TRUE(ReadField(c.field, c.valid, &word)) << c.field.caption << " \"" << c.valid << '"';
        EXPECT_FALSE(ReadField(c.field, c.invalid, &word)) << c.field.caption << " \"" << c.invalid << '"';
    }

    for (const ParamField* fields : {REF_FIELDS, BLIND_FIELDS}) {
        const int count = fields == REF_FIELDS ? REF_FIELD_COUNT : BLIND_FIELD_COUNT;
        for (int i = 0; i < count; ++i) {
            const ParamField& f = fields[i];
            // Neither a negative value, nor an empty text, nor digits beyond 32 bits pass
            // any field; the hexadecimal texts are those that a wrap would turn into 0 or 1.
            for (const std::string text : {"-1", "", " ", TWENTY_NINES.c_str(), "100000000", "-FFFFFFFF"}) {
                uint32_t word = 0;
                EXPECT_FALSE(ReadField(f, text, &word)) << f.caption << " \"" << text << '"';
            }
            const int64_t lo = f.kind == FieldKind::Position ? 0 : f.lo;
            const int64_t hi = f.kind == FieldKind::Position ? 0xFFFF : f.hi;
            for (int64_t v : {lo, hi, (lo + hi) / 2, lo + 1}) {
                uint32_t word = 0xDEADBEEF;
                ASSERT_TRUE(ReadField(f, FormatField(f, static_cast<uint32_t>(v)), &word)) << f.caption << ' ' << v;
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

}  // namespace
