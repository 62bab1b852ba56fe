#pragma once

#include "catalog/CatalogRecord.h"
#include "catalog/DiskFloor.h"

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
// floor) and chunks served from complete ones. The entries themselves stay the catalog's: a
// stored chunk is handed back to it to replace the entry, and a file that became complete to
// pass on to the peers.
class FileDelivery
{
public:
    struct Catalog
    {
        // Replaces entry index with record (stamped, written through and announced).
        std::function<void(int index, const CatalogRecord& record)> replace;
        // The entry's file is complete on this node now.
        std::function<void(const CatalogRecord& entry)> completed;
    };

    // Own entries are those of settings' node name; received files lie under its receive folder.
    FileDelivery(CPropatyHotLine& settings, const CCatalogCash& list, CatalogFolders& folders,
                 Catalog catalog);
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
    // Origin node, whole file description and registration time equal.
    static bool sameVersion(const CatalogRecord& a, const CatalogRecord& b);
    // 1 when more is wanted, 0 when the file is done or cannot continue.
    int storeChunk(std::uint32_t offset, std::uint32_t length, const CatalogRecord& record,
                   const std::uint8_t* bytes);
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
    void discard(int index, CatalogRecord entry);

    CPropatyHotLine& m_settings;
    const CCatalogCash& m_list;
    CatalogFolders& m_folders;
    Catalog m_catalog;
    DiskFloor m_floor;
    ServedContent* m_served = nullptr;
    std::unique_ptr<ReceivedContent> m_received;
};
