#include "platform/RegistryHive.h"

#include "platform/Registry.h"
#include "platform/Text.h"

#include <cstdio>

namespace {

const char kHeader4[] = "REGEDIT4";
const char kHeader5[] = "Windows Registry Editor Version 5.00";

// The registry editor wraps hex lists so that no line passes 80 columns.
constexpr size_t kHexLineWidth = 76;

bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (pos + i >= s.size() || AsciiLower(s[pos + i]) != AsciiLower(prefix[i]))
            return false;
    }
    return true;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// Returns the number of code units that could not be converted (each became U+FFFD).
int Utf16ToUtf8(const uint8_t* p, size_t n, bool bigEndian, std::string& out)
{
    int errors = 0;
    auto unit = [&](size_t i) -> uint32_t {
        return bigEndian ? uint32_t(p[i] << 8 | p[i + 1]) : uint32_t(p[i] | p[i + 1] << 8);
    };
    size_t i = 0;
    for (; i + 1 < n; i += 2) {
        uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
            uint32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
            ++errors;
            continue;
        }
        AppendUtf8(out, u);
    }
    if (i < n)
        ++errors;   // a lone last byte
    return errors;
}

bool IsStringType(uint32_t type)
{
    return type == TREG_SZ || type == TREG_EXPAND_SZ || type == TREG_MULTI_SZ;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string& s, size_t& pos, std::string& out)
{
    ++pos;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"')
            return true;
        if (c == '\\' && pos < s.size()) {
            char e = s[pos++];
            switch (e) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case '0':
                out += '\0';
                break;
            default:
                // Not an escape the editor writes: keep it as it stands.
                out += '\\';
                out += e;
            }
            continue;
        }
        out += c;
    }
    return false;
}

bool OnlyBlanksFrom(const std::string& s, size_t pos)
{
    for (; pos < s.size(); ++pos) {
        if (!IsBlank(s[pos]))
            return false;
    }
    return true;
}

bool ParseHexBytes(const std::string& s, std::vector<uint8_t>& out)
{
    size_t pos = 0;
    while (true) {
        while (pos < s.size() && IsBlank(s[pos]))
            ++pos;
        if (pos >= s.size())
            return true;   // empty list, or a trailing comma
        int hi = HexDigit(s[pos]);
        if (hi < 0)
            return false;
        ++pos;
        int value = hi;
        if (pos < s.size() && HexDigit(s[pos]) >= 0)
            value = hi * 16 + HexDigit(s[pos++]);
        out.push_back(uint8_t(value));
        while (pos < s.size() && IsBlank(s[pos]))
            ++pos;
        if (pos >= s.size())
            return true;
        if (s[pos] != ',')
            return false;
        ++pos;
    }
}

std::string NormalisePath(const std::string& text)
{
    return CRegistryHive::JoinPath(std::string(), text.c_str());
}

bool HasPrefixPath(const std::string& path, const std::string& prefix)
{
    if (path.size() <= prefix.size() || path[prefix.size()] != '\\')
        return false;
    return CRegistryHive::SameName(path.substr(0, prefix.size()), prefix);
}

void AppendEscaped(std::string& out, const std::string& s)
{
    out += '"';
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    out += '"';
}

// A REG_SZ written as a quoted string must read back with the same bytes: one NUL,
// at the end, and only characters that survive any code page.
bool FitsPlainString(const RegistryHiveValue& v)
{
    if (v.type != 1 || v.data.empty() || v.data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < v.data.size(); ++i) {
        if (v.data[i] < 0x20 || v.data[i] > 0x7E)
            return false;
    }
    return true;
}

void AppendValueLine(std::string& out, const RegistryHiveValue& v)
{
    size_t lineStart = out.size();
    if (v.name.empty())
        out += '@';
    else
        AppendEscaped(out, v.name);
    out += '=';
    char buf[32];
    if (v.type == TREG_DWORD && v.data.size() == 4) {
        uint32_t d = uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 |
                     uint32_t(v.data[3]) << 24;
        std::snprintf(buf, sizeof buf, "dword:%08x", unsigned(d));
        out += buf;
    } else if (FitsPlainString(v)) {
        AppendEscaped(out, std::string(v.data.begin(), v.data.end() - 1));
    } else {
        if (v.type == TREG_BINARY)
            out += "hex:";
        else {
            std::snprintf(buf, sizeof buf, "hex(%x):", unsigned(v.type));
            out += buf;
        }
        for (size_t i = 0; i < v.data.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", unsigned(v.data[i]));
            out += buf;
            if (i + 1 < v.data.size()) {
                out += ',';
                if (out.size() - lineStart >= kHexLineWidth) {
                    out += "\\\r\n  ";
                    lineStart = out.size() - 2;
                }
            }
        }
    }
    out += "\r\n";
}

}   // namespace

bool CRegistryHive::SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

std::string CRegistryHive::JoinPath(const std::string& parent, const char* relative)
{
    std::string out = parent;
    if (!relative)
        return out;
    const char* p = relative;
    while (*p) {
        const char* e = p;
        while (*e && *e != '\\')
            ++e;
        if (e > p) {
            if (!out.empty())
                out += '\\';
            out.append(p, e);
        }
        p = *e ? e + 1 : e;
    }
    return out;
}

