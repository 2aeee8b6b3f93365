#pragma once
// Tells its owner when serial devices may have come, gone or changed their modes: the
// device folder (TESSARIN_DEVICE_DIR or /dev), its serial/by-id folder and the folder of
// the user's COM links are watched. It costs nothing while nothing changes: its thread,
// or its owner's in WaitForChange, sleeps in the kernel until an event or a stop. Where the OS gives no such
// events (Windows names its ports itself) Start returns false and nothing is watched.

#include <functional>

class CPortWatcher {
public:
    CPortWatcher();
    // Stops first.
    ~CPortWatcher();
    CPortWatcher(const CPortWatcher&) = delete;
    CPortWatcher& operator=(const CPortWatcher&) = delete;

    // True where devices come and go under names this program chooses, so that a port
    // that went away can be found again; false on Windows, where a capture whose port
    // went away idles until it is stopped.
    static bool FollowsDevices();

    // Calls onChange on the watcher's own thread once the events have been quiet for
    // settleMs (0: at once, for every batch). False, nothing started, when nothing can be
    // watched or it runs already. Owner's thread.
    bool Start(std::function<void()> onChange, int settleMs);
    // Waits for the thread to end; onChange is not called after it returns. Owner's
    // thread, never from within onChange. Also ends a Watch.
    void Stop();

    // Without a thread, for an owner with nothing else to do meanwhile: Watch sets the
    // watches up (false when nothing can be watched); WaitForChange blocks until an event
    // that matters (true), a Wake, or timeoutMs (false). Wake may be called from any
    // thread at any time: a wake given after Watch ends the wait in progress or the next.
    bool Watch();
    bool WaitForChange(int timeoutMs);
    void Wake();

private:
    struct Impl;
    Impl* m_pImpl;
};
