#pragma once
// The user's settings: sixteen values in one registry key of the current user. There is
// no shared copy: each action builds a record, loads it, changes the values it owns and
// saves the whole record back. User interface thread only.

#include "platform/Registry.h"

#include <cstdint>
#include <string>

constexpr const char* TESSARIN_SETTINGS_KEY = "Software\\Varnolt\\Tessarin\\Settings";
constexpr const char* TESSARIN_DEFAULT_LOG_FILE = "Tessarin.log";
// The log file name's field: up to 256 characters and the NUL. Always stored whole.
constexpr uint32_t TESSARIN_LOG_FILE_FIELD = 257;

// The COM numbers given to devices with a stable identity: one more value of the key,
// "strComPortIds" (REG_SZ, lines "COM<n>=<id>"), read and written apart from the record,
// which keeps its sixteen values as before. Loading gives "" when the value is missing.
std::string LoadComPortIds(RegKey rootKey = TREG_HKEY_CURRENT_USER,
                           const char* keyPath = TESSARIN_SETTINGS_KEY);
bool SaveComPortIds(const std::string& table, RegKey rootKey = TREG_HKEY_CURRENT_USER,
                    const char* keyPath = TESSARIN_SETTINGS_KEY);

class CTessarinSettings {
public:
    // Names the record's key and resets it to the defaults.
    explicit CTessarinSettings(RegKey rootKey = TREG_HKEY_CURRENT_USER,
                               const char* keyPath = TESSARIN_SETTINGS_KEY);

    // bReset: every value to its default, key unused, 0. Else bSave writes the sixteen
    // values to key (opened for writing) in order, stopping at the first failed write
    // and returning its code; or, loading from key (opened for reading), each value that
    // cannot be read takes its default and the result is that of "strLogFile".
    virtual RegStatus Exchange(RegKey key, bool bSave, bool bReset);
    // Called first in every save; does nothing here.
    virtual void OnBeforeSave();
    // Called last in every load; does nothing here.
    virtual void OnAfterLoad();
    virtual ~CTessarinSettings() = default;

    // Opens the key for reading and loads it, or resets the record when the key cannot
    // be opened. True when the key was there to read.
    bool Load();
    // Creates or opens the key for writing and saves the whole record. True when every
    // value was written and stored. Callers report nothing either way.
    bool Save();

    // Puts path in the text field; false, and nothing changed, when it is longer than
    // 256 characters.
    bool SetLogFile(const char* path);

    RegKey RootKey() const { return m_hRootKey; }
    const std::string& KeyPath() const { return m_strKeyPath; }

    // The values, in the order they are stored, each with its registry value name.
    uint32_t m_nChkParam = 0;                         // "chkParam": nonzero ticks "Show parameters"
    uint32_t m_nChkBroadcast = 0;                     // "chkBroadcast": unused, written back unchanged
    uint32_t m_nDestAddrRefN = 0;                     // "destAddrRefN": reference node destination
    uint32_t m_nXPos = 0;                             // "xPos": reference node X, quarter units
    uint32_t m_nYPos = 0;                             // "yPos": reference node Y, quarter units
    uint32_t m_nDestAddrBlindN = 0;                   // "destAddrBlindN": blind node destination
    uint32_t m_nA = 0;                                // "A": blind node parameter A
    uint32_t m_nIndex = 0;                            // "nIndex": blind node parameter N
    uint32_t m_nMode = 0;                             // "mode": 0 polled, 1 automatic
    uint32_t m_nCollectTime = 0;                      // "collectTime": units of 100 ms
    uint32_t m_nCycleTime = 0;                        // "cycleTime": units of 100 ms
    uint32_t m_nReportShortAddr = 0;                  // "reportShortAddr"
    uint32_t m_nReportEndpoint = 0;                   // "reportEndpoint"
    uint32_t m_nMinRefNodes = 0;                      // "minRefNodes"
    uint32_t m_nAppendToLogFile = 0;                  // "appendToLogFile": nonzero appends at capture start
    char m_szLogFile[TESSARIN_LOG_FILE_FIELD] = {};   // "strLogFile": log file path

private:
    void Reset();
    RegStatus LoadValues(RegKey key);
    RegStatus SaveValues(RegKey key);

    RegKey m_hRootKey;
    std::string m_strKeyPath;
};
