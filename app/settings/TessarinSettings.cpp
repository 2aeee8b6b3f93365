#include "app/settings/TessarinSettings.h"

#include "app/settings/RegistryKey.h"

#include <cstring>

namespace {

struct DwordValue {
    const char* name;
    uint32_t CTessarinSettings::*member;
};

// Stored in this order, followed by "strLogFile".
const DwordValue kDwordValues[] = {
    {"chkParam", &CTessarinSettings::m_nChkParam},
    {"chkBroadcast", &CTessarinSettings::m_nChkBroadcast},
    {"destAddrRefN", &CTessarinSettings::m_nDestAddrRefN},
    {"xPos", &CTessarinSettings::m_nXPos},
    {"yPos", &CTessarinSettings::m_nYPos},
    {"destAddrBlindN", &CTessarinSettings::m_nDestAddrBlindN},
    {"A", &CTessarinSettings::m_nA},
    {"nIndex", &CTessarinSettings::m_nIndex},
    {"mode", &CTessarinSettings::m_nMode},
    {"collectTime", &CTessarinSettings::m_nCollectTime},
    {"cycleTime", &CTessarinSettings::m_nCycleTime},
    {"reportShortAddr", &CTessarinSettings::m_nReportShortAddr},
    {"reportEndpoint", &CTessarinSettings::m_nReportEndpoint},
    {"minRefNodes", &CTessarinSettings::m_nMinRefNodes},
    {"appendToLogFile", &CTessarinSettings::m_nAppendToLogFile},
};
static_assert(sizeof kDwordValues / sizeof kDwordValues[0] == 15, "fifteen 32-bit values");

const char kLogFileName[] = "strLogFile";
const char kComPortIdsName[] = "strComPortIds";

size_t BoundedLength(const char* text, size_t limit)
{
    size_t n = 0;
    while (n < limit && text[n])
        ++n;
    return n;
}

}   // namespace

CTessarinSettings::CTessarinSettings(RegKey rootKey, const char* keyPath)
    : m_hRootKey(rootKey), m_strKeyPath(keyPath ? keyPath : "")
{
    Exchange(nullptr, false, true);
}

RegStatus CTessarinSettings::Exchange(RegKey key, bool bSave, bool bReset)
{
    if (bReset) {
        Reset();
        return TREG_SUCCESS;
    }
    return bSave ? SaveValues(key) : LoadValues(key);
}

void CTessarinSettings::OnBeforeSave() {}

void CTessarinSettings::OnAfterLoad() {}

void CTessarinSettings::Reset()
{
    for (const auto& v : kDwordValues)
        this->*v.member = 0;
    std::memset(m_szLogFile, 0, sizeof m_szLogFile);
    std::strcpy(m_szLogFile, TESSARIN_DEFAULT_LOG_FILE);
}

RegStatus CTessarinSettings::LoadValues(RegKey key)
{
    for (const auto& v : kDwordValues) {
        // Shorter data fills the low-order bytes, little-endian; the rest stay 0.
        uint8_t bytes[4] = {};
        uint32_t type = 0;
        uint32_t length = sizeof bytes;
        RegStatus status = RegistryQueryValue(key, v.name, nullptr, &type, bytes, &length);
        uint32_t value = 0;
        // After a failure the buffer is undefined: the value takes its default.
        if (status == TREG_SUCCESS)
            value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                    uint32_t(bytes[3]) << 24;
        this->*v.member = value;
    }

    char text[TESSARIN_LOG_FILE_FIELD] = {};
    uint32_t type = 0;
    uint32_t length = sizeof text;
    RegStatus status =
        RegistryQueryValue(key, kLogFileName, nullptr, &type, reinterpret_cast<uint8_t*>(text), &length);
    std::memset(m_szLogFile, 0, sizeof m_szLogFile);
    if (status == TREG_SUCCESS) {
        // A text that fills the field without its NUL is cut to 256 characters.
        text[sizeof text - 1] = '\0';
        std::strcpy(m_szLogFile, text);
    } else {
        std::strcpy(m_szLogFile, TESSARIN_DEFAULT_LOG_FILE);
    }

    OnAfterLoad();
    return status;
}

RegStatus CTessarinSettings::SaveValues(RegKey key)
{
    OnBeforeSave();
    for (const auto& v : kDwordValues) {
        const uint32_t value = this->*v.member;
        const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                  uint8_t(value >> 24)};
        RegStatus status = RegistrySetValue(key, v.name, 0, TREG_DWORD, bytes, sizeof bytes);
        if (status != TREG_SUCCESS)
            return status;
    }
    // The whole field, terminated and zero after the text: a field left without its NUL
    // would otherwise be stored unreadable, and stale bytes would leak into the hive.
    uint8_t field[TESSARIN_LOG_FILE_FIELD] = {};
    size_t textLength = BoundedLength(m_szLogFile, sizeof m_szLogFile - 1);
    std::memcpy(field, m_szLogFile, textLength);
    return RegistrySetValue(key, kLogFileName, 0, TREG_SZ, field, sizeof field);
}

bool CTessarinSettings::Load()
{
    CRegistryKey key;
    if (key.Open(m_hRootKey, m_strKeyPath.c_str(), TREG_KEY_READ) != TREG_SUCCESS) {
        Exchange(nullptr, false, true);
        return false;
    }
    Exchange(key.Handle(), false, false);   // its result only tells about "strLogFile"
    (void)key.Close();                      // nothing was written through a read key
    return true;
}

bool CTessarinSettings::Save()
{
    CRegistryKey key;
    if (key.Create(m_hRootKey, m_strKeyPath.c_str(), nullptr, TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE,
                   nullptr) != TREG_SUCCESS)
        return false;
    RegStatus status = Exchange(key.Handle(), true, false);
    RegStatus closed = key.Close();
    return status == TREG_SUCCESS && closed == TREG_SUCCESS;
}

bool CTessarinSettings::SetLogFile(const char* path)
{
    if (!path)
        return false;
    size_t length = BoundedLength(path, sizeof m_szLogFile);
    if (length >= sizeof m_szLogFile)
        return false;
    std::memset(m_szLogFile, 0, sizeof m_szLogFile);
    std::memcpy(m_szLogFile, path, length);
    return true;
}

std::string LoadComPortIds(RegKey rootKey, const char* keyPath)
{
    CRegistryKey key;
    uint32_t type = 0;
    uint32_t length = 0;
    if (key.Open(rootKey, keyPath, TREG_KEY_READ) != TREG_SUCCESS ||
        RegistryQueryValue(key.Handle(), kComPortIdsName, nullptr, &type, nullptr, &length) != TREG_SUCCESS ||
        type != TREG_SZ)
        return std::string();
    std::string table(length + 1, '\0');
    if (RegistryQueryValue(key.Handle(), kComPortIdsName, nullptr, &type,
                           reinterpret_cast<uint8_t*>(&table[0]), &length) != TREG_SUCCESS)
        return std::string();
    table.resize(BoundedLength(table.c_str(), length));
    return table;
}

bool SaveComPortIds(const std::string& table, RegKey rootKey, const char* keyPath)
{
    CRegistryKey key;
    if (key.Create(rootKey, keyPath, nullptr, TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr) !=
        TREG_SUCCESS)
        return false;
    const RegStatus status = RegistrySetValue(key.Handle(), kComPortIdsName, 0, TREG_SZ,
                                              reinterpret_cast<const uint8_t*>(table.c_str()),
                                              static_cast<uint32_t>(table.size() + 1));
    return status == TREG_SUCCESS && key.Close() == TREG_SUCCESS;
}
