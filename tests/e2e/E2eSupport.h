#pragma once
// Helpers of the end-to-end tests: a private folder that plays the user's config folder,
// the dongle simulator as a child process, and running the capture tool.

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// A fresh folder, removed with everything in it at the end. Points XDG_CONFIG_HOME at
// <folder>/config and TESSARIN_DEVICE_DIR at an empty <folder>/dev, so that no test
// can reach the user's settings or a real serial device.
class CTestFolder {
public:
    CTestFolder();
    ~CTestFolder();
    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

// The simulator as a child process. Stopped with SIGTERM when destroyed.
class CSimProcess {
public:
    ~CSimProcess() { Stop(); }
    // Starts it with the given options and waits for its first line; false if it never
    // said it was ready.
    bool Start(const std::vector<std::string>& options);
    // SIGTERM and wait; the exit status, or -1 when it was not running.
    int Stop();
    void Kill();                 // SIGKILL: the dongle unplugged

private:
    pid_t m_pid = -1;
};

struct ToolResult {
    int status = -1;             // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program in folder cwd with the text as standard input. When keepInputOpen,
// standard input stays open until the program ends; afterSeconds > 0 sends SIGTERM
// after that long. Gives up (SIGKILL) after 30 s.
ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::string& input,
                      bool keepInputOpen = false, double termAfterSeconds = 0);

std::vector<std::string> ReadLines(const std::string& file);
void WriteText(const std::string& file, const std::string& text);
bool FileExists(const std::string& file);

// Polls the condition until it holds or the time is up; the condition's last value.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// True when the line has the log line form: time, direction, address, padded name,
// hex text, exactly four '|'.
bool IsLogLine(const std::string& line);
