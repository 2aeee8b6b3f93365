#pragma once
// The capture's text log: one log line per text line, each flushed as it is written.
// Open and Close belong to the window thread; WriteLine may come from any thread.

#include <cstdio>
#include <mutex>

class CLogFile {
public:
    CLogFile();
    virtual ~CLogFile();

    // True when a file is open afterwards. An open file stays open whatever name and
    // mode are given; a null or empty name or mode fails without trying, and so does a
    // file that another capture (of any process) is writing.
    bool Open(const char* fileName, const char* mode);
    // Writes the line and its line end as one unit and flushes. False when no file is
    // open or when the line did not reach the file.
    bool WriteLine(const char* line);
    void Close();
    bool IsOpen();

private:
    FILE* m_pFile;
    std::mutex m_lock;
    bool m_bTorn;      // the last write failed: the next line must start on a line of its own
    long m_nGoodEnd;   // file size after the last whole line, -1 when unknown
};
