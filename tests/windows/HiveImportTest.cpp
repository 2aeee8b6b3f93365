// The two backing stores agree through a tool that is neither of them: the hive file
// that the Linux build saves, imported by the registry editor, loads in the Windows
// build with every value, type and length the Windows build itself would have stored.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include "app/RegistryKey.h"
#include "tests/windows/HiveValues.h"

namespace {

const char* const kDwordNames[] = {
    "chkParam", "chkBroadcast", "destAddrRefN", "xPos", "yPos",
    "destAddrBlindN", "A", "nIndex", "mode", "collectTime",
    "cycleTime", "reportShortAddr", "reportEndpoint", "minRefNodes", "appendToLogFile",
};

// Runs the registry editor's silent import; its exit code, or -1 when it did not run.
long ImportWithRegistryEditor(const std::string& file)
{
    std::string command = "regedit.exe /S \"" + file + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
        CTessarinSettings expected(TREG_HKEY_CURRENT_USER, record.keyPath);
        FillHiveTestValues(expected, record.logFile);
        CTessarinSettings loaded(TREG_HKEY_CURRENT_USER, record.keyPath);
        ASSERT_TRUE(loaded.Load());
        EXPECT_EQ(expected.m_nChkParam, loaded.m_nChkParam);
        EXPECT_EQ(expected.m_nChkBroadcast, loaded.m_nChkBroadcast);
        EXPECT_EQ(expected.m_nDestAddrRefN, loaded.m_nDestAddrRefN);
        EXPECT_EQ(expected.m_nXPos, loaded.m_nXPos);
        EXPECT_EQ(expected.m_nYPos, loaded.m_nYPos);
        EXPECT_EQ(expected.m_nDestAddrBlindN, loaded.m_nDestAddrBlindN);
        EXPECT_EQ(expected.m_nA, loaded.m_nA);
        EXPECT_EQ(expected.m_nIndex, loaded.m_nIndex);
        EXPECT_EQ(expected.m_nMode, loaded.m_nMode);
        EXPECT_EQ(expected.m_nCollectTime, loaded.m_nCollectTime);
        EXPECT_EQ(expected.m_nCycleTime, loaded.m_nCycleTime);
        EXPECT_EQ(expected.m_nReportShortAddr, loaded.m_nReportShortAddr);
        EXPECT_EQ(expected.m_nReportEndpoint, loaded.m_nReportEndpoint);
        EXPECT_EQ(expected.m_nMinRefNodes, loaded.m_nMinRefNodes);
        EXPECT_EQ(expected.m_nAppendToLogFile, loaded.m_nAppendToLogFile);
        EXPECT_EQ(record.logFile, loaded.m_szLogFile);

        // Stored as the Windows build stores them: types, and the whole field's length.
        CRegistryKey key;
        ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, record.keyPath, TREG_KEY_READ));
        for (const char* name : kDwordNames) {
            uint32_t type = 0;
            uint32_t length = 0;
            ASSERT_EQ(TREG_SUCCESS,
                      RegistryQueryValue(key.Handle(), name, nullptr, &type, nullptr, &length))
                << name;
            EXPECT_EQ(TREG_DWORD, type) << name;
            EXPECT_EQ(4u, length) << name;
        }
        uint32_t type = 0;
        uint32_t length = 0;
        ASSERT_EQ(TREG_SUCCESS,
                  RegistryQueryValue(key.Handle(), "strLogFile", nullptr, &type, nullptr, &length));
        EXPECT_EQ(TREG_SZ, type);
        EXPECT_EQ(TESSARIN_LOG_FILE_FIELD, length);
        key.Close();
        RegDeleteTreeA(HKEY_CURRENT_USER, record.keyPath);
    }
}
