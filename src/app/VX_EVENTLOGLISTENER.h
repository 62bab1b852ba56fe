#pragma once

// Receives log events from VX_EVENTLOG; the meaning of the two numbers is the publisher's.
class VX_EVENTLOGLISTENER
{
public:
    virtual ~VX_EVENTLOGLISTENER() = default;
    virtual void onEventLog(int /*a*/, int /*b*/) {}
};
