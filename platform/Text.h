#pragma once
// Text helpers that no locale may change: ASCII case and UTF-8 encoding. Any thread.

#include <cstdint>
#include <string>

// c in lower case when it is an ASCII capital, else c unchanged.
inline char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of an ASCII hex digit, or -1 for any other character.
inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

inline bool IsTabOrSpace(char c)
{
    return c == '\t' || c == ' ';
}

// Appends the UTF-8 form of the code point cp (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, uint32_t cp);
