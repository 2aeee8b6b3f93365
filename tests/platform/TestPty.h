#pragma once
// Test helpers: private folders for XDG_CONFIG_HOME and the device folder, so no test
// touches ~/.config or /dev, and a pseudo-terminal linked as a COM name whose master
// side the test drives as the dongle.

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

namespace testpty {

namespace fs = std::filesystem;

inline std::string MakeTempFolder(const char* tag)
{
    std::string pattern = (fs::temp_directory_path() / (std::string("tessarin-") + tag + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    return pattern;
}

// A fresh folder, removed with everything in it at the end.
struct TempFolder {
    explicit TempFolder(const char* tag) : path(MakeTempFolder(tag)) {}
    ~TempFolder() { fs::remove_all(path, ignored); }
    const std::string path;
    std::error_code ignored;
};

// One per test process: every test sees an empty links folder and device folder.
class PrivateFolders : public ::testing::Environment {
public:
    void SetUp() override
    {
        folder = std::make_unique<TempFolder>("env");
        root = folder->path;
        fs::create_directories(LinkFolder());
        fs::create_directories(DeviceFolder());
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("TESSARIN_DEVICE_DIR", DeviceFolder().c_str(), 1);
    }
    void TearDown() override { folder.reset(); }
    static std::string LinkFolder() { return root + "/config/tessarin/ports"; }
    static std::string DeviceFolder() { return root + "/dev"; }
    static inline std::string root;
    std::unique_ptr<TempFolder> folder;
};

inline ::testing::Environment* const g_privateFolders = ::testing::AddGlobalTestEnvironment(new PrivateFolders);

inline void UnlinkComName(const std::string& comName)
{
    std::error_code ignored;
    fs::remove(PrivateFolders::LinkFolder() + "/" + comName, ignored);
}

inline void LinkComName(const std::string& comName, const std::string& target)
{
    UnlinkComName(comName);
    fs::create_symlink(target, PrivateFolders::LinkFolder() + "/" + comName);
}

inline long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs body in a child as an ordinary user (root ignores file modes and TIOCEXCL);
// the child's exit status, 255 when it could not become that user.
inline int AsOrdinaryUser(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(255);
        _exit(body());
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
}

// The dongle's side of a pseudo-terminal, linked as comName while it lives.
class PtyPeer {
public:
    explicit PtyPeer(const char* comName) : m_comName(comName)
    {
        int slave = -1;
        char name[128];
        if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return;
        }
        close(slave);   // the slave path stays while the master is open
        m_slavePath = name;
        LinkComName(m_comName, m_slavePath);
    }
    ~PtyPeer()
    {
        HangUp();
        UnlinkComName(m_comName);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }

    void Send(const std::vector<uint8_t>& bytes)
    {
        // Far below the 17 KB a pseudo-terminal holds: one write takes it all.
        if (write(m_master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            ADD_FAILURE() << "write to the pty master failed";
    }

    // Reads until want bytes came or timeoutMs passed; returns what came.
    std::vector<uint8_t> Receive(size_t want, int timeoutMs = 2000)
    {
        std::vector<uint8_t> got(want);
        size_t have = 0;
        const auto start = std::chrono::steady_clock::now();
        for (long long left = timeoutMs; have < want && left > 0; left = timeoutMs - MsSince(start)) {
            struct pollfd pfd = {m_master, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0)
                continue;
            const ssize_t n = read(m_master, &got[have], want - have);
            if (n <= 0)
                break;
            have += static_cast<size_t>(n);
        }
        got.resize(have);
        return got;
    }

    // Closing the master is the dongle unplugged: the slave hangs up.
    void HangUp()
    {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

private:
    std::string m_comName;
    std::string m_slavePath;
    int m_master = -1;
};

}  // namespace testpty
