#pragma once

#include "platform/LocalTime.h"
#include "wire/CatalogRecord.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a catalog conversation asks of the node's store: exactly the operations CExchange uses,
// so the conversation sees the store through this seam and nothing else of it (the node's
// catalog implements it; tests may put a small scripted store in its place).
//
// Names passed in and out as std::string are UTF-8 (node names as the settings hold them); names
// inside records are CP932. Records handed in come from a peer and have passed isValidRecord().
class CatalogStore
{
public:
    virtual ~CatalogStore() = default;

    // Records received from a peer: a new or changed registration (kind 1 or 3), a deletion
    // (kind 2).
    virtual void mergeRecord(CatalogRecord received) = 0;
    virtual void mergeDeletion(CatalogRecord received) = 0;
    // Up to 12 records still pending for peer, now marked sent.
    virtual std::vector<CatalogRecord> takePending(const std::string& peer) = 0;
    // Records taken for peer that it may not have read, queued for it again.
    virtual void restorePending(const std::string& peer,
                                const std::vector<CatalogRecord>& records) = 0;
    // Queues for peer every entry (mode 1) or those registered on or after since's date (mode 2).
    virtual void queueSince(const std::string& peer, std::uint32_t syncMode,
                            const plat::SystemTime& since) = 0;
    // A peer's records now pend under its new name.
    virtual void renamePendingFile(const std::string& oldName, const std::string& newName) = 0;

    // The first incomplete entry of another node to fetch, and the next one after record.
    virtual std::optional<CatalogRecord> firstToFetch() const = 0;
    virtual std::optional<CatalogRecord> nextToFetch(const CatalogRecord& record) const = 0;
    // True when the rest of the record's file fits on the receiving disk; downloads stop
    // otherwise.
    virtual bool roomToFetch(const CatalogRecord& record) = 0;
    // The entry of record's exact version (catalog::sameVersion), or none.
    virtual std::optional<CatalogRecord> exactEntry(const CatalogRecord& record) const = 0;
    // Stores length bytes of the record's file at offset. 1 when more is wanted, 0 when the file
    // is done or cannot continue. A zero-length file completes with a chunk of length 0 at
    // offset 0.
    virtual int storeChunk(std::uint32_t offset, std::uint32_t length, const CatalogRecord& record,
                           const std::uint8_t* bytes) = 0;
    // Reads up to size bytes of the record's file from offset into out; 0 when this node does not
    // hold that exact version completely, or the file cannot be read.
    virtual std::size_t readChunk(const CatalogRecord& record, std::uint32_t offset,
                                  std::size_t size, std::uint8_t* out) = 0;
};
