#pragma once
// The fixed line queue between the capture engine and its owner: 256 lines of at most
// 255 characters, copied by value. Safe to use from any thread.

#include <mutex>

class CDataBuffer {
public:
    enum Result { DONE = 0, TOO_LONG = 1, FULL = 2, EMPTY = 3 };
    static constexpr int SLOT_COUNT = 256;
    static constexpr int SLOT_SIZE = 256;   // a line of at most 255 characters and its zero

    CDataBuffer();
    virtual ~CDataBuffer();

    // 0 when queued, 1 when longer than 255 characters (or null), 2 when the queue is full.
    // bNamesNode false marks a line whose address is no node's (a damaged message).
    int Put(const char* line, bool bNamesNode = true);
    // 0 and the oldest line copied into line (256 characters of room), with its mark in
    // *pNamesNode when asked; or 3 when empty.
    int Get(char* line, bool* pNamesNode = nullptr);
    // Empties the queue; lines already announced are then missing when asked for.
    void Clear();
    // Lines held.
    int GetCount();

private:
    char m_szSlots[SLOT_COUNT][SLOT_SIZE];
    bool m_bNamesNode[SLOT_COUNT];
    int m_nWriteIndex;
    int m_nReadIndex;
    int m_nCount;
    std::mutex m_lock;
};
