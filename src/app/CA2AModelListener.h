#pragma once

// Told by a peer model (TCP or Skype) that its set of connections has changed.
class CA2AModelListener
{
public:
    virtual ~CA2AModelListener() = default;
    virtual void onConnectionChanged() = 0;
};
