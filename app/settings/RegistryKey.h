#pragma once
// Holds one open registry key, or none, and closes it when destroyed. For the user
// interface thread's short-lived settings records.

#include "platform/Registry.h"

class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Opens parent\path. On success closes any key held before and keeps the new one.
    // The registry's result.
    RegStatus Open(RegKey parent, const char* path, uint32_t access);
    // Opens parent\path, creating it when missing. *disposition, when asked for, gets
    // what the call handed back whatever the result. On success closes any key held
    // before and keeps the new one. The registry's result.
    RegStatus Create(RegKey parent, const char* path, char* keyClass, uint32_t options, uint32_t access,
                     void* securityAttributes, uint32_t* disposition = nullptr);
    // Closes the key held, if any, and forgets it: the close's result, or 0 when none
    // was held.
    RegStatus Close();

    RegKey Handle() const { return m_hKey; }

private:
    RegKey m_hKey = nullptr;
};
