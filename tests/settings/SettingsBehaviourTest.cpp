// How the settings record and the registry calls behave, through the registry calls
// alone: these bodies build for Windows too and must pass there against the real
// registry, unchanged.

#include "app/RegistryKey.h"
#include "app/TessarinSettings.h"
#include "platform/Registry.h"
#include "tests/settings/TestStore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kDwordNames[15] = {
    "chkParam", "chkBroadcast", "destAddrRefN", "xPos", "yPos",
    "destAddrBlindN", "A", "nIndex", "mode", "collectTime",
    "cycleTime", "reportShortAddr", "reportEndpoint", "minRefNodes", "appendToLogFile",
};

uint32_t CTessarinSettings::*const kMembers[15] = {
    &CTessarinSettings::m_nChkParam, &CTessarinSettings::m_nChkBroadcast,
    &CTessarinSettings::m_nDestAddrRefN, &CTessarinSettings::m_nXPos,
    &CTessarinSettings::m_nYPos, &CTessarinSettings::m_nDestAddrBlindN,
    &CTessarinSettings::m_nA, &CTessarinSettings::m_nIndex, &CTessarinSettings::m_nMode,
    &CTessarinSettings::m_nCollectTime, &CTessarinSettings::m_nCycleTime,
    &CTessarinSettings::m_nReportShortAddr, &CTessarinSettings::m_nReportEndpoint,
    &CTessarinSettings::m_nMinRefNodes, &CTessarinSettings::m_nAppendToLogFile,
};

struct RawValue {
    RegStatus status = -1;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

class SettingsTest : public ::testing::Test {
protected:
    CTestStore m_store;

    void SetRaw(const char* name, uint32_t type, const void* data, uint32_t length)
    {
        CRegistryKey key;
        ASSERT_EQ(TREG_SUCCESS, key.Create(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), nullptr,
                                           TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr));
        ASSERT_EQ(TREG_SUCCESS, RegistrySetValue(key.Handle(), name, 0, type,
                                                 static_cast<const uint8_t*>(data), length));
        ASSERT_EQ(TREG_SUCCESS, key.Close());
    }

    void SetRawDword(const char* name, uint32_t value)
    {
        const uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
        SetRaw(name, TREG_DWORD, b, 4);
    }

    RawValue GetRaw(const char* name)
    {
        RawValue v;
        CRegistryKey key;
        v.status = key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ);
        if (v.status != TREG_SUCCESS)
            return v;
        uint32_t length = 0;
        v.status = RegistryQueryValue(key.Handle(), name, nullptr, &v.type, nullptr, &length);
        if (v.status != TREG_SUCCESS)
            return v;
        v.data.resize(length);
        v.status = RegistryQueryValue(key.Handle(), name, nullptr, &v.type, v.data.data(), &length);
        return v;
    }

    CTessarinSettings Loaded()
    {
        CTessarinSettings s(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
        s.Load();
        return s;
    }
};

