#include "watch/SealingCatalog.h"

#include "catalog/CCatalog.h"
#include "catalog/RecordTrust.h"
#include "catalog/ServedContent.h"
#include "platform/Diag.h"

#include <algorithm>

SealingCatalog::SealingCatalog(CCatalog& catalog, RecordTrust& trust, ContentHasher& hasher,
                               ServedContent& served)
    : m_catalog(catalog), m_trust(trust), m_hasher(hasher), m_served(served)
{
}

SealingCatalog::~SealingCatalog()
{
    for (const Pending& p : m_pending)
        m_hasher.cancel(p.job);
}

void SealingCatalog::finishPending()
{
    while (!m_pending.empty()) {
        const Pending& p = m_pending.front();
        m_hasher.cancel(p.job);
        finished(p.token, ContentHasher::hashFile(p.path));
    }
}

void SealingCatalog::addLocal(const CatalogRecord& record)
{
    start(record, true);
}

void SealingCatalog::updateLocal(const CatalogRecord& record)
{
    start(record, false);
}

void SealingCatalog::deleteEverywhere(const CatalogRecord& record)
{
    // A file that went before it was ever registered leaves nothing to withdraw.
    if (drop(std::string(record.fileNameCp932())))
        return;
    m_catalog.deleteEverywhere(record);
}

void SealingCatalog::start(const CatalogRecord& record, bool isNew)
{
    std::string name(record.fileNameCp932());
    // A change while the first hashing still runs is still the file's first registration.
    isNew = drop(name) || isNew;
    Pending p;
    p.name = std::move(name);
    p.record = record;
    p.isNew = isNew;
    p.token = ++m_lastToken;
    p.path = m_catalog.contentPath(record);
    p.job = m_hasher.start(
        p.path, [this, token = p.token](const auto& digest) { finished(token, digest); });
    m_pending.push_back(std::move(p));
}

bool SealingCatalog::drop(const std::string& name)
{
    const auto it = std::find_if(m_pending.begin(), m_pending.end(),
                                 [&](const Pending& p) { return p.name == name; });
    if (it == m_pending.end())
        return false;
    m_hasher.cancel(it->job);
    const bool wasNew = it->isNew;
    m_pending.erase(it);
    return wasNew;
}

void SealingCatalog::finished(std::uint64_t token,
                              const std::optional<ContentHasher::Digest>& digest)
{
    const auto it = std::find_if(m_pending.begin(), m_pending.end(),
                                 [&](const Pending& p) { return p.token == token; });
    if (it == m_pending.end())
        return;
    const Pending p = *it;
    m_pending.erase(it);
    if (!digest) {
        plat::diag("SealingCatalog: %s could not be read to its end, not registered\n",
                   p.record.fileNameUtf8().c_str());
        return;
    }
    m_trust.sealRegistration(p.record, *digest);
    m_served.markMatching(p.record, p.path, *digest);
    if (p.isNew)
        m_catalog.addLocal(p.record);
    else
        m_catalog.updateLocal(p.record);
}
