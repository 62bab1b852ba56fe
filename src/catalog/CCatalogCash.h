#pragma once

#include "catalog/CatalogRecord.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The catalog list in memory, in catalog order, mirrored in "catalog.dat": record i at offset
// i × 820, no header. With write-through every change goes to the file as it happens; without it
// (the "-CATALOGCASH" mode) the file is written only by wreteList at shutdown.
//
// The file is never cut in place: single records are written at their own offsets, and a whole
// rewrite goes to a temporary file that is renamed over "catalog.dat", so a failed write (disk
// full) never damages the records already on disk. When a write fails, or the file was loaded
// with a torn tail, the file is known to be behind the list and the next write rewrites it whole.
//
// Entries are indexed by (origin node name, file name), so findRec costs no scan.
class CCatalogCash
{
public:
    CCatalogCash() = default;
    ~CCatalogCash();
    CCatalogCash(const CCatalogCash&) = delete;
    CCatalogCash& operator=(const CCatalogCash&) = delete;

    // Remembers path and mode and reads the file's whole records into the list; a trailing piece
    // shorter than a record is ignored. No record is checked here.
    void setupList(const std::string& path, bool writeThrough);

    int count() const { return static_cast<int>(m_list.size()); }
    // A copy of entry index; all zero outside the list.
    CatalogRecord getRec(int index) const;
    // Entry index without a copy; index must be inside the list.
    const CatalogRecord& at(int index) const { return m_list[static_cast<std::size_t>(index)]; }
    // Replaces entry index (nothing outside the list); written through.
    void setRec(int index, const CatalogRecord& record);
    // Appends; written through.
    void addRec(const CatalogRecord& record);
    // The first entry, in list order, of that origin node and file name (CP932); -1 when none.
    int findRec(std::string_view originCp932, std::string_view fileNameCp932,
                CatalogRecord* out = nullptr) const;
    // Every entry of that origin node and file name, in list order.
    const std::vector<int>& indicesOf(std::string_view originCp932,
                                      std::string_view fileNameCp932) const;
    // Replaces the whole list; written through as a whole rewrite.
    void assignList(std::vector<CatalogRecord> list);
    // assignList with the entries i for which keep[i] is true, compacted in place so the list is
    // never held twice.
    void keepOnly(const std::vector<bool>& keep);

    // Writes entry index at its offset (nothing outside the list).
    void writeRec(int index);
    // Writes the last entry after the others.
    void appendRec(const CatalogRecord& record);
    // Rewrites the file from the list (temporary file, then rename).
    void wreteList();

    bool writeThrough() const { return m_writeThrough; }
    const std::string& path() const { return m_path; }

private:
    void indexAdd(int index);
    void reindex();
    bool writeAt(int index);

    // A deque: no reallocation that would hold the list twice while it grows.
    std::deque<CatalogRecord> m_list;
    std::string m_path;
    bool m_writeThrough = true;
    // "catalog.dat" kept open between single-record writes (a download writes one per chunk);
    // closed when a rewrite replaces the file. -1 when not open.
    int m_fd = -1;
    // The file misses changes of the list (failed write, torn tail at load).
    bool m_fileBehind = false;
    std::unordered_map<std::string, std::vector<int>> m_index;
};
