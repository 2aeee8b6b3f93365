// The two settings stores agree through a tool that is neither of them. On Linux this is
// tessarin-hive-export: it saves two records into the hive file under XDG_CONFIG_HOME
// and prints the file's path. On Windows the registry editor imports that file, and
// every value loads with the type and length the Windows build itself stores.

#include <cstdio>
#include <cstdlib>

#include "tests/support/TestSupport.h"

// The hive file writes two kinds of log file name differently: the longest the field
// holds (no NUL left after it: a quoted string), with the characters a registry file
// must escape or could misread; and a short one that NULs pad (hex(1) bytes).
const std::string kOddStart = "C:\\Capture Logs\\\"site=A\";run@1\\";
const std::pair<std::string, std::string> kRecords[] = {
    {"Software\\Varnolt\\TessarinTest\\LinuxHiveLongName",
     kOddStart + std::string(TESSARIN_LOG_FILE_FIELD - 5 - kOddStart.size(), 'x') + ".log"},
    {"Software\\Varnolt\\TessarinTest\\LinuxHiveShortName", "D:\\logs\\Tessarin.log"}};

#ifdef _WIN32
#include <gtest/gtest.h>

#include <process.h>
#include <windows.h>

TEST(WinHiveImport, RegistryEditorLoadsAllSixteenValuesWithTheirTypesAndLengths)
{
    // The prefix is new for every run, so no earlier import can stand in for this one.
    const char* hive = std::getenv("TESSARIN_LINUX_HIVE");
    ASSERT_TRUE(hive) << "scripts/test-windows names the hive in TESSARIN_LINUX_HIVE";
    const std::string quoted = std::string("\"") + hive + "\"";
    ASSERT_EQ(0, _spawnl(_P_WAIT, "C:\\Windows\\regedit.exe", "regedit", "/S", quoted.c_str(), nullptr));
    const auto typeAndLength = [](const std::string& key, const char* name) {
        DWORD type = 0, length = 0;
        RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr,
                     &length);
        return std::to_string(type) + "/" + std::to_string(length);
    };

    for (const auto& [keyPath, logFile] : kRecords) {
        SCOPED_TRACE(keyPath);
        CTessarinSettings expected(TREG_HKEY_CURRENT_USER, keyPath.c_str());
        CTessarinSettings loaded(TREG_HKEY_CURRENT_USER, keyPath.c_str());
        FillSettings(expected, logFile);
        ASSERT_TRUE(loaded.Load());
        EXPECT_EQ(SettingsTexts(expected), SettingsTexts(loaded));
        for (const SettingsDword& d : kSettingsDwords)
            EXPECT_EQ("4/4", typeAndLength(keyPath, d.name)) << d.name;   // REG_DWORD
        EXPECT_EQ("1/257", typeAndLength(keyPath, "strLogFile"));         // REG_SZ, the whole field
    }
}

#else

int main()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");   // never the user's own settings
    if (config == nullptr || config[0] != '/')
        return 2;
    for (const auto& [keyPath, logFile] : kRecords) {
        CTessarinSettings settings(TREG_HKEY_CURRENT_USER, keyPath.c_str());
        FillSettings(settings, logFile);
        if (!settings.Save())
            return 1;
    }
    std::printf("%s/tessarin/HKEY_CURRENT_USER.reg\n", config);
}

#endif
