#pragma once
// The five registry calls the settings store needs, one to one with the Win32 ANSI
// calls (RegOpenKeyExA, RegCreateKeyExA, RegQueryValueExA, RegSetValueExA, RegCloseKey):
// same parameters, same result codes, same value types and access masks, so the Win32
// source only forwards. Elsewhere HKEY_CURRENT_USER is a hive file of our own,
// ${XDG_CONFIG_HOME:-$HOME/.config}/tessarin/HKEY_CURRENT_USER.reg, in the registry
// editor's export format. Names carry a TREG_/Registry prefix so that this header and
// <windows.h> can be included together.
//
// Every function may be called from any thread; calls are serialised inside. A key
// handle must be closed exactly once, by one thread.

#include <cstdint>

struct RegKeyObject;
typedef RegKeyObject* RegKey;   // an open key, or a predefined root
typedef long RegStatus;         // a Win32 error code; 0 is success

// The predefined root, with the value Win32 gives HKEY_CURRENT_USER.
inline RegKey const TREG_HKEY_CURRENT_USER = reinterpret_cast<RegKey>(uintptr_t(0x80000001u));

// Result codes (the Win32 values).
constexpr RegStatus TREG_SUCCESS = 0;
constexpr RegStatus TREG_FILE_NOT_FOUND = 2;   // no such key or value
constexpr RegStatus TREG_ACCESS_DENIED = 5;    // handle lacks the access, or the store is not writable
constexpr RegStatus TREG_INVALID_HANDLE = 6;
constexpr RegStatus TREG_NOT_ENOUGH_MEMORY = 8;
constexpr RegStatus TREG_WRITE_FAULT = 29;   // the store could not be written
constexpr RegStatus TREG_DISK_FULL = 112;
constexpr RegStatus TREG_INVALID_PARAMETER = 87;
constexpr RegStatus TREG_BAD_PATHNAME = 161;
constexpr RegStatus TREG_MORE_DATA = 234;   // the value does not fit the caller's length
constexpr RegStatus TREG_BADDB = 1009;      // the store exists but cannot be read

// Value types.
constexpr uint32_t TREG_NONE = 0;
constexpr uint32_t TREG_SZ = 1;
constexpr uint32_t TREG_EXPAND_SZ = 2;
constexpr uint32_t TREG_BINARY = 3;
constexpr uint32_t TREG_DWORD = 4;
constexpr uint32_t TREG_MULTI_SZ = 7;
constexpr uint32_t TREG_QWORD = 11;

// Access masks.
constexpr uint32_t TREG_KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t TREG_KEY_SET_VALUE = 0x0002;
constexpr uint32_t TREG_KEY_CREATE_SUB_KEY = 0x0004;
constexpr uint32_t TREG_KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr uint32_t TREG_KEY_NOTIFY = 0x0010;
constexpr uint32_t TREG_KEY_READ = 0x20019;
constexpr uint32_t TREG_KEY_WRITE = 0x20006;
constexpr uint32_t TREG_KEY_ALL_ACCESS = 0xF003F;

// Create options and dispositions.
constexpr uint32_t TREG_OPTION_NON_VOLATILE = 0;
constexpr uint32_t TREG_CREATED_NEW_KEY = 1;
constexpr uint32_t TREG_OPENED_EXISTING_KEY = 2;

// Opens parent\subKey (subKey null or "" opens parent again) and stores a new handle
// in *result. 0, or 2 when the key does not exist, 6 for a bad parent, 161 for a
// subKey that begins with a backslash; *result is untouched on failure.
RegStatus RegistryOpenKey(RegKey parent, const char* subKey, uint32_t options, uint32_t access,
                          RegKey* result);

// Opens parent\subKey, creating it and any missing parents. keyClass and
// securityAttributes are passed through (ignored without Win32). *disposition, when
// asked for, tells TREG_CREATED_NEW_KEY or TREG_OPENED_EXISTING_KEY. 0 on success;
// 5 when write access is asked and the store cannot be written; 161 for a subKey that
// begins with a backslash.
RegStatus RegistryCreateKey(RegKey parent, const char* subKey, uint32_t reserved, char* keyClass,
                            uint32_t options, uint32_t access, void* securityAttributes, RegKey* result,
                            uint32_t* disposition);

// Reads a value. *type (when asked) gets the stored type; *dataLength is the caller's
// room on entry and the value's length on return. With data null: 0 and the length.
// When the value is longer than the room: 234 with the needed length; the data buffer
// is then undefined (this layer leaves it untouched). A string value stored without a
// terminating NUL gets one only when the room allows: callers terminate their buffers.
// 2 when the value does not exist, 87 when data is given without dataLength.
RegStatus RegistryQueryValue(RegKey key, const char* valueName, uint32_t* reserved, uint32_t* type,
                             uint8_t* data, uint32_t* dataLength);

// Stores dataLength bytes under valueName with the given type, byte for byte.
// 5 when the handle was opened without TREG_KEY_SET_VALUE. Other handles see the
// value at once; without Win32 it reaches the hive file when its handle is closed.
RegStatus RegistrySetValue(RegKey key, const char* valueName, uint32_t reserved, uint32_t type,
                           const uint8_t* data, uint32_t dataLength);

// Releases a handle. Without Win32 this is also where the handle's changes are written
// to the hive, atomically and under a lock shared with other processes: a non-zero
// result (5 access denied, 112 disk full, 29 write fault) then means none of them were
// stored. 6 for a handle that is not open; 0 for the predefined root.
RegStatus RegistryCloseKey(RegKey key);
