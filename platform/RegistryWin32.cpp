#include "platform/Registry.h"

#include <windows.h>

// Each call forwards to its Win32 namesake. Sizes and types go through locals, since
// DWORD (unsigned long) and uint32_t are distinct types even where both are 32 bits.

static_assert(sizeof(DWORD) == sizeof(uint32_t), "registry lengths are 32-bit");

namespace {

HKEY ToHkey(RegKey key)
{
    return reinterpret_cast<HKEY>(key);
}

}   // namespace

RegStatus RegistryOpenKey(RegKey parent, const char* subKey, uint32_t options, uint32_t access,
                          RegKey* result)
{
    if (result == nullptr)
        return TREG_INVALID_PARAMETER;
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(ToHkey(parent), subKey, options, access, &opened);
    if (status == ERROR_SUCCESS)
        *result = reinterpret_cast<RegKey>(opened);
    return status;
}

RegStatus RegistryCreateKey(RegKey parent, const char* subKey, uint32_t reserved, char* keyClass,
                            uint32_t options, uint32_t access, void* securityAttributes, RegKey* result,
                            uint32_t* disposition)
{
    if (result == nullptr)
        return TREG_INVALID_PARAMETER;
    HKEY created = nullptr;
    DWORD how = disposition != nullptr ? *disposition : 0;
    const LONG status = RegCreateKeyExA(ToHkey(parent), subKey, reserved, keyClass, options, access,
                                        static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), &created,
                                        disposition != nullptr ? &how : nullptr);
    if (disposition != nullptr)
        *disposition = how;
    if (status == ERROR_SUCCESS)
        *result = reinterpret_cast<RegKey>(created);
    return status;
}

RegStatus RegistryQueryValue(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type,
                             uint8_t* data, uint32_t* dataLength)
{
    // Windows says the same, but not every version checks before touching the data.
    if (data != nullptr && dataLength == nullptr)
        return TREG_INVALID_PARAMETER;
    DWORD reservedWord = reserved != nullptr ? *reserved : 0;
    DWORD typeWord = 0;
    DWORD length = dataLength != nullptr ? *dataLength : 0;
    const LONG status = RegQueryValueExA(
        ToHkey(key), valueName, reserved != nullptr ? &reservedWord : nullptr,
        type != nullptr ? &typeWord : nullptr, data, dataLength != nullptr ? &length : nullptr);
    if (type != nullptr && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA))
        *type = typeWord;
    if (dataLength != nullptr && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA))
        *dataLength = length;
    return status;
}

RegStatus RegistrySetValue(RegKey key, const char* valueName, uint32_t reserved, uint32_t type,
                           const uint8_t* data, uint32_t dataLength)
{
    return RegSetValueExA(ToHkey(key), valueName, reserved, type, data, dataLength);
}

RegStatus RegistryCloseKey(RegKey key)
{
    return RegCloseKey(ToHkey(key));
}
