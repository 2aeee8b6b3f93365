#include "tests/support/TestStore.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {
const char kTestParent[] = "Software\\Varnolt\\TessarinTest";
}

CTestStore::CTestStore()
{
    static unsigned counter = 0;
    char path[128];
    std::snprintf(path, sizeof path, "%s\\%lu-%lu-%u", kTestParent,
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()), ++counter);
    m_strKeyPath = path;
}

CTestStore::~CTestStore()
{
    // Test keys are scratch; one left behind harms nothing.
    (void)RegDeleteTreeA(HKEY_CURRENT_USER, m_strKeyPath.c_str());
    (void)RegDeleteKeyA(HKEY_CURRENT_USER, kTestParent);   // fails while other runs use it
}

void SetTestVariable(const char* name, const std::string& value)
{
    _putenv_s(name, value.c_str());
}
