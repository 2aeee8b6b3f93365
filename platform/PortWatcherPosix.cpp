#include "platform/PortWatcher.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "platform/ComPortNames.h"

namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO;

// In the device folder only serial devices and the serial folder matter: a busy /dev
// (disks, sound, ptys of terminals come and go in their own sub-folders) must not wake
// the port list.
bool MattersInDeviceFolder(const char* name)
{
    return std::strncmp(name, "tty", 3) == 0 || std::strcmp(name, "serial") == 0;
}

}   // namespace

struct CPortWatcher::Impl {
    int inotifyFd = -1;
    int stopFd = -1;
    int deviceWatch = -1;
    std::thread thread;
    std::function<void()> onChange;
    int settleMs = 0;

    // Watching a folder twice gives its old watch back, so this runs after every batch:
    // a by-id folder made by the first USB device since boot is then watched too.
    void AddWatches()
    {
        const std::string dev = ComPortDeviceFolder();
        deviceWatch = inotify_add_watch(inotifyFd, dev.c_str(), kWatchMask);
        // Folders that do not exist yet fail here and are tried again at the next batch.
        (void)inotify_add_watch(inotifyFd, (dev + "/serial").c_str(), kWatchMask);
        (void)inotify_add_watch(inotifyFd, (dev + "/serial/by-id").c_str(), kWatchMask);
        const std::string links = ComPortLinkFolder();
        if (!links.empty())
            (void)inotify_add_watch(inotifyFd, links.c_str(), kWatchMask);
    }

    // Reads what is queued; true when any of it matters.
    bool Drain()
    {
        bool matters = false;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = read(inotifyFd, buffer, sizeof buffer);
            if (n <= 0)
                return matters;   // EAGAIN: all read
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_Q_OVERFLOW)
                    matters = true;   // events were lost: anything may have changed
                else if (event->wd != deviceWatch || (event->len > 0 && MattersInDeviceFolder(event->name)))
                    matters = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    // Blocks until the inotify descriptor is readable (true) or Stop (false), at most
    // timeoutMs (-1: no limit); on a timeout the result is true and ready false.
    bool Wait(int timeoutMs, bool& ready)
    {
        pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        int n;
        do {
            n = poll(fds, 2, timeoutMs);
        } while (n < 0 && errno == EINTR);
        ready = n > 0 && (fds[0].revents & POLLIN);
        return n >= 0 && !(fds[1].revents & POLLIN);
    }

    void Run()
    {
        bool ready = false;
        while (Wait(-1, ready)) {
            if (!ready || !Drain())
                continue;
            // A plug-in is a burst (node, modes, by-id link): told once it is over.
            bool quiet = settleMs == 0;
            while (!quiet) {
                if (!Wait(settleMs, ready))
                    return;
                quiet = !ready;
                if (ready)
                    Drain();
            }
            AddWatches();
            onChange();
        }
    }
};

CPortWatcher::CPortWatcher() : m_pImpl(new Impl) {}

CPortWatcher::~CPortWatcher()
{
    Stop();
    delete m_pImpl;
}

bool CPortWatcher::Start(std::function<void()> onChange, int settleMs)
{
    Impl& d = *m_pImpl;
    if (d.thread.joinable())
        return false;
    d.inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    d.stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d.inotifyFd < 0 || d.stopFd < 0) {
        Stop();
        return false;
    }
    d.onChange = std::move(onChange);
    d.settleMs = settleMs;
    d.AddWatches();
    try {
        d.thread = std::thread([&d] { d.Run(); });
    } catch (const std::exception&) {
        Stop();   // no thread: the caller does without events
        return false;
    }
    return true;
}

void CPortWatcher::Stop()
{
    Impl& d = *m_pImpl;
    if (d.thread.joinable()) {
        const uint64_t one = 1;
        // An eventfd write fails only when its counter is full, which also wakes the thread.
        (void)write(d.stopFd, &one, sizeof one);
        d.thread.join();
    }
    // Closing the descriptors releases the watches with them.
    for (int* fd : {&d.inotifyFd, &d.stopFd}) {
        if (*fd >= 0)
            (void)close(*fd);
        *fd = -1;
    }
    d.deviceWatch = -1;
}