RegistryHiveKey* CRegistryHive::FindKey(const std::string& path)
{
    // Values come key by key, so the last key found is usually the one asked for.
    if (m_nLastKey < m_keys.size() && SameName(m_keys[m_nLastKey].path, path))
        return &m_keys[m_nLastKey];
    for (size_t i = 0; i < m_keys.size(); ++i) {
        if (SameName(m_keys[i].path, path)) {
            m_nLastKey = i;
            return &m_keys[i];
        }
    }
    return nullptr;
}

const RegistryHiveKey* CRegistryHive::FindKey(const std::string& path) const
{
    return const_cast<CRegistryHive*>(this)->FindKey(path);
}

bool CRegistryHive::HasKey(const std::string& path) const
{
    if (path.empty())
        return false;
    if (path.find('\\') == std::string::npos)
        return true;   // a root
    for (const auto& k : m_keys) {
        if (SameName(k.path, path) || HasPrefixPath(k.path, path))
            return true;
    }
    return false;
}

bool CRegistryHive::CreateKey(const std::string& path)
{
    bool bNew = !HasKey(path);
    if (!FindKey(path))
        m_keys.push_back(RegistryHiveKey{path, {}});
    return bNew;
}

void CRegistryHive::DeleteKey(const std::string& path)
{
    std::vector<RegistryHiveKey> kept;
    kept.reserve(m_keys.size());
    for (auto& k : m_keys) {
        if (!SameName(k.path, path) && !HasPrefixPath(k.path, path))
            kept.push_back(std::move(k));
    }
    m_keys.swap(kept);
}

const RegistryHiveValue* CRegistryHive::FindValue(const std::string& path, const std::string& name) const
{
    const RegistryHiveKey* k = FindKey(path);
    if (!k)
        return nullptr;
    for (const auto& v : k->values) {
        if (SameName(v.name, name))
            return &v;
    }
    return nullptr;
}

void CRegistryHive::SetValue(const std::string& path, const std::string& name, uint32_t type,
                             const uint8_t* data, size_t length)
{
    RegistryHiveKey* k = FindKey(path);
    if (!k) {
        m_keys.push_back(RegistryHiveKey{path, {}});
        k = &m_keys.back();
    }
    for (auto& v : k->values) {
        if (SameName(v.name, name)) {
            v.type = type;
            v.data.assign(data, data + length);
            return;
        }
    }
    k->values.push_back(RegistryHiveValue{name, type, std::vector<uint8_t>(data, data + length)});
}

void CRegistryHive::DeleteValue(const std::string& path, const std::string& name)
{
    RegistryHiveKey* k = FindKey(path);
    if (!k)
        return;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
        if (SameName(it->name, name)) {
            k->values.erase(it);
            return;
        }
    }
}

RegistryHiveDamage CRegistryHive::Parse(const uint8_t* text, size_t length)
{
    m_keys.clear();
    RegistryHiveDamage damage;

    bool bWide = false;
    std::string s;
    const int decodeErrors = DecodeText(text, length, s, bWide);
    const std::vector<std::string> lines = SplitLines(s);

    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty())
        ++i;
    if (i == lines.size()) {
        // Nothing at all: a fresh file, not a damaged one.
        damage.bHeaderKnown = decodeErrors == 0;
        return damage;
    }
    int version = bWide ? 5 : 4;
    const std::string first = Trim(lines[i]);
    if (first == kHeader4 || first == kHeader5) {
        damage.bHeaderKnown = true;
        version = first == kHeader4 ? 4 : 5;
        ++i;
    }
    if (decodeErrors) {
        damage.nBadLines += decodeErrors;
        damage.nFirstBadLine = 1;
    }

    std::string current;   // "" when no usable key line precedes
    for (; i < lines.size(); ++i) {
        const size_t lineNo = i;
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == ';')
            continue;
        const bool bOk =
            line[0] == '[' ? ParseKeyLine(line, current) : ParseValueLine(lines, i, version, current);
        if (!bOk) {
            ++damage.nBadLines;
            if (!damage.nFirstBadLine)
                damage.nFirstBadLine = int(lineNo + 1);
        }
    }
    return damage;
}

int CRegistryHive::DecodeText(const uint8_t* text, size_t length, std::string& out, bool& bWide)
{
    bWide = false;
    if (length >= 2 && text[0] == 0xFF && text[1] == 0xFE) {
        bWide = true;
        return Utf16ToUtf8(text + 2, length - 2, false, out);
    }
    if (length >= 2 && text[0] == 0xFE && text[1] == 0xFF) {
        bWide = true;
        return Utf16ToUtf8(text + 2, length - 2, true, out);
    }
    if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF)
        out.assign(reinterpret_cast<const char*>(text) + 3, length - 3);
    else
        out.assign(reinterpret_cast<const char*>(text), length);
    return 0;
}

