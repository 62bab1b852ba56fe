#include "exchange/DownloadClaims.h"

std::string DownloadClaims::keyOf(const CatalogRecord& record)
{
    std::string key(record.originNodeCp932());
    key.push_back('\0');
    key.append(record.fileNameCp932());
    return key;
}

bool DownloadClaims::claim(const CatalogRecord& record, const void* owner)
{
    const auto [it, added] = m_owners.emplace(keyOf(record), owner);
    return added || it->second == owner;
}

bool DownloadClaims::claimedByOther(const CatalogRecord& record, const void* owner) const
{
    const auto it = m_owners.find(keyOf(record));
    return it != m_owners.end() && it->second != owner;
}

void DownloadClaims::release(const void* owner)
{
    std::erase_if(m_owners, [owner](const auto& entry) { return entry.second == owner; });
}

void DownloadClaims::release(const CatalogRecord& record, const void* owner)
{
    const auto it = m_owners.find(keyOf(record));
    if (it != m_owners.end() && it->second == owner)
        m_owners.erase(it);
}
