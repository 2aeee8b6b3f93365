#include "platform/ExclusiveFile.h"

#include <share.h>

FILE* OpenExclusiveFile(const char* path, const char* mode)
{
    if (path == nullptr || mode == nullptr)
        return nullptr;
    // Readers stay welcome; the system refuses a second writer before it truncates.
    return _fsopen(path, mode, _SH_DENYWR);
}
