#pragma once
// How the parameter dialogs read, check and show their fields, as plain functions of a
// text: no window is needed to use or test them, and they build for every platform.

#include <cstdint>
#include <string>
#include <string_view>

// Reads a number the way scanf reads "%d" (ReadDecimal) or "%X" (ReadHex): leading
// white space, an optional '+' or '-', for hexadecimal an optional "0x" or "0X", then
// digits up to the first character that cannot continue them; the rest is ignored.
// False when no digit can be read, or when the digits do not fit the 32-bit variable
// scanf would fill (a decimal outside the int range, a hexadecimal magnitude above
// 0xFFFFFFFF): such a text is refused, never wrapped into a small value.
bool ReadDecimal(std::string_view text, int64_t* value);
bool ReadHex(std::string_view text, int64_t* value);

// As above, and true only when the value lies in lo..hi, both included.
bool ReadDecimalInRange(std::string_view text, int64_t lo, int64_t hi, uint32_t* value);
bool ReadHexInRange(std::string_view text, int64_t lo, int64_t hi, uint32_t* value);

// A node short address typed after a "0x" label: hexadecimal, 0x0000 to 0xFFFF.
bool ReadNodeAddress(std::string_view text, uint32_t* address);

// Position values are 16-bit fixed point in quarter units: bits 15..2 the whole part,
// bits 1..0 the quarters, 0.00 to 16383.75.
constexpr int64_t MAX_POSITION_WHOLE = 16383;

// Reads a position text ("10", "10.5", "10,50"; a fraction is rounded up to the next
// quarter); false when the text is no position between 0.00 and 16383.75.
bool TextToPosition(std::string_view text, uint32_t* value);

// "whole.hundredths" of the low 16 bits of value, the point always '.': 41 -> "10.25".
std::string PositionToText(uint32_t value);

// "%04X": at least four upper-case hexadecimal digits, no "0x".
std::string FormatHex4(uint32_t value);
// "%d" of the word taken as a signed 32-bit number.
std::string FormatDecimal(uint32_t value);

// One field of the Message Parameters dialog: where it sits, which record word it edits,
// how that word is shown and read, and what the user is told when it is invalid.
enum class FieldKind { Hex, Decimal, Position };

struct ParamField {
    int editId;
    int labelId;
    const char* label;
    int word;
    FieldKind kind;
    int64_t lo;   // valid values, both bounds included (positions: whole part)
    int64_t hi;
    const char* caption;
    const char* message;
};

// The fields of each mode, top to bottom, which is also the order they are checked in.
constexpr int REF_FIELD_COUNT = 3;
constexpr int BLIND_FIELD_COUNT = 9;
extern const ParamField REF_FIELDS[REF_FIELD_COUNT];
extern const ParamField BLIND_FIELDS[BLIND_FIELD_COUNT];

// The text a field shows for its record word.
std::string FormatField(const ParamField& field, uint32_t word);

// Reads and checks a field's text; on success the value for its record word.
bool ReadField(const ParamField& field, std::string_view text, uint32_t* word);
