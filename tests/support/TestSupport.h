#pragma once
// What every test shares, on every OS: the process's private scratch folder (so no test
// reaches the user's settings, port links or a real serial device), files read and
// written whole, waiting for a condition, the checks of log lines, the sixteen settings
// values, and a warning sink that keeps what it is told.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/settings/TessarinSettings.h"
#include "link/LinkNotify.h"

using Texts = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// A fresh folder in the temporary folder, removed with all it holds.
class CScratchFolder {
public:
    explicit CScratchFolder(const char* tag = "test");
    ~CScratchFolder();
    CScratchFolder(const CScratchFolder&) = delete;
    CScratchFolder& operator=(const CScratchFolder&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

// The folder the test mains make before any test runs: XDG_CONFIG_HOME, XDG_CACHE_HOME
// and XDG_DATA_HOME point into it, TESSARIN_DEVICE_DIR at its empty device folder and
// TESSARIN_LOCK_DIR at its folder of serial lock files.
const std::string& PrivateRoot();
void RemovePrivateRoot();
std::string PortLinkFolder();
std::string DeviceFolder();
void LinkComName(const std::string& comName, const std::string& target);
void UnlinkComName(const std::string& comName);

std::string ReadFile(const std::string& path);
Texts ReadLines(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// Polls the condition until it holds or the time is up; the condition's last value.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));
long long MsSince(std::chrono::steady_clock::time_point start);

// A whole frame with the command and data, as the dongle sends it.
Bytes Frame(uint16_t command, const Bytes& data);

// A log line as the engine forms it, at 12:34:56:789.
std::string LogLineAt(bool sent, uint16_t addr, const char* name, const char* hex = "01 02 ");
// The lines less their time stamps.
Texts WithoutTimes(Texts lines);

// The fifteen 32-bit values in their stored order, each with a value that differs from
// the others and from the default (top, high and low bytes set where a shortened or
// swapped copy would show); the sixteenth is the log file name.
struct SettingsDword {
    const char* name;
    uint32_t CTessarinSettings::*member;
    uint32_t other;
};
extern const SettingsDword kSettingsDwords[15];
// The record as "name=0x..." texts and "strLogFile=...", for comparisons that name what moved.
Texts SettingsTexts(const CTessarinSettings& settings);
// Every value to its other value, and the log file name to logFile.
void FillSettings(CTessarinSettings& settings, const std::string& logFile);

// Keeps every warning it is shown; any thread.
class CCollectingSink : public IWarningSink {
public:
    void ShowWarning(const char* text) override;
    Texts Warnings();

private:
    std::mutex m_lock;
    Texts m_texts;
};
