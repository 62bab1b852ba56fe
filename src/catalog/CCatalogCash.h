#pragma once

#include "wire/CatalogRecord.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace plat {
class AtomicFile;
}

// The catalog list in memory, in catalog order, mirrored in "catalog.dat": record i at offset
// i × 820, no header. With write-through every change goes to the file as it happens; without it
// (the "-CATALOGCASH" mode) the file is written only by wreteList at shutdown.
//
// The file is never cut in place: single records are written at their own offsets, and a whole
// rewrite goes to a temporary file that is renamed over "catalog.dat", so a failed write (disk
// full) never damages the records already on disk. When a write fails, or the file was loaded
// with a torn tail, the file is known to be behind the list and the next write rewrites it whole.
//
// A purge drops entries a slice at a time (compactStep) while the list stays in use: the part
// already compacted, then a gap, then the entries not looked at yet; an index names the entry's
// place in the list as it is at that moment. The file keeps its layout meanwhile: every entry
// remembers where its record lies in it, so single writes still reach the old file, which stays
// a complete catalog, until rewriteStep, also a slice at a time, puts the compacted list in its
// place. A crash leaves the old file (with every change since written into it) or the new one.
//
// Entries are indexed by (origin node name, file name), so findRec costs no scan.
class CCatalogCash
{
public:
    CCatalogCash();
    ~CCatalogCash();
    CCatalogCash(const CCatalogCash&) = delete;
    CCatalogCash& operator=(const CCatalogCash&) = delete;

    // Remembers path and mode and reads the file's whole records into the list; a trailing piece
    // shorter than a record is ignored. No record is checked here.
    void setupList(const std::string& path, bool writeThrough);

    int count() const { return static_cast<int>(m_list.size() - gap()); }
    // A copy of entry index; all zero outside the list.
    CatalogRecord getRec(int index) const;
    // Entry index without a copy; index must be inside the list.
    const CatalogRecord& at(int index) const { return m_list[slot(index)]; }
    // Replaces entry index (nothing outside the list); written through.
    void setRec(int index, const CatalogRecord& record);
    // Appends; written through.
    void addRec(const CatalogRecord& record);
    // The first entry, in list order, of that origin node and file name (CP932); -1 when none.
    int findRec(std::string_view originCp932, std::string_view fileNameCp932,
                CatalogRecord* out = nullptr) const;
    // Every entry of that origin node and file name, in list order.
    std::vector<int> indicesOf(std::string_view originCp932, std::string_view fileNameCp932) const;
    // Replaces the whole list; written through as a whole rewrite.
    void assignList(std::vector<CatalogRecord> list);

    // Drops entries in slices: beginCompaction, then compactStep until it returns true. keep is
    // asked once for every entry, in list order (entries appended meanwhile included), and
    // entries it refuses leave the list; goOn is asked before each entry, and the step ends when
    // it says no. The entries before compactedCount() are the compaction's result already.
    void beginCompaction();
    bool compactStep(const std::function<bool(const CatalogRecord&)>& keep,
                     const std::function<bool()>& goOn);
    bool compacting() const { return m_compacting; }
    int compactedCount() const { return m_compacting ? static_cast<int>(m_gapBegin) : count(); }
    // After a compaction: goes on with replacing the file by the list while goOn() holds (asked
    // before every block of records and every wait for the disk). True once the file holds the
    // list, or when there is nothing to replace; on a failure the file is marked behind and the
    // next write rewrites it whole.
    bool rewriteStep(const std::function<bool()>& goOn);

    // Writes entry index at its offset (nothing outside the list).
    void writeRec(int index);
    // Writes the last entry after the others.
    void appendRec(const CatalogRecord& record);
    // Rewrites the file from the list (temporary file, then rename), at once; a rewrite under way
    // in steps is dropped.
    void wreteList();

    bool writeThrough() const { return m_writeThrough; }
    const std::string& path() const { return m_path; }

private:
    std::size_t gap() const { return m_gapEnd - m_gapBegin; }
    // The place in m_list of entry index, and back.
    std::size_t slot(int index) const
    {
        const auto i = static_cast<std::size_t>(index);
        return i < m_gapBegin ? i : i + gap();
    }
    int indexOfSlot(std::size_t s) const
    {
        return static_cast<int>(s < m_gapBegin ? s : s - gap());
    }
    // m_index holds slots, which stay where they are while the gap moves past other entries.
    void indexAdd(std::size_t s);
    void indexMove(const std::string& key, std::size_t from, std::size_t to);
    void reindex();
    bool writeAt(int index);
    bool writeReplacement(const std::function<bool()>& goOn);
    bool releaseOldFile(const std::function<bool()>& goOn);
    // Where entry index lies in the file.
    std::size_t filePosition(int index) const;
    void fileFailed();
    void dropRewrite();
    void closeFile();

    // A deque: no reallocation that would hold the list twice while it grows.
    std::deque<CatalogRecord> m_list;
    std::string m_path;
    bool m_writeThrough = true;
    // "catalog.dat" kept open between single-record writes (a download writes one per chunk);
    // closed when a rewrite replaces the file. -1 when not open.
    int m_fd = -1;
    // The file misses changes of the list (failed write, torn tail at load).
    bool m_fileBehind = false;
    std::unordered_map<std::string, std::vector<std::size_t>> m_index;

    // A compaction under way: the slots [m_gapBegin, m_gapEnd) hold nothing.
    bool m_compacting = false;
    std::size_t m_gapBegin = 0;
    std::size_t m_gapEnd = 0;
    // Since a compaction began, with write-through: the record position in the file of the entry
    // in each slot (the gap's included, unused), and the number of records the file holds.
    // Otherwise the file's layout is the list's and m_filePos is empty.
    bool m_mapped = false;
    std::vector<std::uint32_t> m_filePos;
    std::size_t m_fileRecords = 0;
    // The replacement being written by rewriteStep: entries below m_rewritten are in it, and the
    // bytes below m_flushed are known to be on the disk.
    std::unique_ptr<plat::AtomicFile> m_rewrite;
    std::size_t m_rewritten = 0;
    std::size_t m_flushed = 0;
    bool m_commitNext = false;
    // The file the replacement was renamed over, still open and cut a piece at a time.
    int m_oldFile = -1;
};
