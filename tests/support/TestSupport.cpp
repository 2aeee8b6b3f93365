#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "link/Frame.h"
#include "link/LogLine.h"
#include "tests/support/TestStore.h"

namespace fs = std::filesystem;

namespace {

std::string MakeFolder(const char* tag)
{
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "tessarin-%s-%08x", tag, static_cast<unsigned>(seed()));
        const fs::path path = base / name;
        if (fs::create_directory(path, error))
            return path.generic_string();
    }
    std::fprintf(stderr, "no scratch folder can be made\n");
    std::abort();   // better no test than one that reaches the user's own files
}

std::string g_root;

}   // namespace

CScratchFolder::CScratchFolder(const char* tag) : m_strPath(MakeFolder(tag)) {}

CScratchFolder::~CScratchFolder()
{
    std::error_code ignored;   // a leftover in the temporary folder harms nothing
    fs::remove_all(m_strPath, ignored);
}

const std::string& PrivateRoot()
{
    if (g_root.empty()) {
        g_root = MakeFolder("run");
        std::error_code ignored;
        fs::create_directories(PortLinkFolder(), ignored);
        fs::create_directories(DeviceFolder(), ignored);
        SetTestVariable("XDG_CONFIG_HOME", g_root + "/config");
        SetTestVariable("XDG_CACHE_HOME", g_root + "/cache");
        SetTestVariable("XDG_DATA_HOME", g_root + "/data");
        SetTestVariable("TESSARIN_DEVICE_DIR", DeviceFolder());
        fs::create_directories(g_root + "/lock", ignored);
        SetTestVariable("TESSARIN_LOCK_DIR", g_root + "/lock");
    }
    return g_root;
}

void RemovePrivateRoot()
{
    std::error_code ignored;
    if (!g_root.empty())
        fs::remove_all(g_root, ignored);
    g_root.clear();
}

std::string PortLinkFolder()
{
    return PrivateRoot() + "/config/tessarin/ports";
}
std::string DeviceFolder()
{
    return PrivateRoot() + "/dev";
}

void UnlinkComName(const std::string& comName)
{
    std::error_code ignored;
    fs::remove(PortLinkFolder() + "/" + comName, ignored);
}

void LinkComName(const std::string& comName, const std::string& target)
{
    UnlinkComName(comName);
    std::error_code error;
    fs::create_symlink(target, PortLinkFolder() + "/" + comName, error);
    EXPECT_FALSE(error) << "link " << comName << ": " << error.message();
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Texts ReadLines(const std::string& path)
{
    std::ifstream in(path);
    Texts lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

Bytes Frame(uint16_t command, const Bytes& data)
{
    Bytes out(data.size() + FRAME_OVERHEAD);
    out.resize(size_t(BuildFrame(command, data.data(), int(data.size()), out.data())));
    return out;
}

std::string LogLineAt(bool sent, uint16_t addr, const char* name, const char* hex)
{
    char line[LOG_LINE_SIZE];
    FormatLogLine(line, UtcTimeOfDay{12, 34, 56, 789}, sent, addr, name, hex);
    return line;
}

Texts WithoutTimes(Texts lines)
{
    for (std::string& line : lines)
        if (line.size() >= 13)
            line.erase(0, 13);   // "hh:mm:ss:mmm "
    return lines;
}

using S = CTessarinSettings;
const SettingsDword kSettingsDwords[15] = {
    {"chkParam", &S::m_nChkParam, 1},
    {"chkBroadcast", &S::m_nChkBroadcast, 0xFFFFFFFFu},
    {"destAddrRefN", &S::m_nDestAddrRefN, 0x0101},
    {"xPos", &S::m_nXPos, 65535},
    {"yPos", &S::m_nYPos, 0x12345678u},
    {"destAddrBlindN", &S::m_nDestAddrBlindN, 0x0203},
    {"A", &S::m_nA, 39},
    {"nIndex", &S::m_nIndex, 25},
    {"mode", &S::m_nMode, 1},
    {"collectTime", &S::m_nCollectTime, 0x80000000u},
    {"cycleTime", &S::m_nCycleTime, 0x00ABCDEFu},
    {"reportShortAddr", &S::m_nReportShortAddr, 0xFFFF},
    {"reportEndpoint", &S::m_nReportEndpoint, 0xFE},
    {"minRefNodes", &S::m_nMinRefNodes, 3},
    {"appendToLogFile", &S::m_nAppendToLogFile, 0x7FFFFFFFu},
};

Texts SettingsTexts(const CTessarinSettings& settings)
{
    Texts texts;
    char text[64];
    for (const SettingsDword& d : kSettingsDwords) {
        std::snprintf(text, sizeof text, "%s=0x%X", d.name, static_cast<unsigned>(settings.*d.member));
        texts.push_back(text);
    }
    texts.push_back(
        std::string("strLogFile=") +
        std::string(settings.m_szLogFile, strnlen(settings.m_szLogFile, sizeof settings.m_szLogFile)));
    return texts;
}

void FillSettings(CTessarinSettings& settings, const std::string& logFile)
{
    for (const SettingsDword& d : kSettingsDwords)
        settings.*d.member = d.other;
    std::memset(settings.m_szLogFile, 0, sizeof settings.m_szLogFile);
    std::memcpy(settings.m_szLogFile, logFile.data(), std::min(logFile.size(), sizeof settings.m_szLogFile));
}

void CCollectingSink::ShowWarning(const char* text)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_texts.emplace_back(text);
}

Texts CCollectingSink::Warnings()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_texts;
}
