// The settings record through the five registry calls alone: what must hold against any
// registry, so this file builds for Windows too and runs there unchanged.

#include "app/settings/RegistryKey.h"
#include "tests/support/TestStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace std::string_literals;
using S = CTessarinSettings;

class SettingsRecord : public ::testing::Test {
protected:
    CTestStore m_store;

    CTessarinSettings Record() { return CTessarinSettings(TREG_HKEY_CURRENT_USER, m_store.KeyPath()); }
    CTessarinSettings Loaded()
    {
        CTessarinSettings s = Record();
        s.Load();
        return s;
    }
    // Windows counts a NUL that follows a text's data as part of it: callers testing
    // unterminated texts pass data followed by something else.
    void SetRaw(const char* name, uint32_t type, const char* data, size_t length)
    {
        CRegistryKey key;
        key.Create(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), nullptr, 0, TREG_KEY_WRITE, nullptr);
        EXPECT_EQ(TREG_SUCCESS, RegistrySetValue(key.Handle(), name, 0, type,
                                                 reinterpret_cast<const uint8_t*>(data), uint32_t(length)));
        EXPECT_EQ(TREG_SUCCESS, key.Close()) << name;
    }
    // The stored type and bytes as "type:bytes".
    std::string GetRaw(const char* name)
    {
        CRegistryKey key;
        key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ);
        char data[300] = {};
        uint32_t type = 0, length = sizeof data;
        RegistryQueryValue(key.Handle(), name, nullptr, &type, reinterpret_cast<uint8_t*>(data), &length);
        return std::to_string(type) + ":" + std::string(data, length);
    }
};

TEST_F(SettingsRecord, SixteenValuesUnderTheirNamesTypesAndLengthsOrTheirDefaults)
{
    // No key yet: the load resets what the record held. (The hive test spells the defaults.)
    CTessarinSettings s = Record();
    FillSettings(s, "changed.log");
    EXPECT_FALSE(s.Load());
    EXPECT_EQ(SettingsTexts(Record()), SettingsTexts(s));

    FillSettings(s, std::string(256, 'p'));
    ASSERT_TRUE(s.Save());
    for (const SettingsDword& d : kSettingsDwords)
        EXPECT_EQ("4:"s + char(d.other) + char(d.other >> 8) + char(d.other >> 16) + char(d.other >> 24),
                  GetRaw(d.name));
    EXPECT_EQ(SettingsTexts(s), SettingsTexts(Loaded()));

    // The text field is stored whole, terminated and zero after the text, whatever the
    // buffer held: stale bytes must not reach the store.
    const std::string path = "C:\\logs\\a.log";
    const struct {
        std::string buffer, text;
    } fields[] = {{path + '\0' + std::string(256 - path.size(), 's'), path},
                  {std::string(257, 'x'), std::string(256, 'x')}};
    for (const auto& f : fields) {
        std::memcpy(s.m_szLogFile, f.buffer.data(), sizeof s.m_szLogFile);
        ASSERT_TRUE(s.Save());
        EXPECT_EQ("1:" + f.text + std::string(257 - f.text.size(), '\0'), GetRaw("strLogFile"));
        EXPECT_EQ(f.text, Loaded().m_szLogFile);
    }
    const std::string longest(256, 'q');   // and one more is refused, changing nothing
    EXPECT_TRUE(s.SetLogFile(longest.c_str()) && !s.SetLogFile((longest + 'r').c_str()) &&
                s.m_szLogFile == longest);
}

TEST_F(SettingsRecord, StoredDataOfAnyTypeOrLengthLoadsSafely)
{
    // Each shorter than the one before, so a buffer kept between queries would show the
    // earlier high bytes. Up to four bytes read little-endian; longer data is the default.
    const struct {
        uint32_t S::*member;
        const char* name;
        uint32_t type;
        std::string data;
        uint32_t expected;
    } dwords[] = {
        {&S::m_nChkParam, "chkParam", TREG_DWORD, "\xff\xff\xff\xff", 0xFFFFFFFFu},
        {&S::m_nChkBroadcast, "chkBroadcast", TREG_BINARY, "\x05", 5},
        {&S::m_nDestAddrRefN, "destAddrRefN", TREG_BINARY, "\x01\x02\x03", 0x030201},
        {&S::m_nXPos, "xPos", TREG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08", 0},
        {&S::m_nYPos, "yPos", TREG_SZ, "5\0"s, 0x35},
        {&S::m_nDestAddrBlindN, "destAddrBlindN", TREG_BINARY, "", 0},
    };
    for (const auto& d : dwords)
        SetRaw(d.name, d.type, d.data.data(), d.data.size());
    CTessarinSettings s = Record();
    s.m_nA = 5;   // missing from the store: reset, not kept
    EXPECT_TRUE(s.Load());
    EXPECT_EQ(0u, s.m_nA);
    for (const auto& d : dwords)
        EXPECT_EQ(d.expected, s.*d.member) << d.name;

    // The text: characters before the NUL (or all the data without one), and what loads.
    const std::string t256(256, 'a');
    const struct {
        size_t length;
        bool bNul;
        std::string expected;
    } texts[] = {{256, true, t256},
                 {257, false, t256},
                 {257, true, "Tessarin.log"},
                 {5, false, "aaaaa"},
                 {0, true, ""}};
    for (const auto& t : texts) {
        std::string buffer(t.length + 2, 'a');
        buffer[t.length] = t.bNul ? '\0' : 'a';
        SetRaw("strLogFile", TREG_SZ, buffer.data(), t.length + t.bNul);
        EXPECT_EQ(t.expected, Loaded().m_szLogFile) << t.length << (t.bNul ? " and a NUL" : " without a NUL");
    }
}

class CHookedSettings : public CTessarinSettings {
public:
    using CTessarinSettings::CTessarinSettings;
    // The mode is stored only if the save hook runs before the values are written; the
    // load hook must see the values in place.
    void OnBeforeSave() override
    {
        m_strCalls += "save ";
        m_nMode = 1;
    }
    void OnAfterLoad() override { m_strCalls += "load " + std::to_string(m_nXPos); }
    std::string m_strCalls;
};

TEST_F(SettingsRecord, ExchangeCallsItsHooksAndStopsAtAFailedWrite)
{
    CHookedSettings s(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    s.m_nXPos = 42;
    CHookedSettings loaded(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    ASSERT_TRUE(s.Save() && loaded.Load());
    EXPECT_EQ(1u, loaded.m_nMode);
    EXPECT_EQ(TREG_SUCCESS, loaded.Exchange(nullptr, false, true));   // a reset calls no hook
    EXPECT_EQ(0u, loaded.m_nXPos);
    EXPECT_EQ("save |load 42", s.m_strCalls + "|" + loaded.m_strCalls);

    // A save through a key without write access fails with the write's code, storing nothing.
    CRegistryKey key;
    ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    loaded.m_nChkParam = 9;
    EXPECT_EQ(TREG_ACCESS_DENIED, loaded.Exchange(key.Handle(), true, false));
    EXPECT_EQ(TREG_SUCCESS, key.Close());
    EXPECT_EQ(0u, Loaded().m_nChkParam);
}

}   // namespace
