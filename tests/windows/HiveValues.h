#pragma once
// The settings records that the Linux build writes to its hive file and the Windows
// build must load again after the registry editor imported that file. Keys of the
// tests' own, so that a run on a real Windows machine leaves the user's settings alone.

#include <cstring>
#include <string>
#include <vector>

#include "app/settings/TessarinSettings.h"

struct HiveTestDword {
    const char* name;
    uint32_t CTessarinSettings::*member;
    uint32_t value;
};

// Every value differs from the others and from the default; top bits, high bytes and
// low bytes are set where a shortened or swapped copy would show.
using HiveS = CTessarinSettings;
inline const HiveTestDword kHiveTestDwords[] = {
    {"chkParam", &HiveS::m_nChkParam, 1}, {"chkBroadcast", &HiveS::m_nChkBroadcast, 0xFFFFFFFFu},
    {"destAddrRefN", &HiveS::m_nDestAddrRefN, 0x0101}, {"xPos", &HiveS::m_nXPos, 65535},
    {"yPos", &HiveS::m_nYPos, 0x12345678u}, {"destAddrBlindN", &HiveS::m_nDestAddrBlindN, 0x0203},
    {"A", &HiveS::m_nA, 39}, {"nIndex", &HiveS::m_nIndex, 25}, {"mode", &HiveS::m_nMode, 1},
    {"collectTime", &HiveS::m_nCollectTime, 0x80000000u},
    {"cycleTime", &HiveS::m_nCycleTime, 0x00ABCDEFu},
    {"reportShortAddr", &HiveS::m_nReportShortAddr, 0xFFFF},
    {"reportEndpoint", &HiveS::m_nReportEndpoint, 0xFE}, {"minRefNodes", &HiveS::m_nMinRefNodes, 3},
    {"appendToLogFile", &HiveS::m_nAppendToLogFile, 0x7FFFFFFFu},
};

// Two records that differ in their log file name, since the hive file writes the two
// kinds of name differently.
struct HiveTestRecord {
    const char* keyPath;
    std::string logFile;
};

inline std::vector<HiveTestRecord> HiveTestRecords()
{
    // 256 characters, the longest the field holds, so that the NUL ends the field and
    // the value is written as a quoted string; with the characters a registry file must
    // escape or could misread: backslashes, quotes, '=', ';', '@', spaces.
    std::string longest = "C:\\Capture Logs\\\"site=A\";run@1\\";
    while (longest.size() < TESSARIN_LOG_FILE_FIELD - 5)
        longest += static_cast<char>('a' + longest.size() % 26);
    longest += ".log";
    return {
        {"Software\\Varnolt\\TessarinTest\\LinuxHiveLongName", longest},
        // The usual case: the NULs after the name fill the field, written as hex(1) bytes.
        {"Software\\Varnolt\\TessarinTest\\LinuxHiveShortName", "D:\\logs\\Tessarin.log"},
    };
}

inline void FillHiveTestValues(CTessarinSettings& s, const std::string& logFile)
{
    for (const HiveTestDword& d : kHiveTestDwords)
        s.*d.member = d.value;
    std::memset(s.m_szLogFile, 0, sizeof s.m_szLogFile);
    std::memcpy(s.m_szLogFile, logFile.data(), logFile.size());
}
