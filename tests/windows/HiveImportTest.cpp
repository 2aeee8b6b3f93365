// The two backing stores agree through a tool that is neither of them: the hive file
// that the Linux build saves, imported by the registry editor, loads in the Windows
// build with every value, type and length the Windows build itself would have stored.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

#include "app/settings/RegistryKey.h"
#include "tests/windows/HiveValues.h"

namespace {

// Runs the registry editor's silent import; its exit code, or -1 when it did not run.
long ImportWithRegistryEditor(const std::string& file)
{
    std::string command = "regedit.exe /S \"" + file + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0
        || !GetExitCodeProcess(process.hProcess, &code))
        code = static_cast<DWORD>(-1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

// The stored type and length of a value, {0, 0} when it cannot be read.
std::pair<uint32_t, uint32_t> TypeAndLength(RegKey key, const char* name)
{
    uint32_t type = 0;
    uint32_t length = 0;
    if (RegistryQueryValue(key, name, nullptr, &type, nullptr, &length) != TREG_SUCCESS)
        return {0, 0};
    return {type, length};
}

}  // namespace

TEST(LinuxHiveOnWindows, RegistryEditorImportLoadsAllSixteenValues)
{
    const char* hive = std::getenv("TESSARIN_LINUX_HIVE");
    if (hive == nullptr || hive[0] == '\0')
        GTEST_SKIP() << "scripts/test-windows names the Linux-written hive in TESSARIN_LINUX_HIVE";

    // Keys left by an earlier run would hide an import that did nothing.
    const std::vector<HiveTestRecord> records = HiveTestRecords();
    for (const HiveTestRecord& record : records)
        RegDeleteTreeA(HKEY_CURRENT_USER, record.keyPath);
    ASSERT_EQ(0, ImportWithRegistryEditor(hive));

    for (const HiveTestRecord& record : records) {
        SCOPED_TRACE(record.keyPath);
        CTessarinSettings loaded(TREG_HKEY_CURRENT_USER, record.keyPath);
        ASSERT_TRUE(loaded.Load());
        CRegistryKey key;
        ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, record.keyPath, TREG_KEY_READ));
        for (const HiveTestDword& d : kHiveTestDwords) {
            EXPECT_EQ(d.value, loaded.*d.member) << d.name;
            EXPECT_EQ(std::make_pair(TREG_DWORD, 4u), TypeAndLength(key.Handle(), d.name)) << d.name;
        }
        EXPECT_EQ(record.logFile, loaded.m_szLogFile);
        EXPECT_EQ(std::make_pair(TREG_SZ, TESSARIN_LOG_FILE_FIELD),
                  TypeAndLength(key.Handle(), "strLogFile"));
        key.Close();
        RegDeleteTreeA(HKEY_CURRENT_USER, record.keyPath);
    }
}
