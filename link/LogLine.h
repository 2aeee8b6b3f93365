#pragma once
// The log line, the one text form of every message sent or received:
//   "hh:mm:ss:mmm |-->| 0xAAAA |NAME padded to 19   |0A 0B "
// Pure functions, safe on any thread; each thread forms its lines in storage of its own.

#include <chrono>
#include <cstdint>

// Room for the longest log line and its terminating zero.
constexpr int LOG_LINE_SIZE = 256;

struct UtcTimeOfDay {
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
    int nMillisecond = 0;
};

// The UTC time of day of a moment, to the millisecond (leap seconds are not counted).
UtcTimeOfDay UtcTimeOfDayOf(std::chrono::system_clock::time_point when);
UtcTimeOfDay CurrentUtcTimeOfDay();

// Each byte as two upper-case hex digits and a space. out needs 3 * count + 1
// characters; bytes that would not fit in outSize are left out. Returns the length.
int FormatHexText(const uint8_t* bytes, int count, char* out, int outSize);

// Forms a log line into out (LOG_LINE_SIZE characters): time, " |<--| " when sent or
// " |-->| " when received, the address, the name padded to 19 and the hex text (may be
// null). Returns the line's length, or -1 when it would exceed 255 characters (out then
// holds an empty line).
int FormatLogLine(char* out, const UtcTimeOfDay& time, bool bSent, uint16_t addr, const char* name,
                  const char* hexText);
