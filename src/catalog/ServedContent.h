#pragma once

#include "catalog/ContentHasher.h"
#include "wire/CatalogRecord.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

class RecordTrust;

// Keeps a node from passing on a file that no longer holds what its origin vouched for (changed
// on this node's disk after it was complete): before a chunk is served, the file must be known
// to match its content hash. A file is known to match once it was hashed (when it was
// registered, when its download completed, or here) and has not changed since (same device,
// inode, size and modification time). An unknown or changed file is hashed again in slices on
// the event loop; until that ends it is not served, and a file that does not match is not
// served at all (and said once).
class ServedContent
{
public:
    using Hash = ContentHasher::Digest;
    // Where a file that no longer matches is said (the status line).
    using Notice = std::function<void(const std::string& text)>;

    // trust and hasher outlive this object.
    ServedContent(const RecordTrust& trust, ContentHasher& hasher);
    ~ServedContent();
    ServedContent(const ServedContent&) = delete;
    ServedContent& operator=(const ServedContent&) = delete;

    void setNotice(Notice notice) { m_notice = std::move(notice); }

    // True when path may be served as record's content: no content hash is known for it (a
    // record of a node that vouches for none), or the file is known to match it.
    bool servable(const CatalogRecord& record, const std::string& path);
    // The content hash the record's origin vouched for, when one is known.
    std::optional<Hash> expectedHash(const CatalogRecord& record) const;
    // path was just found to hold hash (registration, completed download).
    void markMatching(const CatalogRecord& record, const std::string& path, const Hash& hash);

private:
    struct FileState
    {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const FileState&) const = default;
    };
    enum class Verdict
    {
        Checking,
        Matches,
        Differs,
    };
    struct Entry
    {
        FileState state;
        Hash expected{};
        Verdict verdict = Verdict::Checking;
        std::uint64_t job = 0;
    };

    static std::optional<FileState> stateOf(const std::string& path);
    static std::string keyOf(const CatalogRecord& record);
    void check(const std::string& key, const std::string& path, const FileState& state,
               const Hash& expected, const std::string& name);

    const RecordTrust& m_trust;
    ContentHasher& m_hasher;
    Notice m_notice;
    std::map<std::string, Entry> m_files;
};
