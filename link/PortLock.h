#pragma once
// The port lock. A sender that is waiting goes before the capture thread's next read:
// the capture thread takes the port again right after each read, and with a plain mutex
// it could keep winning, while a send must wait for at most the read in progress (up to
// 500 ms). Any thread may take either side.

#include <condition_variable>
#include <mutex>

class CPortLock {
public:
    // Waits until the port is free and no sender is waiting.
    void LockForRead()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        m_free.wait(guard, [this] { return !m_bHeld && m_nWritersWaiting == 0; });
        m_bHeld = true;
    }

    // Waits only until the port is free.
    void LockForWrite()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        ++m_nWritersWaiting;
        m_free.wait(guard, [this] { return !m_bHeld; });
        --m_nWritersWaiting;
        m_bHeld = true;
    }

    void Unlock()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_bHeld = false;
        }
        m_free.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_bHeld = false;
    int m_nWritersWaiting = 0;
};

// Holds the port lock for a scope, on the read or the write side.
class CPortLockGuard {
public:
    enum Side { READ, WRITE };
    CPortLockGuard(CPortLock& lock, Side side) : m_lock(lock)
    {
        if (side == READ)
            m_lock.LockForRead();
        else
            m_lock.LockForWrite();
    }
    ~CPortLockGuard() { m_lock.Unlock(); }
    CPortLockGuard(const CPortLockGuard&) = delete;
    CPortLockGuard& operator=(const CPortLockGuard&) = delete;

private:
    CPortLock& m_lock;
};
