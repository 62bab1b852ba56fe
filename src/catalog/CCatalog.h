#pragma once

#include "catalog/CCatalogCash.h"
#include "catalog/CatalogFolders.h"
#include "catalog/DiskFloor.h"
#include "catalog/EntryLimit.h"
#include "catalog/FileDelivery.h"
#include "catalog/HopRouter.h"
#include "catalog/PendingFiles.h"
#include "exchange/CatalogStore.h"
#include "wire/CatalogRecord.h"

#include "platform/LiveInstance.h"
#include "platform/LocalTime.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CPropatyHotLine;
class NodeContext;
class ServedContent;

// The node's catalog: one record per registered file, kept by the catalog cache, plus a pending
// file per configured peer of records still to be sent there, plus the files themselves (received
// ones under the receive folder, own ones in the send folder). Which peer gets which record is
// the HopRouter's business, the files' contents the FileDelivery's; the catalog keeps the list.
// It is the store a catalog conversation works on (CatalogStore): a received chunk goes from the
// conversation into storeChunk, which has the delivery write it and then updates the entry and,
// for a file now complete, passes it on to the peers.
//
// Names passed in and out as std::string are UTF-8 (node names as the settings hold them); names
// inside records are CP932. A name that CP932 cannot hold matches nothing.
//
// Records come from peers: every path this class builds from a record goes through
// isValidRecord() first, so an invalid record is never merged, never names a received file and
// never names a pending file. Only the catalog folder, the receive folder and the send folder
// (and the targets of the user's own shortcuts there) are ever touched.
//
// No lock: every caller runs on the one event-loop thread, where the re-entrant catalog lock
// could never be contended. Listeners of VX_EVENTCATALOG may call back into the catalog.
class CCatalog : public CatalogStore
{
public:
    // Local date-time source; tests hand in a fixed one.
    using Clock = std::function<plat::SystemTime()>;

    // The node's catalog while it lives (the catalog last built), or nullptr; never creates one.
    static CCatalog* instance();

    // Loads "catalog.dat" from the catalog folder of the node's working folder, marks entries
    // that fail their checksum as deleted, fills in missing party names and announces every entry
    // on the node's catalog channel. Then enters itself as the node's catalog, where the node's
    // connections find it, until it is destroyed. The node's settings name this node, its party
    // and its peers; its notice poster shows when the catalog or the disk is full.
    // writeThrough false is the "-CATALOGCASH" mode: the file is written only by the destructor.
    CCatalog(NodeContext& node, bool writeThrough, Clock clock = {});
    // Leaves the node, then rewrites the cache file from the list.
    ~CCatalog() override;
    CCatalog(const CCatalog&) = delete;
    CCatalog& operator=(const CCatalog&) = delete;

    // Folder watch: an own file or shortcut appeared / changed / disappeared.
    void addLocal(CatalogRecord record);
    void updateLocal(CatalogRecord record);
    void deleteEverywhere(CatalogRecord record);
    // Forced deletion on this node only.
    void deleteHere(CatalogRecord record);

    int count() const;
    // The number of entries past which new ones from peers are refused (EntryLimit::kMaxEntries
    // unless a test or benchmark sets a smaller one).
    void setEntryLimit(int max) { m_limit.setMax(max); }
    // A copy of entry index; all zero outside the list.
    CatalogRecord getRecord(int index) const;
    // The entry of that registration: the first with shown's origin node, file name and
    // registration time. What a row of the list stands for, however the list has moved since.
    std::optional<CatalogRecord> findRegistration(const CatalogRecord& shown) const;
    // The first entry of that origin node and file name; copied into out when found.
    bool hasEntry(const std::string& originNode, const std::string& fileName,
                  CatalogRecord* out) const;
    // The complete entries of one origin node, in catalog order.
    std::vector<CatalogRecord> completeEntriesOf(const std::string& node) const;

    // Catalog exchange: records received from a peer (kind 1 or 3; kind 2).
    void mergeRecord(CatalogRecord received) override;
    void mergeDeletion(CatalogRecord received) override;
    // Up to 12 records still pending for peer, now marked sent; the pending file is deleted when
    // nothing was pending.
    std::vector<CatalogRecord> takePending(const std::string& peer) override;
    // Records taken for peer that it may not have read queued again (PendingFiles::restore).
    void restorePending(const std::string& peer,
                        const std::vector<CatalogRecord>& records) override;
    // Queues for peer every entry (mode 1) or those registered on or after since's date (mode 2).
    void queueSince(const std::string& peer, std::uint32_t syncMode,
                    const plat::SystemTime& since) override
    {
        m_router.queueSince(peer, syncMode, since);
    }
    void renamePendingFile(const std::string& oldName, const std::string& newName) override;
    // Queues record for every configured peer, unless it is this node's own record.
    void forwardToPeers(const CatalogRecord& record) { m_router.forwardToPeers(record); }
    // Queues record for one peer, subject to the hop rules: never back to its origin, never to a
    // node in its hop list, and not beyond 10 hops. This node's name is added to the hop list.
    void queueForPeer(const CatalogRecord& record, const std::string& peer)
    {
        m_router.queueForPeer(record, peer);
    }

