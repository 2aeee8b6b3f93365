// tessarin-hive-export: saves the test settings records (HiveValues.h) the way the Linux
// build saves every record, into the hive file under XDG_CONFIG_HOME, and prints the
// file's path. scripts/test-windows hands that file to the Windows tests.

#include <cstdio>
#include <cstdlib>

#include "tests/windows/HiveValues.h"

int main()
{
    // Never the user's own settings: only a folder the caller made for this.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config == nullptr || config[0] != '/') {
        std::fprintf(stderr, "tessarin-hive-export: set XDG_CONFIG_HOME to a scratch folder\n");
        return 2;
    }
    for (const HiveTestRecord& record : HiveTestRecords()) {
        CTessarinSettings settings(TREG_HKEY_CURRENT_USER, record.keyPath);
        FillHiveTestValues(settings, record.logFile);
        if (!settings.Save()) {
            std::fprintf(stderr, "tessarin-hive-export: %s could not be saved\n", record.keyPath);
            return 1;
        }
    }
    std::printf("%s/tessarin/HKEY_CURRENT_USER.reg\n", config);
    return 0;
}
