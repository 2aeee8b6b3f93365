#pragma once
// Runs the window's event loop for a while, as a user's pauses would let it run.

#include <wx/app.h>
#include <wx/utils.h>

#include <chrono>

inline void Pump(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        wxTheApp->Yield(true);
        wxMilliSleep(2);
    }
}
