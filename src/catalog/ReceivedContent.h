#pragma once

#include "platform/Sha256.h"
#include "wire/CatalogRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>

class ServedContent;

// Checks a file being received against the content hash its origin vouched for: every stored
// chunk goes into a running SHA-256 of its download (chunks arrive strictly in order), and the
// last one must make the whole file's hash match before the file counts as complete. A download
// resumed where no running hash is kept (after a restart) first hashes what is on the disk.
class ReceivedContent
{
public:
    using Hash = plat::Sha256::Digest;
    // Reads up to size bytes of the record's received file at offset; the number read.
    using Reader = std::function<std::size_t(const CatalogRecord& record, std::uint32_t offset,
                                             std::size_t size, std::uint8_t* out)>;

    enum class Verdict
    {
        Unchecked, // no content hash is known for the record
        Continue,  // the file is not complete yet
        Matches,   // complete, and its hash matches
        Differs,   // complete, and its hash does not match: discard it
    };

    // Downloads followed at once, at most.
    static constexpr std::size_t kRunning = 16;

    // served: where the expected hashes come from and where a matching file is told.
    ReceivedContent(ServedContent& served, Reader reader);

    // Chunk [offset, offset + n) of entry's file, of size size, was just written.
    Verdict stored(const CatalogRecord& entry, std::uint32_t offset, const std::uint8_t* bytes,
                   std::uint32_t n, const std::string& path);
    // The download of entry starts again from nothing.
    void forget(const CatalogRecord& entry);

private:
    struct Running
    {
        std::string key;
        plat::Sha256 sha;
    };

    Running& runningFor(const CatalogRecord& entry, std::uint32_t offset);
    void prime(Running& run, const CatalogRecord& entry, std::uint32_t upTo);

    ServedContent& m_served;
    Reader m_read;
    std::list<Running> m_running;
};
