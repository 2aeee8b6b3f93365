#include "platform/PortWatcher.h"

// The port list on Windows changes only when the user refreshes it, as it always did.
struct CPortWatcher::Impl {};

CPortWatcher::CPortWatcher() : m_pImpl(nullptr) {}

CPortWatcher::~CPortWatcher() = default;

bool CPortWatcher::Start(std::function<void()>, int)
{
    return false;
}

void CPortWatcher::Stop() {}

bool CPortWatcher::FollowsDevices()
{
    return false;
}

bool CPortWatcher::Watch()
{
    return false;
}

bool CPortWatcher::WaitForChange(int)
{
    return false;
}

void CPortWatcher::Wake() {}
