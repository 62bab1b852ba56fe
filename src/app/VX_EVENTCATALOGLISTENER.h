#pragma once

struct CatalogRecord;
namespace catalog {
using ::CatalogRecord; // the catalog code names the record catalog::CatalogRecord
}

// Receives the catalog store's announcements about its cache of records. Every operation has an
// empty default, so a listener overrides only what it needs.
class VX_EVENTCATALOGLISTENER
{
public:
    virtual ~VX_EVENTCATALOGLISTENER() = default;
    // A record was added to the cache, or is announced again during a full refresh.
    virtual void entryAdded(const CatalogRecord&) {}
    // The cached record at zero-based position index was replaced by record.
    virtual void entryChanged(int /*index*/, const CatalogRecord&) {}
    // Forget every record shown; one entryAdded per cached record follows at once.
    virtual void listReset() {}
};
