#include "commands/InputRules.h"

#include <cstdio>

namespace {

// The C locale's white space, which is what scanf skips; a locale-dependent test
// could take bytes of UTF-8 text for blanks.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c, int base)
{
    int d = -1;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// limitPositive and limitNegative bound the magnitude for each sign.
bool ReadNumber(std::string_view text, int base, uint64_t limitPositive, uint64_t limitNegative,
                int64_t* value)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // "0x" with no hexadecimal digit after it reads as the number 0 followed by an 'x',
    // as scanf has it.
    if (base == 16 && i + 2 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        DigitValue(text[i + 2], 16) >= 0)
        i += 2;

    const uint64_t limit = negative ? limitNegative : limitPositive;
    uint64_t magnitude = 0;
    bool anyDigit = false;
    bool tooLarge = false;
    for (; i < n; ++i) {
        const int d = DigitValue(text[i], base);
        if (d < 0)
            break;
        anyDigit = true;
        // Once past the limit the value stays refused; stopping the sum there keeps it
        // far from overflowing 64 bits however many digits follow.
        if (!tooLarge) {
            magnitude = magnitude * base + d;
            tooLarge = magnitude > limit;
        }
    }
    if (!anyDigit || tooLarge)
        return false;
    *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool InRange(bool read, int64_t v, int64_t lo, int64_t hi, uint32_t* value)
{
    if (!read || v < lo || v > hi)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

const char HEX_ADDRESS_MESSAGE[] = "Give a hex value between 0x0000 and 0xFFFF";
const char POSITION_MESSAGE[] = "e.g. Allowed format: 10, 10.5 or 10.50";
const char TIME_MESSAGE[] = "The value should be given in 100 milliseconds and should be between 0 - 65535";

}   // namespace

bool ReadDecimal(std::string_view text, int64_t* value)
{
    return ReadNumber(text, 10, 0x7FFFFFFFu, 0x80000000u, value);
}

bool ReadHex(std::string_view text, int64_t* value)
{
    return ReadNumber(text, 16, 0xFFFFFFFFu, 0xFFFFFFFFu, value);
}

bool ReadDecimalInRange(std::string_view text, int64_t lo, int64_t hi, uint32_t* value)
{
    int64_t v = 0;
    const bool read = ReadDecimal(text, &v);
    return InRange(read, v, lo, hi, value);
}

bool ReadHexInRange(std::string_view text, int64_t lo, int64_t hi, uint32_t* value)
{
    int64_t v = 0;
    const bool read = ReadHex(text, &v);
    return InRange(read, v, lo, hi, value);
}

bool ReadNodeAddress(std::string_view text, uint32_t* address)
{
    return ReadHexInRange(text, 0, 0xFFFF, address);
}

bool TextToPosition(std::string_view text, uint32_t* value)
{
    // Trailing blanks are no part of the number. A blank or a sign within it, or a
    // fraction that is not all digits, would be read past and change the value; and
    // there are no negative positions, "-0.5" included.
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first]))
        ++first;
    if (first == text.size() || text[first] == '-')
        return false;
    for (size_t i = first + 1; i < text.size(); ++i) {
        if (IsBlank(text[i]) || text[i] == '+' || text[i] == '-')
            return false;
    }

    // ',' and '.' are the same point, so the first of either splits the text.
    const size_t point = text.find_first_of(".,");
    int64_t whole = 0;
    if (point == std::string_view::npos) {
        if (!ReadDecimal(text, &whole) || whole < 0 || whole > MAX_POSITION_WHOLE)
            return false;
        *value = static_cast<uint32_t>(whole * 4);
        return true;
    }

    const std::string_view fractionText = text.substr(point + 1);
    if (fractionText.empty() || fractionText.size() > 2)
        return false;
    for (char c : fractionText) {
        if (c < '0' || c > '9')
            return false;
    }
    int64_t fraction = 0;
    if (!ReadDecimal(fractionText, &fraction))
        return false;
    if (fractionText.size() == 1)
        fraction *= 10;

    // Rounded up to the next quarter.
    int64_t quarters = 0;
    if (fraction <= 0)
        quarters = 0;
    else if (fraction <= 25)
        quarters = 1;
    else if (fraction <= 50)
        quarters = 2;
    else if (fraction <= 75)
        quarters = 3;
    else
        quarters = 4;

    if (!ReadDecimal(text.substr(0, point), &whole))
        return false;
    if (quarters == 4) {
        ++whole;
        quarters = 0;
    }
    if (whole < 0 || whole > MAX_POSITION_WHOLE)
        return false;
    *value = static_cast<uint32_t>(whole * 4 + quarters);
    return true;
}

