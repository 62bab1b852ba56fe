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
    // Forget every record shown. One entryAdded per cached record follows, in order, possibly
    // over several turns of the event loop; listRefilled says that the last one has come. Until
    // then, entryChanged only names records announced again already.
    virtual void listReset() {}
    virtual void listRefilled() {}
};
