#pragma once
// A settings location of the test's own, so that no test meets the user's settings or
// another test's. POSIX: a fresh XDG_CONFIG_HOME with the usual key path. Windows: a
// fresh key under HKEY_CURRENT_USER, deleted afterwards.

#include <string>

class CTestStore {
public:
    CTestStore();
    ~CTestStore();
    CTestStore(const CTestStore&) = delete;
    CTestStore& operator=(const CTestStore&) = delete;

    const char* KeyPath() const { return m_strKeyPath.c_str(); }
    // The folder that holds the hive file; "" where the registry is the system's.
    const std::string& Folder() const { return m_strFolder; }
    std::string HivePath() const { return m_strFolder + "/HKEY_CURRENT_USER.reg"; }

private:
    std::string m_strKeyPath;
    std::string m_strTop;
    std::string m_strFolder;
};

// Sets an environment variable of this process.
void SetTestVariable(const char* name, const std::string& value);
