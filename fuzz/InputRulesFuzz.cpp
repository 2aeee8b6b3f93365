// The number, field and position rules. Whatever the user types: a number is read as
// scanf reads it (strtoll) or refused, never wrapped; a field accepts only its valid
// values (a position field 0.00 to 16383.75), leaves the word alone otherwise, and reads
// back what it shows.
//
// Input: byte 0 picks a field of either mode, bytes 1..4 a record word (low byte first);
// the rest is the text typed.

#include <cerrno>
#include <string>

#include "commands/InputRules.h"
#include "fuzz/FuzzTarget.h"

TESSARIN_FUZZ_TARGET(InputRules)
{
    CFuzzInput in{data, size};
    const int pick = in.Byte() % (REF_FIELD_COUNT + BLIND_FIELD_COUNT);
    const ParamField& field =
        pick < REF_FIELD_COUNT ? REF_FIELDS[pick] : BLIND_FIELDS[pick - REF_FIELD_COUNT];
    uint32_t word = 0;
    for (int shift = 0; shift < 32; shift += 8)
        word |= uint32_t(in.Byte()) << shift;
    const std::string text(reinterpret_cast<const char*>(in.rest), in.left);   // a zero ends both readings

    for (const int base : {10, 16}) {
        char* end = nullptr;
        errno = 0;
        const long long exact = std::strtoll(text.c_str(), &end, base);
        const long long limit = base == 10 ? 0x7FFFFFFF : 0xFFFFFFFF;   // what the 32-bit variable holds
        const bool fits =
            end != text.c_str() && errno == 0 && exact <= limit && exact >= -limit - (base == 10);
        int64_t value = 0;
        FUZZ_CHECK((base == 10 ? ReadDecimal(text, &value) : ReadHex(text, &value)) == fits &&
                   (!fits || value == exact));
    }
    uint32_t read = 0xDEADBEEF, back = 0;
    const int64_t hi = field.kind == FieldKind::Position ? 0xFFFF : field.hi;
    FUZZ_CHECK(ReadField(field, text, &read) ? int64_t(read) >= field.lo && int64_t(read) <= hi
                                             : read == 0xDEADBEEF);
    const uint32_t shown = static_cast<uint32_t>(field.lo + word % (hi - field.lo + 1));
    FUZZ_CHECK(ReadField(field, FormatField(field, shown), &back) && back == shown);
    return 0;
}
