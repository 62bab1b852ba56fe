#pragma once

#include "wire/CatalogRecord.h"

// What the transfer coordinator tells the main window. Every operation has an empty default, so
// a listener overrides only what it shows. All calls come synchronously on the event-loop thread,
// in the order the listeners were registered.
class CTransferListener
{
public:
    virtual ~CTransferListener() = default;

    // An event of the log channel (nothing publishes on it today).
    virtual void onEventLog(int /*a*/, int /*b*/) {}
    // The catalog announced a record.
    virtual void entryAdded(const catalog::CatalogRecord& /*record*/) {}
    // The catalog replaced the record at zero-based position index.
    virtual void entryChanged(int /*index*/, const catalog::CatalogRecord& /*record*/) {}
    // Forget every record shown; the catalog announces each record again after it, possibly over
    // several turns of the event loop, and then calls listRefilled.
    virtual void listReset() {}
    virtual void listRefilled() {}
    // The Skype link's attach state changed.
    virtual void onSkypeLinkChanged() {}
    // The Skype user model's contact list changed.
    virtual void onModelChanged() {}
    // A peer model's connection set changed; onAnyConnected follows at once.
    virtual void onConnectionChanged() {}
    // After every connection change, also when the answer did not change: 1 when at least one
    // configured connection is connected, else 0.
    virtual void onAnyConnected(int /*anyConnected*/) {}
};
