#pragma once

// Told by an application slot that its set of streams changed.
class VX_SKYPEAPPLICATIONLISTENER
{
public:
    virtual ~VX_SKYPEAPPLICATIONLISTENER() = default;
    virtual void onStreamsChanged() = 0;
};
