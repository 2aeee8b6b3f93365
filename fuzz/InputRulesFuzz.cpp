// The field reading and position rules. Whatever the user types: a number is read the
// way scanf reads it or refused, never wrapped; a field accepts only its valid values;
// what a field shows for a valid word reads back as that word; a position accepted is
// a position value, and its text reads back unchanged.
//
// Input: byte 0 picks a field of either mode, bytes 1..4 a record word; the rest is
// the text typed.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "commands/InputRules.h"
#include "fuzz/FuzzTarget.h"

namespace {

bool IsScanfBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int Digit(char c, int base)
{
    int d = 99;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'z')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// The number at the start of text when it has the plain form blanks, sign, ("0x" and)
// digits; the magnitude saturates far above every limit. False for any other text.
bool PlainNumber(std::string_view text, int base, bool* negative, long double* magnitude)
{
    size_t i = 0;
    while (i < text.size() && IsScanfBlank(text[i]))
        ++i;
    *negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        *negative = text[i++] == '-';
    if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] | 0x20) == 'x'
        && Digit(text[i + 2], 16) >= 0)
        i += 2;
    if (i >= text.size() || Digit(text[i], base) < 0)
        return false;
    long double m = 0;
    for (; i < text.size() && Digit(text[i], base) >= 0; ++i)
        m = std::min<long double>(m * base + Digit(text[i], base), 1e30L);
    *magnitude = m;
    return true;
}

}  // namespace

TESSARIN_FUZZ_TARGET(InputRules)
{
    CFuzzInput in(data, size);
    const int pick = in.Byte() % (REF_FIELD_COUNT + BLIND_FIELD_COUNT);
    const ParamField& field =
        pick < REF_FIELD_COUNT ? REF_FIELDS[pick] : BLIND_FIELDS[pick - REF_FIELD_COUNT];
    const uint32_t word = in.Word();
    const std::string_view text(reinterpret_cast<const char*>(in.Rest()), in.RestSize());

    // Numbers: the plain form gives its exact value inside the 32-bit limits and is
    // refused outside them; any text that reads gives a value inside them.
    int64_t value = 0;
    bool negative = false;
    long double magnitude = 0;
    const bool decimalRead = ReadDecimal(text, &value);
    if (PlainNumber(text, 10, &negative, &magnitude)) {
        const long double exact = negative ? -magnitude : magnitude;
        const bool fits = exact >= -2147483648.0L && exact <= 2147483647.0L;
        FUZZ_CHECK(decimalRead == fits);
        FUZZ_CHECK(!fits || static_cast<long double>(value) == exact);
    } else {
        FUZZ_CHECK(!decimalRead);
    }
    if (decimalRead)
        FUZZ_CHECK(value >= INT32_MIN && value <= INT32_MAX);

    const bool hexRead = ReadHex(text, &value);
    if (PlainNumber(text, 16, &negative, &magnitude)) {
        const bool fits = magnitude <= 4294967295.0L;
        FUZZ_CHECK(hexRead == fits);
        FUZZ_CHECK(!fits || static_cast<long double>(value) == (negative ? -magnitude : magnitude));
    } else {
        FUZZ_CHECK(!hexRead);
    }

    // The field itself: only valid values pass.
    uint32_t read = 0xDEADBEEF;
    if (ReadField(field, text, &read)) {
        if (field.kind == FieldKind::Position)
            FUZZ_CHECK(read <= 0xFFFF && PositionToText(read).size() <= 8);
        else
            FUZZ_CHECK(static_cast<int64_t>(read) >= field.lo && static_cast<int64_t>(read) <= field.hi);
    } else {
        FUZZ_CHECK(read == 0xDEADBEEF);   // a refused text leaves the word alone
    }

    // Shown and read back unchanged, for every word the field can hold.
    const uint32_t valid = field.kind == FieldKind::Position
                               ? word & 0xFFFF
                               : static_cast<uint32_t>(field.lo + word % (field.hi - field.lo + 1));
    uint32_t back = 0;
    FUZZ_CHECK(ReadField(field, FormatField(field, valid), &back));
    FUZZ_CHECK(back == valid);

    // A position accepted is one, and its own text gives it back.
    uint32_t position = 0;
    if (TextToPosition(text, &position)) {
        FUZZ_CHECK(position <= 0xFFFF);
        uint32_t again = 0;
        FUZZ_CHECK(TextToPosition(PositionToText(position), &again) && again == position);
    }
    FUZZ_CHECK(FormatHex4(word).size() >= 4 && FormatDecimal(word).size() <= 11);
    return 0;
}
