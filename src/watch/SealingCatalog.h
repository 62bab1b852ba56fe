#pragma once

#include "catalog/ContentHasher.h"
#include "watch/CFolderWatch.h"

#include <cstdint>
#include <string>
#include <vector>

class CCatalog;
class RecordTrust;
class ServedContent;

// Between the folder watch and the node's catalog: a new or changed file is registered only once
// its content is hashed (in slices on the event loop, beside the folder watch) and its record is
// sealed with the hash; a withdrawal goes on at once and drops the hashing of that file.
class SealingCatalog : public CFolderWatch::Catalog
{
public:
    // Every part outlives this object.
    SealingCatalog(CCatalog& catalog, RecordTrust& trust, ContentHasher& hasher,
                   ServedContent& served);
    ~SealingCatalog() override;
    SealingCatalog(const SealingCatalog&) = delete;
    SealingCatalog& operator=(const SealingCatalog&) = delete;

    void addLocal(const CatalogRecord& record) override;
    void deleteEverywhere(const CatalogRecord& record) override;
    void updateLocal(const CatalogRecord& record) override;

    // Files still being hashed.
    std::size_t pending() const { return m_pending.size(); }
    // Hashes what is still pending at once and registers it (the node is shutting down).
    void finishPending();

private:
    struct Pending
    {
        std::string name; // CP932, as the record holds it
        CatalogRecord record;
        std::string path;
        bool isNew = false;
        std::uint64_t job = 0;   // the hasher's
        std::uint64_t token = 0; // ours, handed to the hasher's callback
    };

    void start(const CatalogRecord& record, bool isNew);
    // Drops the hashing of name; true when it was a new file not registered yet.
    bool drop(const std::string& name);
    void finished(std::uint64_t token, const std::optional<ContentHasher::Digest>& digest);

    CCatalog& m_catalog;
    RecordTrust& m_trust;
    ContentHasher& m_hasher;
    ServedContent& m_served;
    std::vector<Pending> m_pending;
    std::uint64_t m_lastToken = 0;
};
