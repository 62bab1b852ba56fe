#pragma once

#include "platform/LiveInstance.h"

#include <vector>

class VX_EVENTLOGLISTENER;

// The node's channel for log events, shaped like VX_EVENTCATALOG: listeners not owned, called
// synchronously in registration order, never removed. No mutex, for the same reason.
class VX_EVENTLOG
{
public:
    // The channel the node owns while it lives (the last one built), or nullptr.
    static VX_EVENTLOG* instance();

    VX_EVENTLOG() = default;

    VX_EVENTLOG(const VX_EVENTLOG&) = delete;
    VX_EVENTLOG& operator=(const VX_EVENTLOG&) = delete;

    void addListener(VX_EVENTLOGLISTENER* listener);
    void notify(int a, int b);

private:
    std::vector<VX_EVENTLOGLISTENER*> m_listeners;
    plat::LiveInstance<VX_EVENTLOG> m_live{this};
};