std::vector<std::string> CRegistryHive::SplitLines(const std::string& s)
{
    std::vector<std::string> lines;
    for (size_t b = 0; b <= s.size();) {
        size_t e = s.find('\n', b);
        if (e == std::string::npos)
            e = s.size();
        const size_t end = (e > b && s[e - 1] == '\r') ? e - 1 : e;
        lines.push_back(s.substr(b, end - b));
        b = e + 1;
    }
    return lines;
}

bool CRegistryHive::ParseKeyLine(const std::string& line, std::string& current)
{
    current.clear();
    if (line.back() != ']')
        return false;
    const std::string inner = line.substr(1, line.size() - 2);
    const bool bDelete = !inner.empty() && inner[0] == '-';
    const std::string path = NormalisePath(bDelete ? inner.substr(1) : inner);
    // "[\-x]" would name a key "-x" that the writer could only give back as a
    // deletion: the key and its values would vanish at the next load.
    if (path.empty() || (!bDelete && path[0] == '-'))
        return false;
    if (bDelete) {
        DeleteKey(path);
    } else {
        CreateKey(path);
        current = path;
    }
    return true;
}

bool CRegistryHive::ParseValueLine(const std::vector<std::string>& lines, size_t& i, int version,
                                   const std::string& current)
{
    const std::string line = Trim(lines[i]);
    if (line[0] != '"' && line[0] != '@')
        return false;
    size_t pos = 0;
    std::string name;
    if (line[0] == '@')
        pos = 1;
    else if (!ReadQuoted(line, pos, name))
        return false;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return false;
    ++pos;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;

    uint32_t type = TREG_NONE;
    std::vector<uint8_t> data;
    bool bDeleteValue = false;
    bool bOk = false;
    if (pos < line.size() && line[pos] == '-' && OnlyBlanksFrom(line, pos + 1)) {
        bDeleteValue = true;
        bOk = true;
    } else if (pos < line.size() && line[pos] == '"') {
        bOk = ParseStringData(line, pos, type, data);
    } else if (StartsWithNoCase(line, pos, "dword:")) {
        bOk = ParseDwordData(line.substr(pos + 6), type, data);
    } else if (StartsWithNoCase(line, pos, "hex")) {
        bOk = ParseHexData(lines, i, line, pos + 3, version, type, data);
    }
    if (!bOk || current.empty())
        return false;
    if (bDeleteValue)
        DeleteValue(current, name);
    else
        SetValue(current, name, type, data.data(), data.size());
    return true;
}

bool CRegistryHive::ParseStringData(const std::string& line, size_t pos, uint32_t& type,
                                    std::vector<uint8_t>& data)
{
    std::string text;
    if (!ReadQuoted(line, pos, text) || !OnlyBlanksFrom(line, pos))
        return false;
    type = TREG_SZ;
    data.assign(text.begin(), text.end());
    data.push_back(0);
    return true;
}

bool CRegistryHive::ParseDwordData(const std::string& rest, uint32_t& type, std::vector<uint8_t>& data)
{
    const std::string digits = Trim(rest);
    if (digits.empty() || digits.size() > 8)
        return false;
    uint32_t d = 0;
    bool bOk = true;
    for (char c : digits) {
        const int h = HexDigit(c);
        if (h < 0)
            bOk = false;
        d = d << 4 | uint32_t(h < 0 ? 0 : h);
    }
    type = TREG_DWORD;
    data = {uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)};
    return bOk;
}

bool CRegistryHive::ParseHexData(const std::vector<std::string>& lines, size_t& i, const std::string& line,
                                 size_t p, int version, uint32_t& type, std::vector<uint8_t>& data)
{
    type = TREG_BINARY;
    if (p < line.size() && line[p] == '(') {
        const size_t close = line.find(')', p);
        if (close == std::string::npos || close == p + 1 || close - p - 1 > 8)
            return false;
        type = 0;
        bool bTypeOk = true;
        for (size_t q = p + 1; q < close; ++q) {
            const int h = HexDigit(line[q]);
            if (h < 0)
                bTypeOk = false;
            type = type << 4 | uint32_t(h < 0 ? 0 : h);
        }
        if (!bTypeOk)
            return false;
        p = close + 1;
    }
    if (p >= line.size() || line[p] != ':')
        return false;
    std::string list = line.substr(p + 1);
    // A trailing backslash continues the list on the next line.
    while (!list.empty() && list.back() == '\\' && i + 1 < lines.size()) {
        list.pop_back();
        list += Trim(lines[++i]);
    }
    if (!list.empty() && list.back() == '\\')
        list.pop_back();   // the file ended inside the list
    if (!ParseHexBytes(list, data))
        return false;
    if (version == 5 && IsStringType(type) && data.size() % 2 == 0) {
        // Version 5.00 writes string types as UTF-16LE bytes.
        std::string narrow;
        Utf16ToUtf8(data.data(), data.size(), false, narrow);
        data.assign(narrow.begin(), narrow.end());
    }
    return true;
}

std::string CRegistryHive::Write() const
{
    std::string out = kHeader4;
    out += "\r\n";
    for (const auto& k : m_keys) {
        out += "\r\n[";
        out += k.path;
        out += "]\r\n";
        for (const auto& v : k.values)
            AppendValueLine(out, v);
    }
    out += "\r\n";
    return out;
}