    // File delivery.
    // True when the rest of the record's file fits on the receiving disk above its floor
    // (DiskFloor); downloads stop otherwise.
    bool roomToFetch(const CatalogRecord& record) override
    {
        return m_delivery.roomToFetch(record);
    }
    // Tests hand in their own free-space figures.
    void setSpaceProbe(DiskFloor::Probe probe) { m_delivery.setSpaceProbe(std::move(probe)); }
    // Seals a network-wide deletion this node makes, naming the registration it withdraws.
    using DeletionSealer =
        std::function<void(const CatalogRecord& deletion, const CatalogRecord& registration)>;
    void setDeletionSealer(DeletionSealer sealer) { m_sealDeletion = std::move(sealer); }
    // Received and served files are checked against their origins' content hashes.
    void setContentCheck(ServedContent* served) { m_delivery.setContentCheck(served); }
    std::optional<CatalogRecord> firstToFetch() const override { return m_delivery.firstToFetch(); }
    std::optional<CatalogRecord> nextToFetch(const CatalogRecord& record) const override
    {
        return m_delivery.nextToFetch(record);
    }
    // The entry of record's exact version (origin node, whole file description and
    // registration time equal), or none.
    std::optional<CatalogRecord> exactEntry(const CatalogRecord& record) const override
    {
        return m_delivery.exactEntry(record);
    }
    // Stores length bytes of the record's file at offset. 1 when more is wanted, 0 when the file
    // is done or cannot continue. A zero-length file completes with a chunk of length 0 at
    // offset 0.
    int storeChunk(std::uint32_t offset, std::uint32_t length, const CatalogRecord& record,
                   const std::uint8_t* bytes) override;
    // Reads up to size bytes of the record's file from offset into out; 0 when this node does not
    // hold that exact version completely, or the file cannot be read.
    std::size_t readChunk(const CatalogRecord& record, std::uint32_t offset, std::size_t size,
                          std::uint8_t* out) override
    {
        return m_delivery.readChunk(record, offset, size, out);
    }

    // Marks expired and invalid entries deleted (the node's periodic work, hourly).
    void maintainHourly();
    // Drops deleted entries (the node's periodic work, every 5 seconds), a slice of at most
    // kPurgeSliceMs per turn of the event loop, so that a purge of many entries never holds the
    // loop for long: listReset, then the list is compacted and the kept entries announced again
    // (entryAdded each, then listRefilled), then the cache file is replaced, then the files of the
    // dropped entries are deleted. The catalog stays usable meanwhile: changes go into the list and
    // the file as always, and a purge called before the last slice only lets the slices go on.
    void purge();
    static constexpr int kPurgeSliceMs = 20;
    // A purge is still going on (entries to announce, the file to replace or files to delete).
    bool purging() const { return m_purge != PurgeStage::Idle; }
    // Files of purged entries not deleted yet.
    std::size_t purgeBacklog() const { return m_doomed.size() - m_doomedNext; }
    // Tests: a slice also ends after this many entries (records written, files deleted);
    // 0 leaves only the time limit.
    void setPurgeSliceLimit(std::size_t entries) { m_sliceLimit = entries; }
    // Announces every entry again.
    void announceAll();

    const std::string& catalogFolder() const { return m_catalogFolder; }
    // The file that holds the record's contents on this node (the take-out command reads it);
    // empty when the record is invalid or, for an own shortcut, when no shortcut in the send
    // folder points at a file of that name.
    std::string contentPath(const CatalogRecord& record) { return m_delivery.contentPath(record); }

private:
    bool acceptReceived(CatalogRecord& received, const char* operation);

    std::string nodeNameCp932() const;
    std::string partyNameCp932() const;
    plat::SystemTime today() const;
    bool isOwn(const CatalogRecord& record) const;
    void checkAtLoad();
    void replaceEntry(int index, CatalogRecord record, bool announce);
    void markDeleted(int index, bool announce);
    int indexOfRegistration(const CatalogRecord& record) const;
    // The entry a deletion is for: that very registration when it is in the list (the user's
    // deletions), else the first of its origin node and file name.
    int deletionTarget(const CatalogRecord& record) const;
    std::vector<std::string> peers() const { return m_router.peers(); }

    NodeContext& m_node;
    CPropatyHotLine& m_settings;
    Clock m_clock;
    std::string m_catalogFolder;
    CatalogFolders m_folders;
    CCatalogCash m_cash;
    PendingFiles m_pending;
    EntryLimit m_limit;
    DeletionSealer m_sealDeletion;
    HopRouter m_router;
    FileDelivery m_delivery;

    // Entries are announced to the listeners as always, except while a purge announces them
    // again: then only changes of the entries already announced, and the rest when the purge's
    // walk reaches them.
    bool announcing() const;
    void announceAdded(const CatalogRecord& record);
    void announceChanged(int index, const CatalogRecord& record);

    // The purge's stages, in order; entries below m_announced are announced again.
    enum class PurgeStage
    {
        Idle,
        Compact,  // the list is being compacted, the part already compacted announced
        Announce, // the entries appended meanwhile are being announced
        Rewrite,  // the cache file is being replaced
        Files,    // the files of the dropped entries are being deleted
    };
    // The entries a purge dropped, whose files are still to be deleted (own = registered here).
    struct Doomed
    {
        CatalogRecord record;
        bool own = false;
    };
    void purgeSlice();
    void postPurgeSlice();
    // Keeps entries of kinds 1 and 3; notes the others for deletion or the error-record file.
    bool keepInPurge(const CatalogRecord& record);
    bool announceSome(int upTo, const std::function<bool()>& goOn);
    bool deleteSomeFiles(const std::function<bool()>& goOn);
    void finishPurge();
    PurgeStage m_purge = PurgeStage::Idle;
    int m_announced = 0;
    std::size_t m_sliceLimit = 0;
    std::string m_purgeOwn;
    std::optional<CatalogRecord> m_badKind;
    std::deque<Doomed> m_doomed;
    std::size_t m_doomedNext = 0;
    // Lets a posted slice know that the catalog it belongs to is still there.
    std::shared_ptr<CCatalog*> m_self;
    plat::LiveInstance<CCatalog> m_live{this};
};
