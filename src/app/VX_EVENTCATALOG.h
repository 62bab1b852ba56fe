#pragma once

#include "platform/LiveInstance.h"

#include <vector>

struct CatalogRecord;
namespace catalog {
using ::CatalogRecord; // the catalog code names the record catalog::CatalogRecord
}
class VX_EVENTCATALOGLISTENER;

// The node's channel on which the catalog store announces changes of its cache. Listeners
// are not owned, are called synchronously in registration order, and are never removed; a
// listener may use the channel again from inside a call.
//
// No mutex: every publisher and listener runs on the one event-loop thread, where the re-entrant
// lock the channel would take could never be contended.
class VX_EVENTCATALOG
{
public:
    // The channel the node owns while it lives (the last one built), or nullptr; never creates
    // one.
    static VX_EVENTCATALOG* instance();

    VX_EVENTCATALOG() = default;
    VX_EVENTCATALOG(const VX_EVENTCATALOG&) = delete;
    VX_EVENTCATALOG& operator=(const VX_EVENTCATALOG&) = delete;

    // A listener registered twice is called twice for every event.
    void addListener(VX_EVENTCATALOGLISTENER* listener);

    void notifyAdd(const CatalogRecord& record);
    void notifyUpdate(const CatalogRecord& record, int index);
    // The start of a full refresh: every listener forgets its records. The publisher then
    // announces each cached record in order with notifyAdd, possibly over several turns of the
    // event loop, and ends the refresh with notifyRefilled.
    void notifyReset();
    void notifyRefilled();

private:
    template <class Call> void forEachListener(Call call);

    std::vector<VX_EVENTCATALOGLISTENER*> m_listeners;
    plat::LiveInstance<VX_EVENTCATALOG> m_live{this};
};
