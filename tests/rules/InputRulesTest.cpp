// How the dialogs and the capture tool read, check and show what the user types.

#include <gtest/gtest.h>

#include "commands/InputRules.h"
#include "tools/CaptureCommands.h"

namespace {

const std::string NINES(20, '9');
constexpr int64_t NO = INT64_MIN;   // refused

}   // namespace

// Each text read as "%d" and as "%X". scanf would wrap digits beyond 32 bits into the
// variable ("100000000" in hexadecimal and "4294967296" in decimal become 0), which then
// passed a range check from 0: such texts are refused.
TEST(RulesNumbers, DecimalAndHexReadLikeScanfAndNeverWrap)
{
    const std::tuple<std::string, int64_t, int64_t> cases[] = {
        {"\t\n 12", 12, 0x12},
        {"+7", 7, 7},
        {"-1", -1, -1},
        {"-0", 0, 0},
        {"12ab", 12, 0x12AB},
        {"1e3", 1, 0x1E3},
        {"00000000000000000001", 1, 1},
        {"ffff", NO, 0xFFFF},
        {"0XfFfF", 0, 0xFFFF},
        {"+0x1A", 0, 0x1A},
        {"-0x10", 0, -16},
        {"0xG", 0, 0},
        {"0x", 0, 0},   // the 0 of a prefix with no digit after it is the number
        {"2147483647", 2147483647, NO},
        {"-2147483648", -2147483648LL, NO},
        {"FFFFFFFF", NO, 0xFFFFFFFFLL},
        {"-FFFFFFFF", NO, -0xFFFFFFFFLL},
        {"2147483648", NO, NO},
        {"-2147483649", NO, NO},
        {"4294967296", NO, NO},
        {"100000000", 100000000, NO},
        {"0x100000001", 0, NO},
        {"1000000000000000FFFF", NO, NO},
        {NINES, NO, NO},
        {"-" + NINES, NO, NO},
        {std::string(5000, '9'), NO, NO},
        {"", NO, NO},
        {"   ", NO, NO},
        {"-", NO, NO},
        {"- 5", NO, NO},
        {".5", NO, NO},
        {"x1", NO, NO},
    };
    for (const auto& [text, decimal, hex] : cases) {
        int64_t d = 0, h = 0;
        EXPECT_EQ(ReadDecimal(text, &d) ? d : NO, decimal) << '"' << text.substr(0, 40) << '"';
        EXPECT_EQ(ReadHex(text, &h) ? h : NO, hex) << '"' << text.substr(0, 40) << '"';
    }
}

TEST(RulesPositions, TextRoundsUpToQuartersAndEveryShownPositionReadsBack)
{
    const std::pair<std::string, int64_t> cases[] = {
        {"10", 40},         {"10.5", 42},         {"10,50", 42},
        {"10.05", 41},      {"10.99", 44},        {"16383.75", 65535},
        {"16383", 65532},   {"10 .5", 42},        {"0.00", 0},
        {"10.25", 41},      {"10.26", 42},        {"10.75", 43},
        {"10.76", 44},      {"10.8", 44},         {"+7.5", 30},
        {"12ab", 48},       {"16382.99", 65532},  {"16383.8", NO},
        {"16384", NO},      {"16383.76", NO},     {"-1", NO},
        {".5", NO},         {"10.", NO},          {"1.234", NO},
        {"", NO},           {"10.x", NO},         {"-1.5", NO},
        {"4294967296", NO}, {"4294967296.5", NO}, {"4294983680", NO},
        {NINES, NO},        {NINES + ".5", NO},   // the last wrap unchecked
    };
    for (const auto& [text, value] : cases) {
        uint32_t v = 0;
        EXPECT_EQ(TextToPosition(text, &v) ? v : NO, value) << '"' << text << '"';
    }
    EXPECT_EQ(PositionToText(0) + " " + PositionToText(41) + " " + PositionToText(65535),
              "0.00 10.25 16383.75");
    for (uint32_t value = 0; value <= 0xFFFF; ++value) {   // OK without an edit changes nothing
        uint32_t back = 0xFFFFFFFF;
        ASSERT_TRUE(TextToPosition(PositionToText(value), &back) && back == value) << value;
    }
}

// Each field's edges as typed, and how each kind of field shows its word.
TEST(RulesFields, EachFieldsRangeAndHowItShowsItsWord)
{
    const std::tuple<const ParamField&, const char*, const char*, const char*, const char*> cases[] = {
        {REF_FIELDS[0], "0", "ffff", "-1", "10000"},
        {REF_FIELDS[1], "0", "16383.75", "-1", "16383.8"},
        {REF_FIELDS[2], "0.00", "16383,75", "-1", "16384"},
        {BLIND_FIELDS[0], "0x0", "0xFFFF", "-0x1", "0x10000"},
        {BLIND_FIELDS[1], "0", "255", "-1", "256"},
        {BLIND_FIELDS[2], "0", "255", "-1", "256"},
        {BLIND_FIELDS[3], "0", "1", "-1", "2"},
        {BLIND_FIELDS[4], "0", "65535", "-1", "65536"},
        {BLIND_FIELDS[5], "0", "65535", "-1", "65536"},
        {BLIND_FIELDS[6], "0000", "FFFF", "-1", "100000000"},
        {BLIND_FIELDS[7], "0", "255", "-1", "256"},
        {BLIND_FIELDS[8], "1", "8", "0", "9"},   // fresh settings hold 0
    };
    for (const auto& [field, lowest, highest, below, above] : cases) {
        uint32_t word = 0;
        EXPECT_TRUE(ReadField(field, lowest, &word) && ReadField(field, highest, &word)) << field.caption;
        EXPECT_FALSE(ReadField(field, below, &word) || ReadField(field, above, &word)) << field.caption;
    }
    EXPECT_EQ(FormatField(BLIND_FIELDS[6], 0xFF) + " " + FormatField(BLIND_FIELDS[1], 0xFFFFFFFF) + " " +
                  FormatField(REF_FIELDS[1], 41),
              "00FF -1 10.25");
}

// The capture tool reads values as the dialogs do, but a word must be the number and
// nothing else: on a command line a stray character is a slip.
TEST(RulesCaptureCommands, ReadAsTheDialogsReadAndRefuseSlips)
{
    DongleMessage msg;
    std::string error;
    EXPECT_EQ(ParseCaptureCommand(" refconf ABCD 16383.75 10,05 ", msg, error), CaptureCommand::SEND);
    EXPECT_EQ(std::vector<uint32_t>(msg.word, msg.word + 4),
              (std::vector<uint32_t>{MSG_REF_NODE_CONF, 0xABCD, 65535, 41}));
    EXPECT_EQ(ParseCaptureCommand("blindreq FFFF", msg, error), CaptureCommand::SEND);
    for (const char* bad :
         {"refconf 1 10x 0", "refconf 1 -1 0", "refreq 1G", "refreq 0x", "refreq 10000", "blindreq -1",
          "refreq 1 2", "Ping", "blindconf 1 256 0 0 0 0 0 0 1", "blindconf 1 1 1 1"}) {
        error.clear();
        EXPECT_TRUE(ParseCaptureCommand(bad, msg, error) == CaptureCommand::INVALID && !error.empty()) << bad;
    }
}
