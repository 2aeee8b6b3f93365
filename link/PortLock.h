#pragma once
// The port lock: a mutex that serves its waiters in the order they came. The capture
// thread takes the port again right after each read; with a plain mutex it could win
// every time and keep a sender waiting for ever. Any thread may lock and unlock.

#include <condition_variable>
#include <cstdint>
#include <mutex>

class CPortLock {
public:
    void lock()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        const uint64_t ticket = m_nNextTicket++;
        m_turn.wait(guard, [&] { return m_nServing == ticket; });
    }

    void unlock()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            ++m_nServing;
        }
        m_turn.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_turn;
    uint64_t m_nNextTicket = 0;
    uint64_t m_nServing = 0;
};
