#pragma once
// Text helpers that no locale may change: ASCII case and UTF-8 encoding. Any thread.

#include <cstdint>
#include <string>

// c in lower case when it is an ASCII capital, else c unchanged.
inline char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Appends the UTF-8 form of the code point cp (at most U+10FFFF) to out.
void AppendUtf8(std::string& out, uint32_t cp);
