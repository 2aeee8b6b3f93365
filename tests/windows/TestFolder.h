#pragma once
// A fresh folder in the temporary folder for one test, removed with all it holds.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include <windows.h>

class CTestFolder {
public:
    CTestFolder()
    {
        static unsigned counter = 0;
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        m_path = base / ("tessarin-windows-" + std::to_string(GetCurrentProcessId()) + "-"
                         + std::to_string(GetTickCount()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(m_path, error);
    }
    ~CTestFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);   // scratch: a leftover harms nothing
    }
    CTestFolder(const CTestFolder&) = delete;
    CTestFolder& operator=(const CTestFolder&) = delete;

    std::string File(const char* name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
