#include "platform/SerialPort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/ComPortNames.h"
#include "platform/SerialLockPosix.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int READ_INTERVAL_MS = 100;   // after the last byte, once bytes have begun
constexpr int READ_TOTAL_MS = 500;
constexpr int WRITE_MS_PER_BYTE = 60;
constexpr int WRITE_TOTAL_MS = 2000;

bool SpeedFor(int baudRate, speed_t& speed)
{
    switch (baudRate) {
    case 1200:
        speed = B1200;
        return true;
    case 2400:
        speed = B2400;
        return true;
    case 4800:
        speed = B4800;
        return true;
    case 9600:
        speed = B9600;
        return true;
    case 19200:
        speed = B19200;
        return true;
    case 38400:
        speed = B38400;
        return true;
    case 57600:
        speed = B57600;
        return true;
    case 115200:
        speed = B115200;
        return true;
    case 230400:
        speed = B230400;
        return true;
    default:
        return false;
    }
}

// Milliseconds from now until deadline, rounded up so a poll never wakes just early.
int MillisecondsUntil(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// The driver takes bytes long before they leave (behind a low CTS, for one), and a
// frame that never leaves must not count as sent. Waits until the output queue is empty
// or the deadline has passed; then drops what is still queued, so that no stale frame
// goes out later, and returns how many bytes that was. A driver that cannot tell its
// queue (ioctl fails) is taken at its word: 0.
int AwaitOutputSent(int fd, Clock::time_point deadline)
{
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
            return 0;
        const int wait = MillisecondsUntil(deadline);
        if (wait == 0) {
            (void)tcflush(fd, TCOFLUSH);   // failing it changes nothing: the write failed
            return queued;
        }
        // A byte takes about a quarter of a millisecond at 38400 baud.
        usleep(static_cast<useconds_t>(std::min(wait, 2 + queued / 4)) * 1000u);
    }
}

// A hung-up or unplugged device fails every call from now on.
bool IsGoneError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

}   // namespace

struct CSerialPort::Impl {
    int fd = -1;
    std::string strDevice;   // for the lock file
    std::atomic<bool> gone{false};
};

CSerialPort::CSerialPort() : m_pImpl(new Impl) {}

CSerialPort::~CSerialPort()
{
    Close();
    delete m_pImpl;
}

bool CSerialPort::Open(const char* comName, int baudRate)
{
    if (m_pImpl->fd >= 0)
        return false;
    speed_t speed;
    if (!SpeedFor(baudRate, speed))
        return false;
    const std::string path = ComPortDevicePath(comName);
    // A missing device is told at once, without a look through every process for it
    // (a capture waiting for its dongle asks at every device event).
    if (path.empty() || access(path.c_str(), F_OK) != 0 || IsSerialDeviceHeld(path))
        return false;

    // O_NONBLOCK: the open must not wait for a modem line, and reads and writes wait in
    // poll(), which gives the timeouts; O_NOCTTY: the dongle never becomes our terminal.
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;

    // Root passes TIOCEXCL, but not the advisory lock: that is what keeps a second
    // opener out, in this process or another.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {   // a regular file or /dev/null is no port
        close(fd);
        return false;
    }
    // Keeps ordinary users out even if they ignore the advisory lock; the lock alone
    // still holds where the driver refuses it.
    (void)ioctl(fd, TIOCEXCL);

    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY | INPCK);
    tio.c_iflag |= IGNPAR;   // no parity: a line error must not insert marker bytes
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    // CLOCAL: the carrier line is ignored, as the dongle never drives it.
    tio.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 || tcsetattr(fd, TCSANOW, &tio) != 0) {
        close(fd);
        return false;
    }
    // Bytes from before the settings (echoed, half frames) are no use to the reader.
    (void)tcflush(fd, TCIOFLUSH);

    // RTS held asserted, DTR off. A pseudo-terminal has no modem lines and refuses both.
    int bits = TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &bits);
    bits = TIOCM_DTR;
    (void)ioctl(fd, TIOCMBIC, &bits);

    // The device itself, not the name: once unplugged, a link to it resolves no more, and
    // the lock would stay behind.
    char real[PATH_MAX];
    const std::string device = realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
    if (!LockSerialDevice(device)) {   // another program took it meanwhile
        close(fd);
        return false;
    }
    m_pImpl->gone = false;
    m_pImpl->fd = fd;
    m_pImpl->strDevice = device;
    return true;
}

bool CSerialPort::Close()
{
    if (m_pImpl->fd < 0)
        return false;
    // Output stuck behind a low CTS would hold close() for the driver's closing wait
    // (30 s by default): drop it, as a purge does.
    (void)tcflush(m_pImpl->fd, TCIOFLUSH);
    // Exclusive mode outlives us while another descriptor keeps the device open (a
    // simulator holding its own end): give the port back to everyone.
    (void)ioctl(m_pImpl->fd, TIOCNXCL);
    // The descriptor is released whatever close() reports; retrying could close another.
    (void)close(m_pImpl->fd);
    m_pImpl->fd = -1;
    UnlockSerialDevice(m_pImpl->strDevice);
    return true;
}

bool CSerialPort::IsOpen() const
{
    return m_pImpl->fd >= 0;
}

bool CSerialPort::IsGone() const
{
    return m_pImpl->gone.load();
}

int CSerialPort::Read(uint8_t* buffer, int count)
{
    const int fd = m_pImpl->fd;
    if (fd < 0 || count <= 0 || m_pImpl->gone)
        return 0;

    const auto deadline = Clock::now() + std::chrono::milliseconds(READ_TOTAL_MS);
    Clock::time_point intervalEnd = deadline;
    int got = 0;
    while (got < count) {
        int wait = MillisecondsUntil(got > 0 && intervalEnd < deadline ? intervalEnd : deadline);
        struct pollfd pfd = {fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0) {
            if (wait == 0)
                break;
            continue;   // woke a hair early: the deadline check above decides
        }
        const ssize_t n = read(fd, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            intervalEnd = Clock::now() + std::chrono::milliseconds(READ_INTERVAL_MS);
            continue;
        }
        if (n == 0) {
            // Ready yet empty is the end of the line (a hang-up), never "no data yet":
            // treating it as the latter would spin.
            m_pImpl->gone = true;
            break;
        }
        if (errno == EINTR || errno == EAGAIN) {
            if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                m_pImpl->gone = true;
                break;
            }
            continue;
        }
        if (IsGoneError(errno))
            m_pImpl->gone = true;
        break;
    }
    return got;
}

int CSerialPort::Write(const uint8_t* buffer, int count)
{
    const int fd = m_pImpl->fd;
    if (fd < 0 || count <= 0)
        return 0;

    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(static_cast<long long>(WRITE_MS_PER_BYTE) * count + WRITE_TOTAL_MS);
    int written = 0;
    while (written < count) {
        const ssize_t n = write(fd, buffer + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            if (IsGoneError(errno))
                m_pImpl->gone = true;
            break;
        }
        // The driver's buffer is full (flow control holds the line): wait for room.
        const int wait = MillisecondsUntil(deadline);
        if (wait == 0)
            break;
        struct pollfd pfd = {fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, wait);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (pfd.revents & (POLLERR | POLLNVAL)) && !(pfd.revents & POLLOUT)) {
            m_pImpl->gone = true;
            break;
        }
    }
    if (written < count)
        return written;
    return written - AwaitOutputSent(fd, deadline);
}
