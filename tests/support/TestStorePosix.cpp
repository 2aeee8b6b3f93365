#include "tests/support/TestStore.h"

#include <cstdlib>
#include <filesystem>
#include <random>

#include <sys/stat.h>

#include "app/settings/TessarinSettings.h"
#include "tests/support/TestSupport.h"

CTestStore::CTestStore() : m_strKeyPath(TESSARIN_SETTINGS_KEY)
{
    m_strTop = PrivateRoot() + "/store-" + std::to_string(std::random_device()());
    std::filesystem::create_directories(m_strTop);
    // Permission tests run parts of themselves as another user.
    chmod(m_strTop.c_str(), 0777);
    m_strFolder = m_strTop + "/tessarin";
    SetTestVariable("XDG_CONFIG_HOME", m_strTop);
}

CTestStore::~CTestStore()
{
    SetTestVariable("XDG_CONFIG_HOME", PrivateRoot() + "/config");
    std::error_code ignored;   // left behind at worst, in the scratch folder
    std::filesystem::remove_all(m_strTop, ignored);
}

void SetTestVariable(const char* name, const std::string& value)
{
    setenv(name, value.c_str(), 1);
}
