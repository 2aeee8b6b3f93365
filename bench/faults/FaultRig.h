#pragma once
// What the fault harnesses (tests/faults) and the long proof runs (bench/faults) share:
// private folders so nothing reaches the user's settings or a real serial device, the
// dongle's side of a pseudo-terminal, the line a received frame must give, a noisy
// stream whose good frames can all be found, and the process's own figures.
// Free of any test framework, so the proof programs can use it as well.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "link/Frame.h"

namespace faultrig {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A fresh folder under the temporary folder; "" when none can be made.
inline std::string MakeTempFolder(const char* tag)
{
    std::string pattern = (fs::temp_directory_path() / (std::string("tessarin-") + tag + "-XXXXXX")).string();
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// Points XDG_CONFIG_HOME and the device folder at a fresh folder for the process's
// whole life, so COM names resolve only to links made here. Returns the folder.
inline const std::string& PrivateRoot()
{
    static const std::string root = [] {
        std::string folder = MakeTempFolder("faults");
        if (folder.empty())
            std::abort();   // better no run than one that reaches the user's own files
        std::error_code ignored;
        fs::create_directories(folder + "/config/tessarin/ports", ignored);
        fs::create_directories(folder + "/dev", ignored);
        setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
        setenv("TESSARIN_DEVICE_DIR", (folder + "/dev").c_str(), 1);
        return folder;
    }();
    return root;
}

inline std::string PortLinkFolder()
{
    return PrivateRoot() + "/config/tessarin/ports";
}

// Descriptors and threads of this process, from /proc.
inline int CountEntries(const char* folder)
{
    int n = 0;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        ++n;
    return n;
}
inline int OpenDescriptors()
{
    return CountEntries("/proc/self/fd");
}
inline int Threads()
{
    return CountEntries("/proc/self/task");
}

// Runs body in a child process that must end within seconds; body adds a line to its
// report for each failed check. Returns the report, "" when everything held.
inline std::string RunInChild(const std::function<void(std::string& report)>& body, unsigned seconds = 60)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        close(fds[0]);
        alarm(seconds);   // a hang ends as SIGALRM
        std::string report;
        body(report);
        const ssize_t ignored = write(fds[1], report.data(), report.size());
        (void)ignored;   // the parent sees a short report as a failure anyway
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char chunk[512];
    for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;)
        report.append(chunk, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        report += "child died of signal " + std::to_string(WTERMSIG(status)) + "\n";
    return report;
}

#define RIG_CHECK(report, cond)                                                                 \
    do {                                                                                        \
        if (!(cond))                                                                            \
            (report) += std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #cond "\n"; \
    } while (0)

inline double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

inline Bytes MakeFrame(uint16_t command, const Bytes& data)
{
    Bytes out(data.size() + FRAME_OVERHEAD);
    BuildFrame(command, data.data(), static_cast<int>(data.size()), out.data());
    return out;
}

// The dongle's end of a pseudo-terminal, linked as a COM name while it lives.
class CPtyDongle {
public:
    explicit CPtyDongle(const char* comName = "COM21") : m_strLink(PortLinkFolder() + "/" + comName)
    {
        int slave = -1;
        char name[128];
        if (openpty(&m_nMaster, &slave, name, nullptr, nullptr) != 0)
            return;
        close(slave);   // the device stays while our side is open
        m_strSlave = name;
        std::error_code ignored;
        fs::remove(m_strLink, ignored);
        fs::create_symlink(m_strSlave, m_strLink, ignored);
    }
    ~CPtyDongle()
    {
        HangUp();
        std::error_code ignored;
        fs::remove(m_strLink, ignored);
    }
    CPtyDongle(const CPtyDongle&) = delete;
    CPtyDongle& operator=(const CPtyDongle&) = delete;

    bool IsOpen() const { return m_nMaster >= 0; }
    const std::string& SlavePath() const { return m_strSlave; }

    // Writes all of bytes, waiting while the line is full; false if the line failed.
    bool Send(const uint8_t* bytes, size_t size)
    {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = write(m_nMaster, bytes + done, size - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return false;
            }
        }
        return true;
    }
    bool Send(const Bytes& bytes) { return Send(bytes.data(), bytes.size()); }