std::string PositionToText(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u", (value >> 2) & 0x3FFFu, (value & 3u) * 25u);
    return text;
}

std::string FormatHex4(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

std::string FormatDecimal(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<int32_t>(value)));
    return text;
}

const ParamField REF_FIELDS[REF_FIELD_COUNT] = {
    {1016, 1027, "Dest. Addr.: 0x", 1, FieldKind::Hex, 0, 0xFFFF, "Invalid Node ID!", HEX_ADDRESS_MESSAGE},
    {1014, 1028, "X Position:", 2, FieldKind::Position, 0, MAX_POSITION_WHOLE, "Invalid input X Position!",
     POSITION_MESSAGE},
    {1015, 1029, "Y Position:", 3, FieldKind::Position, 0, MAX_POSITION_WHOLE, "Invalid input Y Position!",
     POSITION_MESSAGE},
};

const ParamField BLIND_FIELDS[BLIND_FIELD_COUNT] = {
    {1017, 1030, "Dest. Addr.:   0x", 1, FieldKind::Hex, 0, 0xFFFF, "Invalid Node ID!", HEX_ADDRESS_MESSAGE},
    {1018, 1031, "A:", 2, FieldKind::Decimal, 0, 255, "Invalid A parameter!",
     "The A parameter should be a value between 0 and 255"},
    {1019, 1032, "N:", 3, FieldKind::Decimal, 0, 255, "Invalid N parameter!",
     "The N parameter should be a value between 0 and 255"},
    {1020, 1033, "Operationg Mode:", 4, FieldKind::Decimal, 0, 1, "Invalid Operating mode!",
     "0 - Polled, 1 - Auto"},
    {1021, 1034, "Collect Time:", 5, FieldKind::Decimal, 0, 65535, "Invalid Collect Time!", TIME_MESSAGE},
    {1022, 1035, "Cycle Time:", 6, FieldKind::Decimal, 0, 65535, "Invalid Cycle Time!", TIME_MESSAGE},
    {1023, 1036, "Rep. Short Address:   0x", 7, FieldKind::Hex, 0, 0xFFFF, "Invalid Report Short Address!",
     HEX_ADDRESS_MESSAGE},
    {1024, 1037, "Rep. End Point:", 8, FieldKind::Decimal, 0, 255, "Invalid Report Endpoint!",
     "The report Endpoint should be between 0 and 255"},
    {1025, 1038, "Min. Ref. Nodes:", 9, FieldKind::Decimal, 1, 8, "Invalid Minimum of reference nodes!",
     "The Minimum reference nodes should be between 1 and 8"},
};

std::string FormatField(const ParamField& field, uint32_t word)
{
    switch (field.kind) {
    case FieldKind::Hex:
        return FormatHex4(word);
    case FieldKind::Position:
        return PositionToText(word);
    case FieldKind::Decimal:
        break;
    }
    return FormatDecimal(word);
}

bool ReadField(const ParamField& field, std::string_view text, uint32_t* word)
{
    switch (field.kind) {
    case FieldKind::Hex:
        return ReadHexInRange(text, field.lo, field.hi, word);
    case FieldKind::Position:
        return TextToPosition(text, word);
    case FieldKind::Decimal:
        break;
    }
    return ReadDecimalInRange(text, field.lo, field.hi, word);
}
