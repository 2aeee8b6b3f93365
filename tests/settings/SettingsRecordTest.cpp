// The settings record through the five registry calls alone: what must hold against any
// registry, so this file builds for Windows too and runs there unchanged.

#include "app/settings/RegistryKey.h"
#include "tests/support/TestStore.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

using namespace std::string_literals;
using S = CTessarinSettings;

class SettingsRecord : public ::testing::Test {
protected:
    CTestStore m_store;

    CTessarinSettings Record() { return CTessarinSettings(TREG_HKEY_CURRENT_USER, m_store.KeyPath()); }
    // Windows counts a NUL that follows a text's data as part of it, so the data is passed
    // followed by something else.
    void SetRaw(const char* name, uint32_t type, std::string data)
    {
        CRegistryKey key;
        key.Create(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), nullptr, 0, TREG_KEY_WRITE, nullptr);
        data += 'x';
        EXPECT_EQ(TREG_SUCCESS,
                  RegistrySetValue(key.Handle(), name, 0, type, reinterpret_cast<const uint8_t*>(data.data()),
                                   uint32_t(data.size() - 1)));
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

TEST_F(SettingsRecord, LoadsAnyStoredDataSafelyStoresWholeAndCallsItsHooks)
{
    // No key yet: the load resets what the record held. (The hive test spells the defaults.)
    CTessarinSettings s = Record();
    FillSettings(s, "changed.log");
    EXPECT_FALSE(s.Load());
    EXPECT_EQ(SettingsTexts(Record()), SettingsTexts(s));

    // Each shorter than the one before, so a buffer kept between queries would show the
    // earlier high bytes. Up to four bytes read little-endian; longer data is the default.
    const std::tuple<uint32_t S::*, const char*, uint32_t, std::string, uint32_t> dwords[] = {
        {&S::m_nChkParam, "chkParam", TREG_DWORD, "\xff\xff\xff\xff", 0xFFFFFFFFu},
        {&S::m_nChkBroadcast, "chkBroadcast", TREG_BINARY, "\x05", 5},
        {&S::m_nDestAddrRefN, "destAddrRefN", TREG_BINARY, "\x01\x02\x03", 0x030201},
        {&S::m_nXPos, "xPos", TREG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08", 0},
        {&S::m_nDestAddrBlindN, "destAddrBlindN", TREG_BINARY, "", 0},
    };
    for (const auto& [member, name, type, data, expected] : dwords)
        SetRaw(name, type, data);
    s.m_nA = 5;   // missing from the store: reset, not kept
    EXPECT_TRUE(s.Load());
    EXPECT_EQ(0u, s.m_nA);
    for (const auto& [member, name, type, data, expected] : dwords)
        EXPECT_EQ(expected, s.*member) << name;

    // The text: characters before the NUL (or all the data without one), and what loads.
    const std::string t257(257, 'a');
    const std::pair<std::string, std::string> texts[] = {
        {t257, t257.substr(1)}, {t257 + '\0', "Tessarin.log"}, {"aaaaa", "aaaaa"}, {"\0"s, ""}};
    for (const auto& [data, expected] : texts) {
        SetRaw("strLogFile", TREG_SZ, data);
        s.Load();
        EXPECT_EQ(expected, s.m_szLogFile) << data.size() << " bytes";
    }

    FillSettings(s, std::string(256, 'p'));
    CTessarinSettings loaded = Record();
    ASSERT_TRUE(s.Save() && loaded.Load());   // a byte lost on the way shows in the values' top bytes
    EXPECT_EQ(SettingsTexts(s), SettingsTexts(loaded));

    // The text field is stored whole, terminated and zero after the text, whatever the
    // buffer held: stale bytes must not reach the store.
    const std::string path = "C:\\logs\\a.log";
    const std::pair<std::string, std::string> fields[] = {
        {path + '\0' + std::string(256 - path.size(), 's'), path},
        {std::string(257, 'x'), std::string(256, 'x')}};
    for (const auto& [buffer, text] : fields) {
        std::memcpy(s.m_szLogFile, buffer.data(), sizeof s.m_szLogFile);
        ASSERT_TRUE(s.Save());
        EXPECT_EQ("1:" + text + std::string(257 - text.size(), '\0'), GetRaw("strLogFile"));
    }
    const std::string longest(256, 'q');   // and one more is refused, changing nothing
    EXPECT_TRUE(s.SetLogFile(longest.c_str()) && !s.SetLogFile((longest + 'r').c_str()) &&
                s.m_szLogFile == longest);

    CHookedSettings hooked(TREG_HKEY_CURRENT_USER, m_store.KeyPath());
    hooked.m_nXPos = 42;
    ASSERT_TRUE(hooked.Save());
    hooked.Exchange(nullptr, false, true);   // a reset calls no hook
    ASSERT_TRUE(hooked.Load());
    EXPECT_EQ(1u, hooked.m_nMode);
    EXPECT_EQ("save load 42", hooked.m_strCalls);

    // A save through a key without write access fails with the write's code, storing nothing.
    CRegistryKey key;
    ASSERT_EQ(TREG_SUCCESS, key.Open(TREG_HKEY_CURRENT_USER, m_store.KeyPath(), TREG_KEY_READ));
    hooked.m_nChkParam = 9;
    EXPECT_EQ(TREG_ACCESS_DENIED, hooked.Exchange(key.Handle(), true, false));
    EXPECT_TRUE(loaded.Load());
    EXPECT_EQ(0u, loaded.m_nChkParam);
}

// The COM numbers of USB dongles are one more value beside the record: a store of
// before gives none, and saving either leaves the other as it was.
TEST_F(SettingsRecord, ComPortIdsLiveBesideTheRecord)
{
    const char* keyPath = m_store.KeyPath();
    EXPECT_EQ(LoadComPortIds(TREG_HKEY_CURRENT_USER, keyPath), "");
    CTessarinSettings s = Record();
    FillSettings(s, "kept.log");
    ASSERT_TRUE(s.Save());
    const std::string ids = "COM5=usb-A\nCOM7=usb-" + std::string(300, 'b') + "\n";
    ASSERT_TRUE(SaveComPortIds(ids, TREG_HKEY_CURRENT_USER, keyPath));
    CTessarinSettings loaded = Record();
    ASSERT_TRUE(loaded.Load() && loaded.Save());
    EXPECT_EQ(SettingsTexts(loaded), SettingsTexts(s));
    EXPECT_EQ(LoadComPortIds(TREG_HKEY_CURRENT_USER, keyPath), ids);
    SetRaw("strComPortIds", TREG_DWORD, "\x01\x02\x03\x04");   // not a text: no numbers
    EXPECT_EQ(LoadComPortIds(TREG_HKEY_CURRENT_USER, keyPath), "");
}

}   // namespace