    // Whatever the program wrote, waiting up to timeoutMs for the first byte.
    Bytes Receive(int timeoutMs)
    {
        Bytes got;
        pollfd pfd = {m_nMaster, POLLIN, 0};
        while (poll(&pfd, 1, got.empty() ? timeoutMs : 50) > 0 && (pfd.revents & POLLIN)) {
            uint8_t chunk[512];
            const ssize_t n = read(m_nMaster, chunk, sizeof chunk);
            if (n <= 0)
                break;
            got.insert(got.end(), chunk, chunk + n);
        }
        return got;
    }

    // The dongle unplugged: our side closes, the device hangs up and its path goes.
    void HangUp()
    {
        if (m_nMaster >= 0)
            close(m_nMaster);
        m_nMaster = -1;
    }

    // A forced hang-up of the device (as a driver does when the adapter goes); our side
    // stays open. False when the kernel refused it.
    bool ForceHangUp()
    {
        const int fd = open(m_strSlave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool ok = ioctl(fd, TIOCVHANGUP) == 0;
        close(fd);
        return ok;
    }

private:
    std::string m_strLink;
    std::string m_strSlave;
    int m_nMaster = -1;
};

// The line a received frame must give, less its 12-character time stamp; "" when the
// capture logs nothing for it (no data, or a command it does not take).
inline std::string ExpectedLineText(int command, const uint8_t* d, int length)
{
    static const char digits[] = "0123456789ABCDEF";
    auto hex = [&](const uint8_t* bytes, int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            text += digits[bytes[i] >> 4];
            text += digits[bytes[i] & 15];
            text += ' ';
        }
        return text;
    };
    auto line = [](unsigned addr, const std::string& name, const std::string& hexText) {
        char head[48];
        std::snprintf(head, sizeof head, " |-->| 0x%04X |%-19s|", addr, name.c_str());
        return head + hexText;
    };
    if (length <= 0)
        return std::string();
    switch (command) {
    case CMD_DATA_INDICATION:
    case CMD_DATA_REQUEST: {
        static const char* const names[] = {"REF_REQ",  "REF_RSP",    "BLIND_REQ",    "BLIND_RSP",
                                            "REF_CONF", "BLIND_CONF", "REF_REQ_CONF", "BLIND_REQ_CONF"};
        // A short frame shows the header fields it holds; the rest read as 0.
        const unsigned addr = length >= 3 ? unsigned(d[1] | d[2] << 8) : 0;
        const unsigned cluster = length >= 6 ? unsigned(d[4] | d[5] << 8) : 0;
        const int shown = length >= MSG_HEADER_LENGTH ? std::min<int>(d[6], length - MSG_HEADER_LENGTH) : 0;
        char unknown[8];
        std::snprintf(unknown, sizeof unknown, "0x%04X", cluster);
        const std::string name = cluster >= 0x11 && cluster <= 0x18 ? names[cluster - 0x11] : unknown;
        return line(addr, name, hex(d + MSG_HEADER_LENGTH, shown));
    }
    case CMD_PING_RESPONSE:
        return line(0, "PING_RESPONSE", "");
    case CMD_DEV_INFO_RSP:
        return line(0, "DEV_INFO_RSP", hex(d, length));
    default:
        return std::string();
    }
}

struct ScannedFrame {
    size_t offset;
    int command;
    Bytes data;
};

// The frames the reader finds in a stream held whole (it never holds more than a frame
// and a read here, so its receive area never drops anything).
inline std::vector<ScannedFrame> ScanStream(const Bytes& s)
{
    std::vector<ScannedFrame> frames;
    size_t p = 0;
    const size_t n = s.size();
    while (p < n) {
        const uint8_t* at = static_cast<const uint8_t*>(std::memchr(s.data() + p, FRAME_START, n - p));
        if (at == nullptr)
            break;
        p = static_cast<size_t>(at - s.data());
        if (p + 3 >= n)
            break;
        const int length = s[p + 3];
        if (length > MAX_RX_DATA_LENGTH || p + length + 4 >= n ||
            ComputeFcs(length + 4, s.data() + p + 1) != 0) {
            ++p;
            continue;
        }
        frames.push_back(
            {p, s[p + 1] * 256 + s[p + 2], Bytes(s.begin() + p + 4, s.begin() + p + 4 + length)});
        p += length + FRAME_OVERHEAD;
    }
    return frames;
}

