#include "app/VX_EVENTLOG.h"

#include "app/VX_EVENTLOGLISTENER.h"

VX_EVENTLOG* VX_EVENTLOG::instance()
{
    return plat::LiveInstance<VX_EVENTLOG>::get();
}

void VX_EVENTLOG::addListener(VX_EVENTLOGLISTENER* listener)
{
    if (listener)
        m_listeners.push_back(listener);
}

void VX_EVENTLOG::notify(int a, int b)
{
    // By index: a listener may register another one from inside its call.
    const std::size_t n = m_listeners.size();
    for (std::size_t i = 0; i < n; ++i)
        m_listeners[i]->onEventLog(a, b);
}
