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

CPortWatcher::CPortWatcher() : m_pImpl(new Impl)
{
    // Made once for the object's life, so that Wake is safe at any time; without it
    // nothing is watched.
    m_pImpl->stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CPortWatcher::~CPortWatcher()
{
    Stop();
    if (m_pImpl->stopFd >= 0)
        (void)close(m_pImpl->stopFd);   // nothing waits on it any more
    delete m_pImpl;
}

bool CPortWatcher::FollowsDevices()
{
    return true;
}

bool CPortWatcher::Watch()
{
    Impl& d = *m_pImpl;
    if (d.thread.joinable() || d.inotifyFd >= 0 || d.stopFd < 0)
        return false;
    uint64_t count = 0;
    // Wakes given before this one are old news; EAGAIN says there were none.
    (void)read(d.stopFd, &count, sizeof count);
    d.inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (d.inotifyFd < 0)
        return false;
    d.AddWatches();
    return true;
}

bool CPortWatcher::WaitForChange(int timeoutMs)
{
    Impl& d = *m_pImpl;
    bool ready = false;
    if (d.inotifyFd < 0 || !d.Wait(timeoutMs, ready) || !ready || !d.Drain())
        return false;
    d.AddWatches();
    return true;
}

void CPortWatcher::Wake()
{
    const uint64_t one = 1;
    // Fails only when the counter is full, which wakes the waiter all the same.
    (void)write(m_pImpl->stopFd, &one, sizeof one);
}

bool CPortWatcher::Start(std::function<void()> onChange, int settleMs)
{
    Impl& d = *m_pImpl;
    if (!Watch())
        return false;
    d.onChange = std::move(onChange);
    d.settleMs = settleMs;
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
        Wake();
        d.thread.join();
    }
    // Closing the descriptor releases the watches with it.
    if (d.inotifyFd >= 0)
        (void)close(d.inotifyFd);
    d.inotifyFd = -1;
    d.deviceWatch = -1;
}