// Uniform random noise with good frames set into it, and in the noise frames with good
// checksums and junk inside: the commands the capture handles, with any length and any
// data (headers cut short, unknown clusters, lengths that claim more than they carry).
// The noise may form frames of its own too, but never one that swallows the start of a
// good frame: a real line could do that, and no reader could then tell.
struct NoisyStream {
    Bytes bytes;
    std::vector<size_t> goodOffsets;
    std::vector<ScannedFrame> frames;   // everything the reader must deliver, in order
    int nRerolls = 0;
};

inline NoisyStream MakeNoisyStream(uint64_t seed, size_t noiseBytes, int goodFrames, int junkPerGap = 4)
{
    std::mt19937_64 random(seed);
    std::vector<Bytes> noise(static_cast<size_t>(goodFrames) + 1);
    std::vector<Bytes> good(static_cast<size_t>(goodFrames));
    auto fill = [&](Bytes& chunk, size_t size) {
        chunk.resize(size);
        for (uint8_t& b : chunk)
            b = static_cast<uint8_t>(random());
        static const uint16_t handled[] = {CMD_DATA_INDICATION, CMD_DATA_REQUEST, CMD_DEV_INFO_RSP,
                                           CMD_PING_RESPONSE, 0x4242};
        for (int j = 0; j < junkPerGap && size > 64; ++j) {
            Bytes data(random() % (MAX_RX_DATA_LENGTH + 1));
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(random());
            if (data.size() > 0 && random() % 2 == 0)
                data[0] = static_cast<uint8_t>(random() % 2);   // device status 0 now and then
            const Bytes junk = MakeFrame(handled[random() % 5], data);
            const size_t at = random() % (size - junk.size());
            std::copy(junk.begin(), junk.end(), chunk.begin() + static_cast<long>(at));
        }
    };
    for (size_t i = 0; i < noise.size(); ++i)
        fill(noise[i], noiseBytes / noise.size());
    for (int i = 0; i < goodFrames; ++i) {
        // Node messages of every length, with the frame's number in the source address.
        const int n = static_cast<int>(random() % (MAX_RX_DATA_LENGTH - MSG_HEADER_LENGTH + 1));
        Bytes data = {
            MSG_TAG_FIRST, uint8_t(i), uint8_t(i >> 8), MSG_TAG_SECOND, uint8_t(0x11 + random() % 8),
            0x00,          uint8_t(n)};
        for (int k = 0; k < n; ++k)
            data.push_back(static_cast<uint8_t>(random()));
        good[static_cast<size_t>(i)] = MakeFrame(CMD_DATA_INDICATION, data);
    }

    NoisyStream out;
    for (;;) {
        out.bytes.clear();
        out.goodOffsets.clear();
        for (int i = 0; i < goodFrames; ++i) {
            out.bytes.insert(out.bytes.end(), noise[size_t(i)].begin(), noise[size_t(i)].end());
            out.goodOffsets.push_back(out.bytes.size());
            out.bytes.insert(out.bytes.end(), good[size_t(i)].begin(), good[size_t(i)].end());
        }
        out.bytes.insert(out.bytes.end(), noise.back().begin(), noise.back().end());
        out.frames = ScanStream(out.bytes);

        size_t f = 0;
        int swallowed = -1;
        for (int i = 0; i < goodFrames && swallowed < 0; ++i) {
            while (f < out.frames.size() && out.frames[f].offset < out.goodOffsets[size_t(i)])
                ++f;
            if (f == out.frames.size() || out.frames[f].offset != out.goodOffsets[size_t(i)])
                swallowed = i;
        }
        if (swallowed < 0)
            return out;
        fill(noise[size_t(swallowed)], noise[size_t(swallowed)].size());
        ++out.nRerolls;
    }
}

}   // namespace faultrig
