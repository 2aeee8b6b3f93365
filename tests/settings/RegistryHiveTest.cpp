// The hive's text form, in memory: what registry editors write must load, and what we
// write must load back the same, here and in a registry editor.

#include "platform/RegistryHive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kKey[] = "HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings";
const char kOther[] = "HKEY_CURRENT_USER\\Software\\Other Vendor\\Tool";

RegistryHiveDamage ParseText(CRegistryHive& hive, const std::string& text)
{
    return hive.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::vector<uint8_t> Utf16Le(const std::u16string& text)
{
    std::vector<uint8_t> out = {0xFF, 0xFE};
    for (char16_t c : text) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

std::vector<uint8_t> Bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> ValueOf(const CRegistryHive& hive, const char* key, const char* name,
                             uint32_t expectedType)
{
    const RegistryHiveValue* v = hive.FindValue(key, name);
    if (!v) {
        ADD_FAILURE() << "missing " << name;
        return {};
    }
    EXPECT_EQ(expectedType, v->type) << name;
    return v->data;
}

TEST(RegistryHive, ReadsRegedit4WithEveryValueForm)
{
    const std::string text =
        "REGEDIT4\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\r\n"
        "\"chkParam\"=dword:00000001\r\n"
        "\"xPos\"=dword:8000ffff\r\n"
        "\"quoted \\\"name\\\"\"=\"C:\\\\Logs\\\\a \\\"b\\\".log\"\r\n"
        "@=\"default\"\r\n"
        "\"bin\"=hex:01,02,ff\r\n"
        "\"empty\"=hex(1):\r\n"
        "\"wrapped\"=hex(2):41,42,\\\r\n"
        "  43,00\r\n"
        "\"qword\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\r\n"
        "[" + std::string(kOther) + "]\r\n"
        "\"x\"=\"y\"\r\n";
    CRegistryHive hive;
    RegistryHiveDamage damage = ParseText(hive, text);
    EXPECT_FALSE(damage.Any());
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0}), ValueOf(hive, kKey, "chkParam", 4));
    EXPECT_EQ((std::vector<uint8_t>{0xff, 0xff, 0x00, 0x80}), ValueOf(hive, kKey, "XPOS", 4));
    EXPECT_EQ(Bytes(std::string("C:\\Logs\\a \"b\".log") + '\0'),
              ValueOf(hive, kKey, "quoted \"name\"", 1));
    EXPECT_EQ(Bytes(std::string("default") + '\0'), ValueOf(hive, kKey, "", 1));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 0xff}), ValueOf(hive, kKey, "bin", 3));
    EXPECT_TRUE(ValueOf(hive, kKey, "empty", 1).empty());
    EXPECT_EQ(Bytes(std::string("ABC") + '\0'), ValueOf(hive, kKey, "wrapped", 2));
    EXPECT_EQ(8u, ValueOf(hive, kKey, "qword", 11).size());
    EXPECT_EQ(Bytes(std::string("y") + '\0'), ValueOf(hive, kOther, "x", 1));
    EXPECT_TRUE(hive.HasKey("HKEY_CURRENT_USER\\Software\\Varnolt"));
    EXPECT_TRUE(hive.HasKey("hkey_current_user\\software\\varnolt\\tessarin\\settings"));
    EXPECT_FALSE(hive.HasKey("HKEY_CURRENT_USER\\Software\\Varn"));
}

TEST(RegistryHive, WritesRegedit4ThatReadsBackTheSame)
{
    CRegistryHive hive;
    std::vector<uint8_t> field(257, 0);
    const std::string path = "C:\\Logs\\\"odd\" name.log";
    std::copy(path.begin(), path.end(), field.begin());
    hive.SetValue(kKey, "strLogFile", 1, field.data(), field.size());
    const uint8_t top[4] = {0x01, 0x00, 0x00, 0x80};
    hive.SetValue(kKey, "xPos", 4, top, 4);
    const std::string plain = std::string("plain \\ \"text\"") + '\0';
    hive.SetValue(kKey, "plain", 1, reinterpret_cast<const uint8_t*>(plain.data()), plain.size());
    const uint8_t noNul[3] = {'a', 'b', 'c'};
    hive.SetValue(kKey, "noNul", 1, noNul, 3);
    const std::string utf8 = "caf\xc3\xa9";
    hive.SetValue(kKey, "utf8", 1, reinterpret_cast<const uint8_t*>(utf8.c_str()), utf8.size() + 1);
    hive.SetValue(kKey, "shortDword", 4, top, 2);
    hive.SetValue(kKey, "", 3, top, 0);
    hive.SetValue(kOther, "line\nbreak", 0xFFFF0000u, top, 4);

    const std::string text = hive.Write();
    EXPECT_EQ(0u, text.find("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\r\n"));
    EXPECT_NE(std::string::npos, text.find("\"xPos\"=dword:80000001\r\n"));
    EXPECT_NE(std::string::npos, text.find("\"plain\"=\"plain \\\\ \\\"text\\\"\"\r\n"));
    // The field keeps its 257 bytes, so it cannot be a quoted string.
    EXPECT_NE(std::string::npos, text.find("\"strLogFile\"=hex(1):43,3a,5c,"));
    EXPECT_NE(std::string::npos, text.find("\"shortDword\"=hex(4):01,00\r\n"));
    EXPECT_NE(std::string::npos, text.find("@=hex:\r\n"));
    // The registry editor's wrapping: no line past 80 columns, continued by a backslash.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        ASSERT_NE(std::string::npos, end);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 2;
    }
    for (unsigned char c : text)
        EXPECT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7F)) << "not plain ASCII: " << int(c);

    CRegistryHive back;
    EXPECT_FALSE(ParseText(back, text).Any());
    ASSERT_EQ(hive.Keys().size(), back.Keys().size());
    for (size_t k = 0; k < hive.Keys().size(); ++k) {
        const RegistryHiveKey& a = hive.Keys()[k];
        const RegistryHiveKey& b = back.Keys()[k];
        EXPECT_EQ(a.path, b.path);
        ASSERT_EQ(a.values.size(), b.values.size());
        for (size_t v = 0; v < a.values.size(); ++v) {
            EXPECT_EQ(a.values[v].name, b.values[v].name);
            EXPECT_EQ(a.values[v].type, b.values[v].type) << a.values[v].name;
            EXPECT_EQ(a.values[v].data, b.values[v].data) << a.values[v].name;
        }
    }
    EXPECT_EQ(text, back.Write());
}

