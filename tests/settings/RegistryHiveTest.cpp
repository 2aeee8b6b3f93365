// The hive's text form, in memory: what registry editors write must load, and what we
// write must load back the same, here and in a registry editor.

#include "platform/RegistryHive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string kKey = "HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings";
const std::string kOther = "HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool";

RegistryHiveDamage ParseText(CRegistryHive& hive, const std::string& text)
{
    return hive.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

struct Expected {
    const std::string& key;
    const char* name;
    uint32_t type;
    std::string data;
};

void ExpectValues(const CRegistryHive& hive, const std::vector<Expected>& values)
{
    for (const Expected& e : values) {
        SCOPED_TRACE(e.name);
        const RegistryHiveValue* v = hive.FindValue(e.key, e.name);
        ASSERT_NE(nullptr, v);
        EXPECT_EQ(e.type, v->type);
        EXPECT_EQ(e.data, std::string(v->data.begin(), v->data.end()));
    }
}

TEST(RegistryHive, ReadsRegedit4WithEveryValueForm)
{
    CRegistryHive hive;
    EXPECT_FALSE(ParseText(hive,
        "REGEDIT4\r\n\r\n; a comment\r\n"
        "[" + kKey + "]\r\n"
        "\"chkParam\"=dword:00000001\r\n"
        "\"xPos\"=dword:8000ffff\r\n"
        "\"quoted \\\"name\\\"\"=\"C:\\\\Logs\\\\a \\\"b\\\".log\"\r\n"
        "@=\"default\"\r\n"
        "\"bin\"=hex:01,02,ff\r\n"
        "\"empty\"=hex(1):\r\n"
        "\"wrapped\"=hex(2):41,42,\\\r\n"
        "  43,00\r\n"
        "\r\n"
        "[" + kOther + "]\r\n"
        "\"x\"=\"y\"\r\n").Any());
    ExpectValues(hive, {
        {kKey, "chkParam", 4, "\x01\0\0\0"s},
        {kKey, "XPOS", 4, "\xff\xff\x00\x80"s},   // names ignore case
        {kKey, "quoted \"name\"", 1, "C:\\Logs\\a \"b\".log\0"s},
        {kKey, "", 1, "default\0"s},
        {kKey, "bin", 3, "\x01\x02\xff"},
        {kKey, "empty", 1, ""},
        {kKey, "wrapped", 2, "ABC\0"s},
        {kOther, "x", 1, "y\0"s},
    });
    EXPECT_TRUE(hive.HasKey("HKEY_CURRENT_USER\\Software\\Varnolt"));
    EXPECT_TRUE(hive.HasKey("hkey_current_user\\software\\varnolt\\tessarin\\settings"));
    EXPECT_FALSE(hive.HasKey("HKEY_CURRENT_USER\\Software\\Varn"));
}

// What we write must read back byte for byte, and as a registry editor writes: plain
// ASCII, no line past 80 columns.
TEST(RegistryHive, WritesRegedit4ThatReadsBackTheSame)
{
    CRegistryHive hive;
    auto set = [&](const std::string& key, const char* name, uint32_t type, const std::string& data) {
        hive.SetValue(key, name, type, reinterpret_cast<const uint8_t*>(data.data()), data.size());
    };
    std::string field = "C:\\Logs\\\"odd\" name.log";
    field.resize(257, '\0');
    set(kKey, "strLogFile", 1, field);
    set(kKey, "xPos", 4, "\x01\x00\x00\x80"s);
    set(kKey, "plain", 1, "plain \\ \"text\"\0"s);
    set(kKey, "noNul", 1, "abc");
    set(kKey, "utf8", 1, "caf\xc3\xa9\0"s);
    set(kKey, "shortDword", 4, "\x01\x00"s);
    set(kKey, "", 3, "");
    set(kOther, "line\nbreak", 0xFFFF0000u, "\x01\x00\x00\x80"s);

    const std::string text = hive.Write();
    EXPECT_EQ(0u, text.find("REGEDIT4\r\n\r\n[" + kKey + "]\r\n"));
    for (const char* line : {"\"xPos\"=dword:80000001\r\n", "\"plain\"=\"plain \\\\ \\\"text\\\"\"\r\n",
                             // The field keeps its 257 bytes, so it cannot be a quoted string.
                             "\"strLogFile\"=hex(1):43,3a,5c,", "\"shortDword\"=hex(4):01,00\r\n",
                             "@=hex:\r\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    size_t column = 0;
    for (unsigned char c : text) {
        EXPECT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F)) << "not plain ASCII: " << int(c);
        column = c == '\n' ? 0 : column + 1;
        ASSERT_LE(column, 81u) << text;   // 80 and the CR
    }

    CRegistryHive back;
    EXPECT_FALSE(ParseText(back, text).Any());
    for (const RegistryHiveKey& k : hive.Keys()) {
        for (const RegistryHiveValue& v : k.values) {
            const RegistryHiveValue* got = back.FindValue(k.path, v.name);
            ASSERT_NE(nullptr, got) << v.name;
            EXPECT_EQ(v.type, got->type) << v.name;
            EXPECT_EQ(v.data, got->data) << v.name;
        }
    }
    EXPECT_EQ(text, back.Write());   // nothing more, and in the same order
}

TEST(RegistryHive, DamagedTextLoadsWhatItCan)
{
    CRegistryHive hive;
    RegistryHiveDamage damage = ParseText(hive,
        "REGEDIT4\n"
        "[" + kKey + "]\n"
        "\"chkParam\"=dword:00000001\n"
        "\"xPos\"=dword:zz\n"                     // 4: bad digits
        "\"yPos\"=dword:000000002\n"              // 5: too many digits
        "\"A\"=hex:01,0g\n"                       // 6: bad byte
        "\"nIndex\"=\"unterminated\n"             // 7
        "garbage line\n"                          // 8
        "[HKEY_CURRENT_USER\\Broken\n"            // 9: no closing bracket
        "\"lost\"=dword:00000001\n"               // 10: belongs to no key
        // 11: a key named "-Tool" would be written back as a deletion of Tool, and
        // vanish with its values at the next load.
        "[\\-Tool]\n"
        "\"gone\"=dword:00000001\n"               // 12
        "[" + kKey + "]\n"
        "\"cycleTime\"=dword:00000004\n"
        "\"minRefNodes\"=hex:05,00,\\");          // the file ends inside a list
    EXPECT_TRUE(damage.bHeaderKnown);
    EXPECT_EQ(9, damage.nBadLines);
    EXPECT_EQ(4, damage.nFirstBadLine);
    ExpectValues(hive, {
        {kKey, "chkParam", 4, "\x01\0\0\0"s},
        {kKey, "cycleTime", 4, "\x04\0\0\0"s},
        {kKey, "minRefNodes", 3, "\x05\0"s},
    });
    for (const char* name : {"xPos", "yPos", "A", "nIndex"})
        EXPECT_EQ(nullptr, hive.FindValue(kKey, name)) << name;
    EXPECT_EQ(1u, hive.Keys().size());   // no "-Tool", no half-bracketed key

    // No header, or a lone UTF-16 surrogate, is damage; empty or blank is a fresh hive.
    EXPECT_TRUE(ParseText(hive, "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:1\n").Any());
    EXPECT_TRUE(hive.FindValue("HKEY_CURRENT_USER\\A", "v"));
    std::string wide = "\xFF\xFE";
    for (char c : std::string("Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\B]\r\n\"s\"=\"x"))
        wide += {c, '\0'};
    damage = ParseText(hive, wide + "\x00\xD8y\0\"\0"s);
    EXPECT_TRUE(damage.bHeaderKnown);
    EXPECT_EQ(1, damage.nBadLines);
    EXPECT_FALSE(ParseText(hive, "").Any());
    EXPECT_FALSE(ParseText(hive, "\r\n  \n").Any());
    EXPECT_TRUE(hive.Keys().empty());
}

TEST(RegistryHive, DeletionLinesAndKeyEditing)
{
    const std::string a = "HKEY_CURRENT_USER\\Software\\A";
    CRegistryHive hive;
    EXPECT_FALSE(ParseText(hive,
        "REGEDIT4\n"
        "[" + a + "]\n\"v\"=dword:1\n\"w\"=dword:2\n"
        "[" + a + "\\Sub]\n\"s\"=dword:3\n"
        "[HKEY_CURRENT_USER\\Software\\B\\Sub]\n\"b\"=dword:4\n"
        "[" + a + "]\n\"w\"=-\n"
        "[-hkey_current_user\\software\\b]\n").Any());
    EXPECT_TRUE(hive.FindValue(a, "v"));
    EXPECT_FALSE(hive.FindValue(a, "w"));
    EXPECT_TRUE(hive.HasKey(a + "\\Sub"));
    EXPECT_FALSE(hive.HasKey("HKEY_CURRENT_USER\\Software\\B\\Sub"));

    EXPECT_TRUE(hive.CreateKey("HKEY_CURRENT_USER\\Software\\C"));
    EXPECT_FALSE(hive.CreateKey("HKEY_CURRENT_USER\\Software\\C"));
    EXPECT_FALSE(hive.CreateKey("HKEY_CURRENT_USER\\Software"));   // exists through C
    EXPECT_EQ("HKEY_CURRENT_USER\\a\\b", CRegistryHive::JoinPath("HKEY_CURRENT_USER", "a\\\\b\\"));
}

}  // namespace
