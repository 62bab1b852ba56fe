#pragma once

#include <vector>

class VX_EVENTLOGLISTENER;

// A process-wide channel for log events, shaped like VX_EVENTCATALOG: listeners not owned,
// called synchronously in registration order, never removed. No mutex, for the same reason.
class VX_EVENTLOG
{
public:
    static VX_EVENTLOG* instance();
    static void destroyInstance();

    VX_EVENTLOG(const VX_EVENTLOG&) = delete;
    VX_EVENTLOG& operator=(const VX_EVENTLOG&) = delete;

    void addListener(VX_EVENTLOGLISTENER* listener);
    void notify(int a, int b);

private:
    VX_EVENTLOG() = default;

    std::vector<VX_EVENTLOGLISTENER*> m_listeners;
};
