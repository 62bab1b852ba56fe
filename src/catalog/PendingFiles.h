#pragma once

#include "wire/CatalogRecord.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The per-peer pending files of the catalog folder: "<node name>.dat", 820-byte records one after
// the other, no header; a record whose pending flag is 1 still has to go to that peer.
//
// Each file's layout is kept exactly, but an in-memory index of it (first position of every
// (origin node, file name), number of whole records, first position that may be pending) spares
// the full scans a sync would otherwise repeat for every record. The index is checked against the
// file's identity and size before each use and rebuilt when anything else changed the file.
//
// A torn tail (an append cut short) is overwritten by the next append, which always lands at the
// next whole-record offset, so it never shifts the records after it.
class PendingFiles
{
public:
    // A peer that never connects must not make its file grow without end: past kMaxRecords
    // records the file is rewritten with only the records still pending. Only a peer that has
    // taken nothing for kAbsence (neither since it last did nor, when it has not since this
    // node started, since then) loses records: of those still pending, all but the kKeepRecords
    // newest are dropped, with a diagnostic line. A peer that takes, however slowly, loses none.
    // 20,000 records are 16 MiB per peer, far more than a party registers within a few days'
    // expiry; a sync request brings back whatever was dropped.
    static constexpr std::size_t kMaxRecords = 20000;
    static constexpr std::size_t kKeepRecords = 15000;
    static constexpr std::chrono::hours kAbsence{24};
    using Clock = std::chrono::steady_clock;

    explicit PendingFiles(std::string catalogFolder);
    ~PendingFiles();
    PendingFiles(const PendingFiles&) = delete;
    PendingFiles& operator=(const PendingFiles&) = delete;

    // The pending file of a peer (UTF-8 node name); empty when the name cannot name one (unsafe
    // as a file name, or "catalog", whose file is the catalog cache).
    std::string pathOf(const std::string& peer) const;

    // Appends the record. False when the file cannot be written.
    bool append(const std::string& peer, const CatalogRecord& record);
    // Writes the record over the first one of the same origin node and file name, or appends it.
    bool put(const std::string& peer, const CatalogRecord& record);
    // put() for many records with one look at the file and one write for all that are appended
    // (a sync request queues the whole catalog). False when a write failed.
    bool putAll(const std::string& peer, const std::vector<CatalogRecord>& records);
    // Takes up to max pending records in file order, marking each sent (flag 0, stamped) in the
    // file. Deletes the file when none was pending.
    std::vector<CatalogRecord> take(const std::string& peer, std::size_t max);
    // Queues records taken for a batch that the peer may not have read (its connection ended)
    // again: each is marked pending once more where the file still holds that very record as
    // sent, or appended when the file no longer names it; where something else is queued or was
    // sent since, it is left alone. False when a write failed.
    bool restore(const std::string& peer, const std::vector<CatalogRecord>& records);
    // Tests stand in for the clock that tells how long a peer has been away.
    void setClock(std::function<Clock::time_point()> clock) { m_clock = std::move(clock); }
    // Moves the pending file of oldName to newName. When newName already has one, the records
    // still pending in the old file are added to it and the old file is removed.
    bool rename(const std::string& oldName, const std::string& newName);

    // Forgets every index and closes every descriptor.
    void closeAll();

private:
    struct Peer;
    Peer* open(const std::string& peer);
    void drop(const std::string& peer);
    bool takeFrom(Peer& p, std::size_t& pos, std::size_t max, std::vector<CatalogRecord>& out);
    // Applies the cap of kMaxRecords to the peer's file.
    void capFile(const std::string& peer);

    bool absentLong(const std::string& peer) const;
    std::size_t capThreshold(const std::string& peer) const;
    Clock::time_point now() const { return m_clock ? m_clock() : Clock::now(); }

    std::string m_folder;
    std::map<std::string, std::unique_ptr<Peer>> m_peers;
    std::function<Clock::time_point()> m_clock;
    Clock::time_point m_started;
    // When each peer last took records, since this node started.
    std::map<std::string, Clock::time_point> m_lastTaken;
    // Record counts past which a file is looked at again (kMaxRecords unless said here).
    std::map<std::string, std::size_t> m_capAt;
};
