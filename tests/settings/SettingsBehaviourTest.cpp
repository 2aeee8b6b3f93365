// How the settings record and the registry calls behave, through the registry calls
// alone: these bodies build for Windows too and must pass there against the real
// registry, unchanged.

#include "app/settings/RegistryKey.h"
#include "app/settings/TessarinSettings.h"
#include "platform/Registry.h"
#include "tests/settings/TestStore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using S = CTessarinSettings;
struct Dword {
    const char* name;
    uint32_t S::*member;
};
// The stored names, in order: other programs and older records use them.
const Dword kDwords[15] = {
    {"chkParam", &S::m_nChkParam}, {"chkBroadcast", &S::m_nChkBroadcast},
    {"destAddrRefN", &S::m_nDestAddrRefN}, {"xPos", &S::m_nXPos}, {"yPos", &S::m_nYPos},
    {"destAddrBlindN", &S::m_nDestAddrBlindN}, {"A", &S::m_nA}, {"nIndex", &S::m_nIndex},
    {"mode", &S::m_nMode}, {"collectTime", &S::m_nCollectTime}, {"cycleTime", &S::m_nCycleTime},
    {"reportShortAddr", &S::m_nReportShortAddr}, {"reportEndpoint", &S::m_nReportEndpoint},
    {"minRefNodes", &S::m_nMinRefNodes}, {"appendToLogFile", &S::m_nAppendToLogFile},
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

    // The stored type and data, 0 and "" when missing.
    uint32_t GetRaw(const char* name, std::string* data)
    {
        CRegistryKey key;
        key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ);
        uint32_t type = 0;
        uint32_t length = 0;
        if (RegistryQueryValue(key.Handle(), name, nullptr, &type, nullptr, &length) != TREG_SUCCESS)
            return 0;
        data->resize(length);
        RegistryQueryValue(key.Handle(), name, nullptr, &type, reinterpret_cast<uint8_t*>(&(*data)[0]), &length);
        data->resize(length);
        return type;
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
    for (const Dword& d : kDwords)
        EXPECT_EQ(0u, s.*d.member) << d.name;
    EXPECT_STREQ("Tessarin.log", s.m_szLogFile);
    CRegistryKey key;
    EXPECT_EQ(TREG_FILE_NOT_FOUND, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
}

// The stored layout other programs read: fifteen 4-byte DWORDs and the whole 257-byte
// text field, zero after the text.
TEST_F(SettingsTest, EveryValueRoundTripsInTheStoredLayout)
{
    CTessarinSettings out(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    for (int i = 0; i < 15; ++i)
        out.*kDwords[i].member = 0x80000000u | uint32_t(i * 0x01010101u + 1);
    const std::string path(256, 'p');
    ASSERT_TRUE(out.SetLogFile(path.c_str()));
    EXPECT_FALSE(out.SetLogFile(std::string(257, 'q').c_str()));
    ASSERT_TRUE(out.Save());

    CTessarinSettings in = Loaded();
    std::string data;
    for (const Dword& d : kDwords) {
        EXPECT_EQ(out.*d.member, in.*d.member) << d.name;
        EXPECT_EQ(TREG_DWORD, GetRaw(d.name, &data)) << d.name;
        EXPECT_EQ(4u, data.size()) << d.name;
    }
    EXPECT_EQ(path, in.m_szLogFile);

    // A shorter text written over a longer one, as code that fills the field directly
    // would: the stale bytes after its NUL must not reach the store.
    const std::string shortPath = "C:\\logs\\a.log";
    std::strcpy(in.m_szLogFile, shortPath.c_str());
    ASSERT_TRUE(in.Save());
    EXPECT_EQ(TREG_SZ, GetRaw("strLogFile", &data));
    EXPECT_EQ(shortPath + std::string(257 - shortPath.size(), '\0'), data);

    // A field filled to the end without a NUL is stored terminated, and reads back.
    std::memset(in.m_szLogFile, 'x', sizeof in.m_szLogFile);
    ASSERT_TRUE(in.Save());
    EXPECT_EQ(std::string(256, 'x'), Loaded().m_szLogFile);
}

TEST_F(SettingsTest, StoredValuesOfAnyTypeOrLengthLoadSafely)
{
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        uint32_t S::*member;
        const char* name;
        uint32_t type;
        const void* data;
        uint32_t length;
        uint32_t expected;
    };
    // Up to four bytes of any type: little-endian, the rest 0; longer: the default.
    const Case cases[] = {
        {&S::m_nXPos, "xPos", TREG_QWORD, bytes, 8, 0},
        {&S::m_nYPos, "yPos", TREG_SZ, "5", 2, 0x35},
        {&S::m_nA, "A", TREG_BINARY, bytes, 3, 0x030201},
        {&S::m_nMode, "mode", TREG_BINARY, bytes, 0, 0},
    };
    for (const Case& c : cases)
        SetRaw(c.name, c.type, c.data, c.length);
    CTessarinSettings s(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    s.m_nChkParam = 5;   // missing from the store: reset, not kept
    EXPECT_TRUE(s.Load());
    EXPECT_EQ(0u, s.m_nChkParam);
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, s.*c.member) << c.name;

    struct Text {
        const char* what;
        size_t textLength;   // characters before the NUL, or all of the data without one
        bool bNul;
        std::string expected;
    };
    const std::string t256(256, 'a');
    const Text texts[] = {
        {"256 characters and the NUL fit exactly", 256, true, t256},
        {"257 characters without a NUL read as 256", 257, false, t256},
        {"257 characters and the NUL do not fit", 257, true, "Tessarin.log"},
        {"a short text without a NUL is terminated", 5, false, "aaaaa"},
        {"an empty text stays empty", 0, true, ""},
    };
    for (const Text& t : texts) {
        // One byte beyond the data, never a NUL: Windows counts a NUL that follows the
        // data as part of a REG_SZ, which would change the case under test.
        std::vector<char> buf(t.textLength + 2, 'a');
        buf[t.textLength] = t.bNul ? '\0' : 'a';
        SetRaw("strLogFile", TREG_SZ, buf.data(), uint32_t(t.textLength + (t.bNul ? 1 : 0)));
        CTessarinSettings loaded = Loaded();
        EXPECT_EQ(t.expected, loaded.m_szLogFile) << t.what;
        EXPECT_EQ('\0', loaded.m_szLogFile[256]) << t.what;
    }
}

// No shared copy: a save writes back the whole record as it was loaded, over what
// another program stored in between.
TEST_F(SettingsTest, SaveWritesBackWhatItLoaded)
{
    CTessarinSettings first(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    first.m_nXPos = 100;
    ASSERT_TRUE(first.Save());
    CTessarinSettings command = Loaded();
    SetRaw("xPos", TREG_DWORD, "\xE7\x03\x00\x00", 4);
    command.m_nChkParam = 1;
    ASSERT_TRUE(command.Save());
    CTessarinSettings after = Loaded();
    EXPECT_EQ(1u, after.m_nChkParam);
    EXPECT_EQ(100u, after.m_nXPos);
}

class CHookedSettings : public CTessarinSettings {
public:
    using CTessarinSettings::CTessarinSettings;
    // The mode is stored only if the save hook runs before the values are written; the
    // load hook must see the values in place.
    void OnBeforeSave() override { m_strCalls += "save "; m_nMode = 1; }
    void OnAfterLoad() override { m_strCalls += "load "; m_nSeenXPos = m_nXPos; }
    std::string m_strCalls;
    uint32_t m_nSeenXPos = 0;
};

TEST_F(SettingsTest, ExchangeModesCallTheirHooksAndReturnTheirResults)
{
    CHookedSettings s(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    s.m_nXPos = 42;
    ASSERT_TRUE(s.Save());
    CHookedSettings loaded(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    ASSERT_TRUE(loaded.Load());
    EXPECT_EQ(42u, loaded.m_nSeenXPos);
    EXPECT_EQ(1u, loaded.m_nMode);
    EXPECT_EQ(TREG_SUCCESS, loaded.Exchange(nullptr, false, true));   // a reset calls no hook
    EXPECT_EQ(0u, loaded.m_nXPos);
    EXPECT_EQ("save ", s.m_strCalls);
    EXPECT_EQ("load ", loaded.m_strCalls);

    // A load's result is that of "strLogFile" alone; the other values still load.
    CRegistryKey key;
    ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    EXPECT_EQ(TREG_SUCCESS, loaded.Exchange(key.Handle(), false, false));
    std::string tooLong(400, 'x');
    SetRaw("strLogFile", TREG_SZ, tooLong.c_str(), uint32_t(tooLong.size()));
    EXPECT_EQ(TREG_MORE_DATA, loaded.Exchange(key.Handle(), false, false));
    EXPECT_EQ(42u, loaded.m_nXPos);

    // A save through a key without write access stops at the first write, with its code.
    loaded.m_nChkParam = 9;
    EXPECT_EQ(TREG_ACCESS_DENIED, loaded.Exchange(key.Handle(), true, false));
    EXPECT_EQ(TREG_SUCCESS, key.Close());
    EXPECT_EQ(0u, Loaded().m_nChkParam);
}

TEST_F(SettingsTest, RegistryKeyHolderKeepsItsKeyThroughAFailure)
{
    CRegistryKey key;
    EXPECT_EQ(TREG_SUCCESS, key.Close());   // nothing held
    EXPECT_EQ(TREG_FILE_NOT_FOUND, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    uint32_t disposition = 0;
    for (uint32_t expected : {TREG_CREATED_NEW_KEY, TREG_OPENED_EXISTING_KEY}) {
        ASSERT_EQ(TREG_SUCCESS, key.Create(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), nullptr,
                                           TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr,
                                           &disposition));
        EXPECT_EQ(expected, disposition);
    }
    RegKey held = key.Handle();
    ASSERT_NE(nullptr, held);
    disposition = 77;
    EXPECT_EQ(TREG_BAD_PATHNAME, key.Create(TREG_HKEY_CURRENT_USER, "\\Leading", nullptr,
                                            TREG_OPTION_NON_VOLATILE, TREG_KEY_WRITE, nullptr,
                                            &disposition));
    EXPECT_NE(77u, disposition);   // handed back whatever the result
    EXPECT_EQ(held, key.Handle());
    EXPECT_EQ(TREG_SUCCESS, key.Close());
    EXPECT_EQ(nullptr, key.Handle());
}

// The rules the record's load relies on, here as in Win32: MORE_DATA for a value past
// the caller's room (tested above) and these.
TEST_F(SettingsTest, QueryFollowsTheWin32Rules)
{
    SetRaw("bin", TREG_BINARY, "\x01\x02\x03\x04\x05", 5);
    CRegistryKey key;
    ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    uint32_t type = 0;
    uint32_t length = 0;
    ASSERT_EQ(TREG_SUCCESS, RegistryQueryValue(key.Handle(), "BIN", nullptr, &type, nullptr, &length));
    EXPECT_EQ(5u, length);
    EXPECT_EQ(TREG_BINARY, type);
    uint8_t buf[16];
    length = sizeof buf;
    EXPECT_EQ(TREG_FILE_NOT_FOUND, RegistryQueryValue(key.Handle(), "none", nullptr, &type, buf, &length));
    EXPECT_EQ(TREG_INVALID_PARAMETER, RegistryQueryValue(key.Handle(), "bin", nullptr, &type, buf, nullptr));
}

}  // namespace
