#pragma once
// Test helpers: a private folder for XDG_CONFIG_HOME and the device folder, so no test
// touches ~/.config or /dev, and a pseudo-terminal linked as a COM name whose master
// side the test drives as the dongle.

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testpty {

namespace fs = std::filesystem;

inline std::string MakeTempFolder(const char* tag)
{
    std::string pattern = (fs::temp_directory_path() / (std::string("tessarin-") + tag + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    return pattern;
}

// One per test process: every test sees an empty links folder and device folder.
class PrivateFolders : public ::testing::Environment {
public:
    void SetUp() override
    {
        root = MakeTempFolder("env");
        fs::create_directories(LinkFolder());
        fs::create_directories(DeviceFolder());
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("TESSARIN_DEVICE_DIR", DeviceFolder().c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    static std::string LinkFolder() { return root + "/config/tessarin/ports"; }
    static std::string DeviceFolder() { return root + "/dev"; }
    static inline std::string root;
};

inline void LinkComName(const std::string& comName, const std::string& target)
{
    const std::string link = PrivateFolders::LinkFolder() + "/" + comName;
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink(target, link);
}

inline void UnlinkComName(const std::string& comName)
{
    std::error_code ignored;
    fs::remove(PrivateFolders::LinkFolder() + "/" + comName, ignored);
}

inline long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now() - start).count();
}

// The dongle's side of a pseudo-terminal, linked as comName while it lives.
class PtyPeer {
public:
    explicit PtyPeer(const char* comName = "COM21") : m_comName(comName)
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
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                ADD_FAILURE() << "write to the pty master failed";
                return;
            }
            done += static_cast<size_t>(n);
        }
    }

    // Reads until want bytes came or timeoutMs passed; returns what came.
    std::vector<uint8_t> Receive(size_t want, int timeoutMs = 2000)
    {
        std::vector<uint8_t> got;
        const auto start = std::chrono::steady_clock::now();
        while (got.size() < want) {
            const long long left = timeoutMs - MsSince(start);
            if (left <= 0)
                break;
            struct pollfd pfd = {m_master, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0)
                continue;
            uint8_t buffer[256];
            const ssize_t n = read(m_master, buffer, sizeof buffer < want - got.size() ? sizeof buffer : want - got.size());
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
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
