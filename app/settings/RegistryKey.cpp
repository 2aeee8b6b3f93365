#include "app/settings/RegistryKey.h"

CRegistryKey::~CRegistryKey()
{
    // Nobody is left to hear a failure; with the hive file a failed close has already
    // dropped its changes and left the stored ones alone.
    (void)Close();
}

RegStatus CRegistryKey::Open(RegKey parent, const char* path, uint32_t access)
{
    RegKey key = nullptr;
    RegStatus status = RegistryOpenKey(parent, path, 0, access, &key);
    if (status == TREG_SUCCESS) {
        (void)Close();   // the old key's fate does not change the new one's
        m_hKey = key;
    }
    return status;
}

RegStatus CRegistryKey::Create(RegKey parent, const char* path, char* keyClass, uint32_t options,
                               uint32_t access, void* securityAttributes, uint32_t* disposition)
{
    RegKey key = nullptr;
    uint32_t disp = 0;
    RegStatus status =
        RegistryCreateKey(parent, path, 0, keyClass, options, access, securityAttributes, &key, &disp);
    if (disposition)
        *disposition = disp;
    if (status == TREG_SUCCESS) {
        (void)Close();
        m_hKey = key;
    }
    return status;
}

RegStatus CRegistryKey::Close()
{
    if (!m_hKey)
        return TREG_SUCCESS;
    RegKey key = m_hKey;
    m_hKey = nullptr;
    return RegistryCloseKey(key);
}
