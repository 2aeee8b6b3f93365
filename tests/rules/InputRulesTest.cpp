// How the dialogs and the capture tool read, check and show what the user types.
// Numbers read as "%d" and "%X" are held to strtoll by the fuzz replay (InputRules).

#include <gtest/gtest.h>

#include "commands/InputRules.h"
#include "tools/CaptureCommands.h"

namespace {

constexpr int64_t NO = INT64_MIN;   // refused

}   // namespace

TEST(RulesPositions, TextRoundsUpToQuartersAndEveryShownPositionReadsBack)
{
    const std::pair<std::string, int64_t> cases[] = {
        {"10", 40},
        {"10,50", 42},
        {"10.05", 41},
        {"10.25", 41},
        {"10.26", 42},
        {"10.75", 43},
        {"10.76", 44},
        {"0.00", 0},
        {"16383.75", 65535},
        {"16383", 65532},
        {"16383.8", NO},
        {"16384", NO},
        {"16383.76", NO},
        {"-1", NO},
        {"10.", NO},
        {"1.234", NO},
        {"", NO},
        {"4294967296", NO},
        {"4294983680", NO},
        {"4294967296.5", NO},
        // Blanks after the number are no part of it; inside it, and any sign but a leading
        // '+', they would change its value unseen.
        {" 10.5 \t", 42},
        {"+10.5", 42},
        {"10. 5", NO},
        {"10 .5", NO},
        {"10.+5", NO},
        {"10.-5", NO},
        {"-0.5", NO},
        {"- 1", NO},
        {"10.5x", NO},
        {"1 0", NO},
    };
    for (const auto& [text, value] : cases) {
        uint32_t v = 0;
        EXPECT_EQ(TextToPosition(text, &v) ? v : NO, value) << '"' << text << '"';
    }
    EXPECT_EQ(PositionToText(0) + " " + PositionToText(65535), "0.00 16383.75");
    for (uint32_t value = 0; value <= 0xFFFF; ++value) {   // OK without an edit changes nothing
        uint32_t back = 0xFFFFFFFF;
        ASSERT_TRUE(TextToPosition(PositionToText(value), &back) && back == value) << value;
    }
}

// Each field's edges as typed, and how each kind of field shows its word.
TEST(RulesFields, EachFieldsRangeAndHowItShowsItsWord)
{
    const std::tuple<const ParamField&, const char*, const char*, const char*, const char*> cases[] = {
        {REF_FIELDS[0], "0", "ffff", "-1", "10000"},    {REF_FIELDS[1], "0.00", "16383.75", "-1", "16383.8"},
        {BLIND_FIELDS[1], "0", "255", "-1", "256"},     {BLIND_FIELDS[3], "0", "1", "-1", "2"},
        {BLIND_FIELDS[4], "0", "65535", "-1", "65536"}, {BLIND_FIELDS[6], "0000", "FFFF", "-1", "100000000"},
        {BLIND_FIELDS[8], "1", "8", "0", "9"},   // fresh settings hold 0
    };
    for (const auto& [field, lowest, highest, below, above] : cases) {
        uint32_t word = 0;
        EXPECT_TRUE(ReadField(field, lowest, &word) && ReadField(field, highest, &word)) << field.caption;
        EXPECT_FALSE(ReadField(field, below, &word) || ReadField(field, above, &word)) << field.caption;
    }
    EXPECT_EQ(FormatField(BLIND_FIELDS[6], 0xFF) + " " + FormatField(BLIND_FIELDS[1], 0xFFFFFFFF), "00FF -1");
}

// The capture tool reads values as the dialogs do, but a word must be the number and
// nothing else: on a command line a stray character is a slip.
TEST(RulesCaptureCommands, RefuseSlipsAndValuesOutOfRange)
{
    DongleMessage msg;
    for (const char* bad : {"refconf 1 10x 0", "refreq 1G", "refreq 0x", "refreq 10000", "blindreq -1",
                            "refreq 1 2", "Ping", "blindconf 1 256 0 0 0 0 0 0 1", "blindconf 1 1 1 1"}) {
        std::string error;
        EXPECT_TRUE(ParseCaptureCommand(bad, msg, error) == CaptureCommand::INVALID && !error.empty()) << bad;
    }
}