TEST(RegistryHive, DamagedTextLoadsWhatItCan)
{
    const std::string text =
        "REGEDIT4\n"
        "[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\n"
        "\"chkParam\"=dword:00000001\n"
        "\"xPos\"=dword:zz\n"                     // 4: bad digits
        "\"yPos\"=dword:000000002\n"              // 5: too many digits
        "\"A\"=hex:01,0g\n"                       // 6: bad byte
        "\"nIndex\"=\"unterminated\n"             // 7
        "\"mode\"=dword:00000003\n"
        "garbage line\n"                          // 9
        "[HKEY_CURRENT_USER\\Broken\n"            // 10: no closing bracket
        "\"lost\"=dword:00000001\n"               // 11: belongs to no key
        "[HKEY_CURRENT_USER\\Software\\Varnolt\\Tessarin\\Settings]\n"
        "\"cycleTime\"=dword:00000004\n"
        "\"minRefNodes\"=hex:05,00,\\\n";         // the file ends inside a list
    CRegistryHive hive;
    RegistryHiveDamage damage = ParseText(hive, text);
    EXPECT_TRUE(damage.bHeaderKnown);
    EXPECT_EQ(7, damage.nBadLines);
    EXPECT_EQ(4, damage.nFirstBadLine);
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0}), ValueOf(hive, kKey, "chkParam", 4));
    EXPECT_EQ((std::vector<uint8_t>{3, 0, 0, 0}), ValueOf(hive, kKey, "mode", 4));
    EXPECT_EQ((std::vector<uint8_t>{4, 0, 0, 0}), ValueOf(hive, kKey, "cycleTime", 4));
    EXPECT_EQ((std::vector<uint8_t>{5, 0}), ValueOf(hive, kKey, "minRefNodes", 3));
    for (const char* name : {"xPos", "yPos", "A", "nIndex"})
        EXPECT_EQ(nullptr, hive.FindValue(kKey, name)) << name;

    // No header, binary noise, a lone UTF-16 surrogate: damaged, never a crash.
    CRegistryHive other;
    EXPECT_TRUE(ParseText(other, "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:1\n").Any());
    EXPECT_TRUE(other.FindValue("HKEY_CURRENT_USER\\A", "v"));
    std::string noise;
    for (int i = 0; i < 4096; ++i)
        noise += char((i * 7919) & 0xFF);
    EXPECT_TRUE(ParseText(other, noise).Any());
    std::vector<uint8_t> lone = Utf16Le(u"REGEDIT4\r\n[HKEY_CURRENT_USER\\B]\r\n\"s\"=\"x\xd800y\"\r\n");
    EXPECT_TRUE(other.Parse(lone.data(), lone.size()).Any());

    // Empty or blank is a fresh hive, not a damaged one.
    EXPECT_FALSE(ParseText(other, "").Any());
    EXPECT_FALSE(ParseText(other, "\r\n  \n").Any());
    EXPECT_TRUE(other.Keys().empty());
}

TEST(RegistryHive, DeletionLinesAndKeyEditing)
{
    const std::string text =
        "REGEDIT4\n"
        "[HKEY_CURRENT_USER\\Software\\A]\n\"v\"=dword:1\n\"w\"=dword:2\n"
        "[HKEY_CURRENT_USER\\Software\\A\\Sub]\n\"s\"=dword:3\n"
        "[HKEY_CURRENT_USER\\Software\\B]\n\"b\"=dword:4\n"
        "[HKEY_CURRENT_USER\\Software\\A]\n\"w\"=-\n"
        "[-HKEY_CURRENT_USER\\Software\\B]\n";
    CRegistryHive hive;
    EXPECT_FALSE(ParseText(hive, text).Any());
    EXPECT_TRUE(hive.FindValue("HKEY_CURRENT_USER\\Software\\A", "v"));
    EXPECT_FALSE(hive.FindValue("HKEY_CURRENT_USER\\Software\\A", "w"));
    EXPECT_FALSE(hive.HasKey("HKEY_CURRENT_USER\\Software\\B"));
    EXPECT_TRUE(hive.HasKey("HKEY_CURRENT_USER\\Software\\A\\Sub"));

    hive.DeleteKey("HKEY_CURRENT_USER\\software\\a");
    EXPECT_FALSE(hive.HasKey("HKEY_CURRENT_USER\\Software\\A\\Sub"));
    EXPECT_TRUE(hive.CreateKey("HKEY_CURRENT_USER\\Software\\C"));
    EXPECT_FALSE(hive.CreateKey("HKEY_CURRENT_USER\\Software\\C"));
    EXPECT_FALSE(hive.CreateKey("HKEY_CURRENT_USER\\Software"));   // exists through C
    EXPECT_EQ("HKEY_CURRENT_USER\\a\\b", CRegistryHive::JoinPath("HKEY_CURRENT_USER", "a\\\\b\\"));
}

}  // namespace