TEST_F(SettingsTest, FirstStartWithoutKeyGivesDefaultsAndCreatesNothing)
{
    CTessarinSettings s(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    s.m_nChkParam = 7;
    s.SetLogFile("other.log");
    EXPECT_FALSE(s.Load());
    for (auto m : kMembers)
        EXPECT_EQ(0u, s.*m);
    EXPECT_STREQ("Tessarin.log", s.m_szLogFile);

    CRegistryKey key;
    EXPECT_EQ(TREG_FILE_NOT_FOUND, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    EXPECT_EQ(nullptr, key.Handle());
}

TEST_F(SettingsTest, EveryValueRoundTripsIncludingTopBitAndFullLengthPath)
{
    CTessarinSettings out(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    for (int i = 0; i < 15; ++i)
        out.*kMembers[i] = 0x80000000u | uint32_t(i * 0x01010101u + 1);
    out.m_nMinRefNodes = 0xFFFFFFFFu;
    const std::string path(256, 'p');
    ASSERT_TRUE(out.SetLogFile(path.c_str()));
    EXPECT_FALSE(out.SetLogFile(std::string(257, 'q').c_str()));
    EXPECT_EQ(path, out.m_szLogFile);
    ASSERT_TRUE(out.Save());

    CTessarinSettings in = Loaded();
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(out.*kMembers[i], in.*kMembers[i]) << kDwordNames[i];
    EXPECT_EQ(path, in.m_szLogFile);

    // Every name exists with the type and length it was written with.
    for (const char* name : kDwordNames) {
        RawValue v = GetRaw(name);
        EXPECT_EQ(TREG_SUCCESS, v.status) << name;
        EXPECT_EQ(TREG_DWORD, v.type) << name;
        EXPECT_EQ(4u, v.data.size()) << name;
    }
    RawValue log = GetRaw("strLogFile");
    EXPECT_EQ(TREG_SZ, log.type);
    EXPECT_EQ(257u, log.data.size());

    // A short path is still stored as the whole field, NUL-padded.
    CTessarinSettings shortPath = Loaded();
    ASSERT_TRUE(shortPath.SetLogFile("C:\\logs\\a.log"));
    ASSERT_TRUE(shortPath.Save());
    log = GetRaw("strLogFile");
    ASSERT_EQ(257u, log.data.size());
    EXPECT_EQ(std::string("C:\\logs\\a.log"), reinterpret_cast<const char*>(log.data.data()));
    for (size_t i = std::strlen("C:\\logs\\a.log"); i < 257; ++i)
        EXPECT_EQ(0, log.data[i]) << i;
    EXPECT_STREQ("C:\\logs\\a.log", Loaded().m_szLogFile);
}

TEST_F(SettingsTest, ValuesOfOtherTypesAndLengthsLoadAsTheyMust)
{
    // Over four bytes: the query does not fit, the value takes 0.
    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SetRaw("xPos", TREG_BINARY, eight, 8);
    SetRaw("collectTime", TREG_QWORD, eight, 8);
    // At most four bytes of another type: byte for byte, little-endian, rest 0.
    SetRaw("yPos", TREG_SZ, "5", 2);
    SetRaw("A", TREG_BINARY, eight, 3);
    SetRaw("nIndex", TREG_DWORD, "\xFF\x7F", 2);
    SetRaw("mode", TREG_BINARY, eight, 0);
    // A plain value with the top bit set, and one that is missing (chkParam).
    SetRawDword("cycleTime", 0x80000001u);
    SetRawDword("appendToLogFile", 1);
    // A text that needs more than the field: the default name.
    std::string longText(300, 'L');
    SetRaw("strLogFile", TREG_SZ, longText.c_str(), uint32_t(longText.size() + 1));

    CTessarinSettings s(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    s.m_nChkParam = 5;   // a missing value is reset, not kept
    EXPECT_TRUE(s.Load());
    EXPECT_EQ(0u, s.m_nXPos);
    EXPECT_EQ(0u, s.m_nCollectTime);
    EXPECT_EQ(0x35u, s.m_nYPos);
    EXPECT_EQ(0x030201u, s.m_nA);
    EXPECT_EQ(0x7FFFu, s.m_nIndex);
    EXPECT_EQ(0u, s.m_nMode);
    EXPECT_EQ(0x80000001u, s.m_nCycleTime);
    EXPECT_EQ(1u, s.m_nAppendToLogFile);
    EXPECT_EQ(0u, s.m_nChkParam);
    EXPECT_STREQ("Tessarin.log", s.m_szLogFile);

    // The type a value was stored with is what a query reports.
    EXPECT_EQ(TREG_SZ, GetRaw("yPos").type);
    EXPECT_EQ(TREG_QWORD, GetRaw("collectTime").type);
}

TEST_F(SettingsTest, LogFileFieldEdges)
{
    struct Case {
        const char* what;
        size_t textLength;   // characters before the NUL, or all of the data without one
        bool bNul;
        std::string expected;
    };
    const std::string t256(256, 'a');
    const Case cases[] = {
        {"256 characters and the NUL fit exactly", 256, true, t256},
        {"257 characters without a NUL read as 256", 257, false, t256},
        {"257 characters and the NUL do not fit", 257, true, "Tessarin.log"},
        {"a short text without a NUL is terminated", 5, false, "aaaaa"},
        {"an empty text stays empty", 0, true, ""},
    };
    for (const Case& c : cases) {
        // One byte beyond the data, never a NUL: Windows counts a NUL that follows the
        // data as part of a REG_SZ, which would change the case under test.
        std::vector<char> buf(c.textLength + 2, 'a');
        buf[c.textLength] = c.bNul ? '\0' : 'a';
        SetRaw("strLogFile", TREG_SZ, buf.data(), uint32_t(c.textLength + (c.bNul ? 1 : 0)));
        CTessarinSettings s = Loaded();
        EXPECT_EQ(c.expected, s.m_szLogFile) << c.what;
        EXPECT_EQ('\0', s.m_szLogFile[256]) << c.what;
    }
}

TEST_F(SettingsTest, SaveWritesBackWhatItLoadedAndLastSaveWins)
{
    CTessarinSettings first(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    first.m_nXPos = 100;
    first.m_nDestAddrRefN = 0x1234;
    ASSERT_TRUE(first.Save());

    CTessarinSettings command = Loaded();
    SetRawDword("xPos", 999);   // another program, between the command's load and save
    command.m_nChkParam = 1;
    ASSERT_TRUE(command.Save());

    CTessarinSettings after = Loaded();
    EXPECT_EQ(1u, after.m_nChkParam);
    EXPECT_EQ(100u, after.m_nXPos);
    EXPECT_EQ(0x1234u, after.m_nDestAddrRefN);
}

class CHookedSettings : public CTessarinSettings {
public:
    using CTessarinSettings::CTessarinSettings;
    void OnBeforeSave() override
    {
        ++m_nBeforeSave;
        m_nMode = 1;   // proves the hook runs before the values are written
    }
    void OnAfterLoad() override
    {
        ++m_nAfterLoad;
        m_nSeenXPos = m_nXPos;   // proves the values are in place when it runs
    }
    int m_nBeforeSave = 0;
    int m_nAfterLoad = 0;
    uint32_t m_nSeenXPos = 0;
};

TEST_F(SettingsTest, ExchangeModesCallTheirHooksAndReturnTheirResults)
{
    CHookedSettings s(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    s.m_nXPos = 42;
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(1, s.m_nBeforeSave);
    EXPECT_EQ(0, s.m_nAfterLoad);

    CHookedSettings loaded(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    ASSERT_TRUE(loaded.Load());
    EXPECT_EQ(1, loaded.m_nAfterLoad);
    EXPECT_EQ(42u, loaded.m_nSeenXPos);
    EXPECT_EQ(1u, loaded.m_nMode);
    EXPECT_EQ(0, loaded.m_nBeforeSave);

    // Reset: defaults, no hook, no registry, 0.
    EXPECT_EQ(TREG_SUCCESS, loaded.Exchange(nullptr, false, true));
    EXPECT_EQ(0u, loaded.m_nXPos);
    EXPECT_STREQ("Tessarin.log", loaded.m_szLogFile);
    EXPECT_EQ(1, loaded.m_nAfterLoad);
    EXPECT_EQ(0, loaded.m_nBeforeSave);

    // Load's result is that of "strLogFile" alone.
    CRegistryKey key;
    ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    EXPECT_EQ(TREG_SUCCESS, loaded.Exchange(key.Handle(), false, false));
    std::string tooLong(400, 'x');
    SetRaw("strLogFile", TREG_SZ, tooLong.c_str(), uint32_t(tooLong.size()));
    ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    EXPECT_EQ(TREG_MORE_DATA, loaded.Exchange(key.Handle(), false, false));
    EXPECT_EQ(42u, loaded.m_nXPos);

    // A save through a key without write access stops at the first write, with its code.
    loaded.m_nChkParam = 9;
    EXPECT_EQ(TREG_ACCESS_DENIED, loaded.Exchange(key.Handle(), true, false));
    EXPECT_EQ(TREG_SUCCESS, key.Close());
    EXPECT_EQ(0u, Loaded().m_nChkParam);
}

TEST_F(SettingsTest, RegistryKeyHolderOpensCreatesAndCloses)
{
    CRegistryKey key;
    EXPECT_EQ(TREG_SUCCESS, key.Close());   // nothing held
    EXPECT_EQ(TREG_FILE_NOT_FOUND, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));

    uint32_t disposition = 0;
    ASSERT_EQ(TREG_SUCCESS, key.Create(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), nullptr,
                                       TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr,
                                       &disposition));
    EXPECT_EQ(TREG_CREATED_NEW_KEY, disposition);
    RegKey first = key.Handle();
    ASSERT_NE(nullptr, first);

    // A new key replaces the one held, which is closed.
    ASSERT_EQ(TREG_SUCCESS, key.Create(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), nullptr,
                                       TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr,
                                       &disposition));
    EXPECT_EQ(TREG_OPENED_EXISTING_KEY, disposition);
    EXPECT_NE(nullptr, key.Handle());

    // A failure keeps the key held; the disposition is handed back anyway.
    RegKey held = key.Handle();
    disposition = 77;
    EXPECT_EQ(TREG_BAD_PATHNAME, key.Create(TREG_HKEY_CURRENT_USER, "\\Leading", nullptr,
                                            TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr,
                                            &disposition));
    EXPECT_NE(77u, disposition);
    EXPECT_EQ(held, key.Handle());
    EXPECT_EQ(TREG_SUCCESS, key.Close());
    EXPECT_EQ(nullptr, key.Handle());
    EXPECT_EQ(TREG_SUCCESS, key.Close());

    // Key names ignore case, and the key exists for readers once created.
    std::string upper = m_store.KeyPath();
    for (char& c : upper)
        c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    EXPECT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, upper.c_str(), TREG_KEY_READ));
}

TEST_F(SettingsTest, QueryFollowsTheWin32Rules)
{
    SetRaw("text", TREG_SZ, "abcdef", 6);   // stored without its NUL
    SetRaw("bin", TREG_BINARY, "\x01\x02\x03\x04\x05", 5);
    CRegistryKey key;
    ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    RegKey k = key.Handle();

    uint32_t type = 0;
    uint32_t length = 0;
    // No buffer: the length only. Windows may count a NUL of its own for a string.
    ASSERT_EQ(TREG_SUCCESS, RegistryQueryValue(k, "bin", nullptr, &type, nullptr, &length));
    EXPECT_EQ(5u, length);
    EXPECT_EQ(TREG_BINARY, type);

    // Too little room: 234 and the length needed.
    uint8_t buf[16];
    length = 4;
    EXPECT_EQ(TREG_MORE_DATA, RegistryQueryValue(k, "bin", nullptr, &type, buf, &length));
    EXPECT_EQ(5u, length);

    // A string without its NUL gets one when there is room.
    std::memset(buf, 'z', sizeof buf);
    length = sizeof buf;
    ASSERT_EQ(TREG_SUCCESS, RegistryQueryValue(k, "text", nullptr, &type, buf, &length));
    EXPECT_EQ(TREG_SZ, type);
    EXPECT_STREQ("abcdef", reinterpret_cast<const char*>(buf));

    // Value names ignore case; a missing value is 2.
    length = sizeof buf;
    EXPECT_EQ(TREG_SUCCESS, RegistryQueryValue(k, "BIN", nullptr, nullptr, buf, &length));
    length = sizeof buf;
    EXPECT_EQ(TREG_FILE_NOT_FOUND, RegistryQueryValue(k, "none", nullptr, &type, buf, &length));
    // A buffer without a length is refused.
    EXPECT_EQ(TREG_INVALID_PARAMETER, RegistryQueryValue(k, "bin", nullptr, &type, buf, nullptr));
    // A read key cannot write.
    EXPECT_EQ(TREG_ACCESS_DENIED, RegistrySetValue(k, "bin", 0, TREG_BINARY, buf, 1));
    EXPECT_EQ(TREG_SUCCESS, key.Close());
}

}  // namespace
