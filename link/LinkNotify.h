#pragma once
// The seams through which the capture engine reaches its owner (a window, or the
// headless tool, a publisher). All are called from any thread, including the capture thread.

// Receives one announcement per line queued in the Data Buffer. Must not block: it
// posts and returns, and the owner takes exactly one line per announcement.
class ILineReadyNotify {
public:
    virtual void PostLineReady() = 0;

protected:
    ~ILineReadyNotify() = default;
};

// Shows the engine's warning texts. Called on the thread that meets the failure; an
// implementation must never hold the capture thread until a user answers (hand the
// text to the owner's thread instead). The same text can come many times a second (a
// full disk fails every line): show one box at a time rather than a pile of them.
class IWarningSink {
public:
    virtual void ShowWarning(const char* text) = 0;

protected:
    ~IWarningSink() = default;
};

// Sees every line the engine forms, right after the log file has it and in the same
// order, whether or not the Data Buffer takes it. Called on the thread that formed the
// line; must not block (copy the line and return).
class ILineTap {
public:
    virtual void TapLine(const char* line, bool bNamesNode) = 0;

protected:
    ~ILineTap() = default;
};
