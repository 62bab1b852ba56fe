#pragma once

#include "catalog/DiskFloor.h"
#include "wire/CatalogRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class CCatalogCash;
class CatalogFolders;
class CPropatyHotLine;
class ReceivedContent;
class ServedContent;

// The contents behind the catalog's entries: which incomplete file to fetch next, chunks stored
// into received files (only the very next piece of the exact version, never past the disk's
// floor) and chunks served from complete ones. The entries themselves stay the catalog's: storing
// a chunk answers with the entry as it stands now, which the catalog puts into its list.
class FileDelivery
{
public:
    // A chunk written into its received file: the entry it belongs to (index in the list) with
    // its bytes received, and its complete flag when the file is whole now.
    struct Stored
    {
        int index = -1;
        CatalogRecord entry;
        bool complete = false;
        // The file did not match its origin's content hash: it is gone, to be fetched again.
        bool discarded = false;
    };

    // Own entries are those of settings' node name; received files lie under its receive folder.
    FileDelivery(CPropatyHotLine& settings, const CCatalogCash& list, CatalogFolders& folders);
    ~FileDelivery();

    // Content checks against the hashes origins vouch for (served outlives this object): a
    // received file that does not match is discarded instead of completed, and a file that no
    // longer matches is not served. Without it no content is checked.
    void setContentCheck(ServedContent* served);

    // True when the rest of the record's file fits on the receiving disk above its floor.
    bool roomToFetch(const CatalogRecord& record);
    void setSpaceProbe(DiskFloor::Probe probe) { m_floor.setProbe(std::move(probe)); }
    // Where a stop for want of disk space is said.
    void setNotice(std::function<void(const std::string&)> notice)
    {
        m_floor.setNotice(std::move(notice));
    }
    // The first incomplete entry of another node, in catalog order; the next one after record's
    // entry (none when that entry is gone, no wrap-around).
    std::optional<CatalogRecord> firstToFetch() const;
    std::optional<CatalogRecord> nextToFetch(const CatalogRecord& record) const;
    // The entry of record's exact version, or none.
    std::optional<CatalogRecord> exactEntry(const CatalogRecord& record) const;
    // Writes the chunk when it is the very next piece of record's exact entry and fits above the
    // disk's floor; none when it was not written.
    std::optional<Stored> storeChunk(std::uint32_t offset, std::uint32_t length,
                                     const CatalogRecord& record, const std::uint8_t* bytes);
    // The number of bytes read; 0 when this node does not hold that exact version completely.
    std::size_t readChunk(const CatalogRecord& record, std::uint32_t offset, std::size_t size,
                          std::uint8_t* out);
    // The file that holds the record's contents on this node; empty when there is none.
    std::string contentPath(const CatalogRecord& record);

private:
    std::string ownNameCp932() const;
    bool isOwn(const CatalogRecord& record) const;
    bool wantsFetch(const CatalogRecord& record, const std::string& own) const;
    // The entry of that exact version; -1 when none.
    int findExact(const CatalogRecord& record) const;
    // Removes a received file that does not match and resets its entry to fetch it again.
    void discard(CatalogRecord& entry);

    CPropatyHotLine& m_settings;
    const CCatalogCash& m_list;
    CatalogFolders& m_folders;
    DiskFloor m_floor;
    ServedContent* m_served = nullptr;
    std::unique_ptr<ReceivedContent> m_received;
};
