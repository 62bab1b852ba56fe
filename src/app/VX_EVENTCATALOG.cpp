#include "app/VX_EVENTCATALOG.h"

#include "app/VX_EVENTCATALOGLISTENER.h"

VX_EVENTCATALOG* VX_EVENTCATALOG::instance()
{
    return plat::LiveInstance<VX_EVENTCATALOG>::get();
}

void VX_EVENTCATALOG::addListener(VX_EVENTCATALOGLISTENER* listener)
{
    if (listener)
        m_listeners.push_back(listener);
}

// By index over the listeners present when the event started: a listener may register another
// one from inside its call, which would invalidate iterators.
template <class Call> void VX_EVENTCATALOG::forEachListener(Call call)
{
    const std::size_t n = m_listeners.size();
    for (std::size_t i = 0; i < n; ++i)
        call(*m_listeners[i]);
}

void VX_EVENTCATALOG::notifyAdd(const CatalogRecord& record)
{
    forEachListener([&](VX_EVENTCATALOGLISTENER& l) { l.entryAdded(record); });
}

void VX_EVENTCATALOG::notifyUpdate(const CatalogRecord& record, int index)
{
    forEachListener([&](VX_EVENTCATALOGLISTENER& l) { l.entryChanged(index, record); });
}

void VX_EVENTCATALOG::notifyReset()
{
    forEachListener([](VX_EVENTCATALOGLISTENER& l) { l.listReset(); });
}

void VX_EVENTCATALOG::notifyRefilled()
{
    forEachListener([](VX_EVENTCATALOGLISTENER& l) { l.listRefilled(); });
}
