#include "platform/ConfigFolder.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

std::string TessarinConfigFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/tessarin";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.config/tessarin";
    // No usable HOME (a service, a stripped environment).
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return std::string(found->pw_dir) + "/.config/tessarin";
    return std::string();
}
