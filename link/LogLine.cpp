#include "link/LogLine.h"

#include <cstdio>

UtcTimeOfDay UtcTimeOfDayOf(std::chrono::system_clock::time_point when)
{
    // Plain arithmetic on the clock's count: gmtime_r and gmtime_s are not both everywhere,
    // and gmtime alone is not safe on two threads at once.
    constexpr long long msPerDay = 24LL * 60 * 60 * 1000;
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    long long ofDay = ms % msPerDay;
    if (ofDay < 0)
        ofDay += msPerDay;   // moments before 1970 still give a time of day
    UtcTimeOfDay t;
    t.nMillisecond = static_cast<int>(ofDay % 1000);
    t.nSecond = static_cast<int>(ofDay / 1000 % 60);
    t.nMinute = static_cast<int>(ofDay / 60000 % 60);
    t.nHour = static_cast<int>(ofDay / 3600000);
    return t;
}

UtcTimeOfDay CurrentUtcTimeOfDay()
{
    return UtcTimeOfDayOf(std::chrono::system_clock::now());
}

int FormatHexText(const uint8_t* bytes, int count, char* out, int outSize)
{
    static const char digits[] = "0123456789ABCDEF";
    if (outSize < 1)
        return 0;
    int at = 0;
    for (int i = 0; i < count && at + 3 < outSize; ++i) {
        out[at++] = digits[bytes[i] >> 4];
        out[at++] = digits[bytes[i] & 0x0F];
        out[at++] = ' ';
    }
    out[at] = '\0';
    return at;
}

int FormatLogLine(char* out, const UtcTimeOfDay& time, bool bSent, uint16_t addr, const char* name,
                  const char* hexText)
{
    const int length =
        std::snprintf(out, LOG_LINE_SIZE, "%2.2d:%2.2d:%2.2d:%3.3d %s 0x%4.4X |%-19s|%s", time.nHour,
                      time.nMinute, time.nSecond, time.nMillisecond, bSent ? "|<--|" : "|-->|",
                      static_cast<unsigned>(addr), name ? name : "", hexText ? hexText : "");
    if (length < 0 || length >= LOG_LINE_SIZE) {
        out[0] = '\0';
        return -1;
    }
    return length;
}
