#include "tests/settings/TestStore.h"

#include "app/TessarinSettings.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string MakeTempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tessarin-settings-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        std::abort();   // nowhere safe to point the store at: better no test than the real one
    // Permission tests run parts of themselves as another user.
    chmod(pattern.c_str(), 0777);
    return pattern;
}

void RemoveAll(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);   // left behind at worst, in the temporary folder
}

// Before any test runs, even one that forgets its CTestStore, the store points away
// from the user's own settings.
struct CGuard {
    std::string folder = MakeTempFolder();
    CGuard() { setenv("XDG_CONFIG_HOME", folder.c_str(), 1); }
    ~CGuard() { RemoveAll(folder); }
} g_guard;

}  // namespace

CTestStore::CTestStore() : m_strKeyPath(TESSARIN_SETTINGS_KEY), m_strTop(MakeTempFolder())
{
    m_strFolder = m_strTop + "/tessarin";
    setenv("XDG_CONFIG_HOME", m_strTop.c_str(), 1);
}

CTestStore::~CTestStore()
{
    setenv("XDG_CONFIG_HOME", g_guard.folder.c_str(), 1);
    RemoveAll(m_strTop);
}
