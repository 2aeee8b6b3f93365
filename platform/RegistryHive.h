#pragma once
// A registry hive held in memory as a list of keys with their values, and its text
// form: the registry editor's export format. Reads "REGEDIT4" (ANSI) and "Windows
// Registry Editor Version 5.00" (UTF-16LE with a byte-order mark) files; writes
// REGEDIT4. Portable and free of OS calls, so every platform and the tests share it.
// Not thread-safe: its owner serialises access.
//
// Key paths are full paths with the root first ("HKEY_CURRENT_USER\Software\...");
// key and value names compare without regard to ASCII case, as in the registry. The
// narrow ("ANSI") form of UTF-16 text is UTF-8 here, as for file names.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RegistryHiveValue {
    std::string name;   // "" is the key's default value ("@")
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct RegistryHiveKey {
    std::string path;
    std::vector<RegistryHiveValue> values;
};

// What a parse met that it could not take in.
struct RegistryHiveDamage {
    bool bHeaderKnown = false;   // the first line named one of the two formats
    int nBadLines = 0;           // lines skipped, each with its key or value
    int nFirstBadLine = 0;       // 1-based, 0 when none
    bool Any() const { return !bHeaderKnown || nBadLines > 0; }
};

class CRegistryHive {
public:
    // Replaces the tree with what text holds, taking every line it understands.
    // An empty text is an empty, undamaged hive.
    RegistryHiveDamage Parse(const uint8_t* text, size_t length);
    // The whole tree as REGEDIT4 text with CRLF line ends, keys in their order.
    std::string Write() const;

    void Clear() { m_keys.clear(); }
    const std::vector<RegistryHiveKey>& Keys() const { return m_keys; }

    // True for a listed key, a parent of one, or a bare root.
    bool HasKey(const std::string& path) const;
    // Adds the key (not its parents: they exist through it); true when it was new.
    bool CreateKey(const std::string& path);
    // Removes the key and everything below it.
    void DeleteKey(const std::string& path);

    // Null when the key or the value is missing.
    const RegistryHiveValue* FindValue(const std::string& path, const std::string& name) const;
    // Creates the key as needed.
    void SetValue(const std::string& path, const std::string& name, uint32_t type, const uint8_t* data,
                  size_t length);
    void DeleteValue(const std::string& path, const std::string& name);

    // Joins parent and a relative path ("a\\b", empty parts dropped) into a full path.
    static std::string JoinPath(const std::string& parent, const char* relative);
    static bool SameName(const std::string& a, const std::string& b);

private:
    // The steps of Parse. Text in either byte order or UTF-8 becomes UTF-8 (returns the
    // count of undecodable units); each key or value line is taken or refused (false);
    // a value line's data may continue over the following lines (i moves past them).
    static int DecodeText(const uint8_t* text, size_t length, std::string& out, bool& bWide);
    static std::vector<std::string> SplitLines(const std::string& s);
    bool ParseKeyLine(const std::string& line, std::string& current);
    bool ParseValueLine(const std::vector<std::string>& lines, size_t& i, int version,
                        const std::string& current);
    static bool ParseStringData(const std::string& line, size_t pos, uint32_t& type,
                                std::vector<uint8_t>& data);
    static bool ParseDwordData(const std::string& rest, uint32_t& type, std::vector<uint8_t>& data);
    static bool ParseHexData(const std::vector<std::string>& lines, size_t& i, const std::string& line,
                             size_t p, int version, uint32_t& type, std::vector<uint8_t>& data);

    RegistryHiveKey* FindKey(const std::string& path);
    const RegistryHiveKey* FindKey(const std::string& path) const;

    std::vector<RegistryHiveKey> m_keys;
    size_t m_nLastKey = 0;
};
