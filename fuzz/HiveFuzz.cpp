// The settings hive's text reader and writer. Whatever a file holds, the reader takes
// what it can without harm, and what the writer then makes of the tree reads back as
// the very same tree with no damage: a save never turns good settings into bad text.
// A few changes made through the tree's own calls (as the registry calls make them)
// must survive the same round trip.
//
// Input: byte 0 and 1 give the length of the hive text that follows; after it come
// the changes: a key (below HKEY_CURRENT_USER), a value name, a type and data.

#include <string>

#include "fuzz/FuzzTarget.h"
#include "platform/RegistryHive.h"

namespace {

bool SameTree(const CRegistryHive& a, const CRegistryHive& b)
{
    const auto& ka = a.Keys();
    const auto& kb = b.Keys();
    if (ka.size() != kb.size())
        return false;
    for (size_t i = 0; i < ka.size(); ++i) {
        if (ka[i].path != kb[i].path || ka[i].values.size() != kb[i].values.size())
            return false;
        for (size_t j = 0; j < ka[i].values.size(); ++j) {
            const RegistryHiveValue& va = ka[i].values[j];
            const RegistryHiveValue& vb = kb[i].values[j];
            if (va.name != vb.name || va.type != vb.type || va.data != vb.data)
                return false;
        }
    }
    return true;
}

// A text of up to max bytes from the input, stopping at a zero as a C string would.
std::string Text(CFuzzInput& in, size_t max)
{
    std::string text;
    const size_t length = in.Byte() % (max + 1);
    for (size_t i = 0; i < length && in.RestSize() > 0; ++i) {
        const char c = static_cast<char>(in.Byte());
        if (c == '\0')
            break;
        text += c;
    }
    return text;
}

// The registry calls refuse key names that start with a backslash or hold a control
// character; the tree is only ever given names that passed.
// Up to max bytes of any value, zeros included: value data is bytes, not text.
std::string Raw(CFuzzInput& in, size_t max)
{
    std::string bytes;
    const size_t length = in.Byte() % (max + 1);
    for (size_t i = 0; i < length && in.RestSize() > 0; ++i)
        bytes += static_cast<char>(in.Byte());
    return bytes;
}

bool IsAcceptedSubKey(const std::string& subKey)
{
    if (!subKey.empty() && subKey[0] == '\\')
        return false;
    for (char c : subKey) {
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

bool RoundTrips(const CRegistryHive& hive)
{
    const std::string text = hive.Write();
    CRegistryHive again;
    const RegistryHiveDamage damage =
        again.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return !damage.Any() && SameTree(hive, again) && again.Write() == text;
}

}  // namespace

TESSARIN_FUZZ_TARGET(Hive)
{
    CFuzzInput in(data, size);
    size_t textLength = in.Byte();
    textLength |= size_t(in.Byte()) << 8;
    if (textLength > in.RestSize())
        textLength = in.RestSize();
    const uint8_t* text = in.Rest();
    in.Skip(textLength);

    CRegistryHive hive;
    const RegistryHiveDamage damage = hive.Parse(text, textLength);
    FUZZ_CHECK(damage.nBadLines >= 0);
    FUZZ_CHECK((damage.nBadLines == 0) == (damage.nFirstBadLine == 0));
    for (const RegistryHiveKey& key : hive.Keys())
        FUZZ_CHECK(!key.path.empty() && hive.HasKey(key.path));
    FUZZ_CHECK(RoundTrips(hive));

    while (in.RestSize() > 0) {
        const std::string subKey = Text(in, 24);
        const std::string name = Text(in, 16);
        const uint32_t type = in.Byte() % 13;
        const std::string bytes = Raw(in, 40);
        if (!IsAcceptedSubKey(subKey))
            continue;
        const std::string path = CRegistryHive::JoinPath("HKEY_CURRENT_USER", subKey.c_str());
        if (path.find('\\') == std::string::npos)
            continue;   // the root itself holds no values of ours
        switch (in.Byte() % 3) {
        case 0:
            hive.CreateKey(path);
            FUZZ_CHECK(hive.HasKey(path));
            break;
        case 1: {
            hive.SetValue(path, name, type, reinterpret_cast<const uint8_t*>(bytes.data()),
                          bytes.size());
            const RegistryHiveValue* v = hive.FindValue(path, name);
            FUZZ_CHECK(v != nullptr && v->type == type &&
                       std::string(v->data.begin(), v->data.end()) == bytes);
            break;
        }
        default:
            hive.DeleteValue(path, name);
            FUZZ_CHECK(hive.FindValue(path, name) == nullptr);
            break;
        }
    }
    // Once for all the changes: a round trip per change made long inputs crawl.
    FUZZ_CHECK(RoundTrips(hive));
    return 0;
}
