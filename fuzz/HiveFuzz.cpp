// The settings hive's text reader and writer. Whatever a file holds, the reader takes
// what it can without harm, and the writer's text of that tree reads back as the very
// same tree, undamaged: a save never turns good settings into bad text.
//
// Input: bytes 0 and 1 give the length of the hive text that follows; the rest is ignored.

#include <algorithm>
#include <string>

#include "fuzz/FuzzTarget.h"
#include "platform/RegistryHive.h"

TESSARIN_FUZZ_TARGET(Hive)
{
    const size_t length = size < 2 ? 0 : std::min<size_t>(data[0] | data[1] << 8, size - 2);
    CRegistryHive hive, again;
    const RegistryHiveDamage damage = hive.Parse(data + std::min<size_t>(size, 2), length);
    FUZZ_CHECK(damage.nBadLines >= 0 && (damage.nBadLines == 0) == (damage.nFirstBadLine == 0));
    const std::string text = hive.Write();
    FUZZ_CHECK(!again.Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size()).Any());
    FUZZ_CHECK(again.Keys().size() == hive.Keys().size());
    for (size_t k = 0; k < hive.Keys().size(); ++k) {
        const RegistryHiveKey &key = hive.Keys()[k], &read = again.Keys()[k];
        FUZZ_CHECK(key.path == read.path && key.values.size() == read.values.size());
        for (size_t i = 0; i < key.values.size(); ++i) {
            const RegistryHiveValue &v = key.values[i], &r = read.values[i];
            FUZZ_CHECK(v.name == r.name && v.type == r.type && v.data == r.data);
        }
    }
    return 0;
}
