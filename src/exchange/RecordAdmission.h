#pragma once

#include "wire/CatalogRecord.h"
#include "wire/RecordSeal.h"

#include <optional>

// What a catalog conversation asks of the node's trust in records: the seal that travels with a
// record this node sends, and whether a record a peer sent may be merged. The node's record trust
// implements it; without one, records are taken unchecked and no seals travel.
class RecordAdmission
{
public:
    struct Verdict
    {
        bool accepted = false;
        // Why a record was refused (for the diagnostic line).
        const char* why = "";
    };

    virtual ~RecordAdmission() = default;

    // The seal kept for a record, to travel on with it; none when no origin vouched for it.
    virtual std::optional<catalog::RecordSeal> sealOf(const CatalogRecord& record) const = 0;
    // Whether a received record, with the seal that came with it, may be merged.
    virtual Verdict admit(const CatalogRecord& received,
                          const std::optional<catalog::RecordSeal>& seal) const = 0;
    // Keeps the seal of an admitted record, so that it travels on with the record and its
    // content can be checked.
    virtual void remember(const CatalogRecord& record, const catalog::RecordSeal& seal) = 0;
};
