#pragma once

// Told by the Skype user model that its contact list was rebuilt or emptied.
class MODELLISTENER
{
public:
    virtual ~MODELLISTENER() = default;
    virtual void onModelChanged() = 0;
};
