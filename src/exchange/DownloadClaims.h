#pragma once

#include "wire/CatalogRecord.h"

#include <map>
#include <string>

// Which connection of one node is downloading which entry (the node's NodeContext holds it). A
// connection that looks for a file to fetch passes over entries another connection is already
// fetching, so two links of one node do not pull the same chunks; when that connection stops
// (done, refused, closed) it lets go and the entry is free for the next conversation of any link.
//
// Entries are keyed by origin node and file name (CP932); owners are opaque pointers (the
// exchange objects), compared only.
class DownloadClaims
{
public:
    // True when owner now holds the entry (it was free or already owner's).
    bool claim(const CatalogRecord& record, const void* owner);
    // True when another owner than owner holds the entry.
    bool claimedByOther(const CatalogRecord& record, const void* owner) const;
    // Lets go of whatever owner holds.
    void release(const void* owner);
    // Lets go of record when owner holds it.
    void release(const CatalogRecord& record, const void* owner);

private:
    static std::string keyOf(const CatalogRecord& record);
    std::map<std::string, const void*> m_owners;
};
