#pragma once
// The peers of the POSIX tests: the dongle's side of a pseudo-terminal, the simulator and
// the headless tool as child processes, and a body run as an ordinary user or in a child
// of its own.

#include <sys/types.h>

#include <functional>
#include <string>

#include "tests/support/TestSupport.h"

// The dongle's side of a pseudo-terminal, linked as comName (unless "") while it lives.
class CPtyPeer {
public:
    explicit CPtyPeer(const char* comName = "COM21");
    ~CPtyPeer();
    CPtyPeer(const CPtyPeer&) = delete;
    CPtyPeer& operator=(const CPtyPeer&) = delete;

    const std::string& SlavePath() const { return m_strSlave; }
    // Writes all of bytes, waiting while the line is full; false if the line failed.
    bool Send(const Bytes& bytes);
    // Reads until want bytes came or timeoutMs passed; what came.
    Bytes Receive(size_t want, int timeoutMs = 2000);
    // Whatever comes until the line is quiet for quietMs (waiting up to timeoutMs first).
    Bytes ReceiveAll(int timeoutMs = 2000, int quietMs = 50);
    // The dongle unplugged: our side closes, the device hangs up and its path goes.
    void HangUp();

private:
    std::string m_strComName;
    std::string m_strSlave;
    int m_nMaster = -1;
};

// A USB dongle plugged in: a pseudo-terminal linked as <dev>/<node> and, as udev names
// it, <dev>/serial/by-id/<id> -> ../../<node>. Destroyed, it is unplugged: both go.
class CUsbDongle {
public:
    CUsbDongle(const std::string& id, const std::string& node);
    ~CUsbDongle();
    CPtyPeer& Peer() { return m_peer; }

private:
    std::string m_strNode, m_strIdLink;
    CPtyPeer m_peer{""};
};

// Any program as a child process (a broker, the simulator), its output (and its errors,
// unless told otherwise) appended to a file, stopped with SIGTERM when destroyed.
class CChildProcess {
public:
    ~CChildProcess() { Stop(); }
    void Start(const std::string& program, const Texts& args, const std::string& outFile,
               bool errorsToo = true);
    // SIGTERM and wait; the exit status, or -1 when it was not running.
    int Stop();
    // SIGKILL and wait.
    void Kill();

private:
    pid_t m_pid = -1;
};

// The simulator as a child process, stopped with SIGTERM when destroyed.
class CSimProcess {
public:
    ~CSimProcess() { Stop(); }
    // Starts it with the options and waits for its first line ("<device> COM<n>"); false
    // if it never said it was ready.
    bool Start(const std::vector<std::string>& options);
    const std::string& Device() const { return m_strDevice; }
    // SIGTERM and wait; the exit status, or -1 when it was not running.
    int Stop() { return m_child.Stop(); }
    // SIGKILL: the dongle unplugged.
    void Kill() { m_child.Kill(); }

private:
    CScratchFolder m_folder{"sim"};
    CChildProcess m_child;
    std::string m_strDevice;
};

// A loopback TCP port free at the moment of asking (for a broker of the test's own).
int FreeLoopbackPort();

const char* SimPath();
const char* CapturePath();

struct ToolResult {
    int status = -1;   // exit status, or 128 + signal
    long maxRssKb = 0;
    std::string out;
    std::string err;
};

// Runs a program in folder cwd with the text as standard input. When keepInputOpen,
// standard input stays open until the program ends; termAfterSeconds > 0 sends SIGTERM
// after that long. Gives up (SIGKILL) after 30 s.
ToolResult RunProgram(const std::string& program, const Texts& args, const std::string& cwd,
                      const std::string& input, bool keepInputOpen = false, double termAfterSeconds = 0);

// Runs body in a child as the user nobody (root ignores file modes and TIOCEXCL); the
// child's exit status, 255 when it could not become that user.
int AsOrdinaryUser(const std::function<int()>& body);

// Runs body in a child that must end within seconds (limits and signals set there stay
// there); its exit status, or 128 + signal.
int InChild(const std::function<int()>& body, unsigned seconds = 60);
