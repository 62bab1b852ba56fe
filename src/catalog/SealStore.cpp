#include "catalog/SealStore.h"

#include "platform/Bytes.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "wire/CatalogDates.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

using namespace catalog;

SealStore::SealStore(std::string path) : m_path(std::move(path))
{
    load();
}

std::string SealStore::keyOf(const CatalogRecord& record)
{
    const std::uint8_t* r = record.bytes.data();
    std::string key;
    key.reserve(Layout::Seal);
    key.append(reinterpret_cast<const char*>(r + RecordLayout::OriginNode),
               RecordLayout::NodeNameSize);
    key.append(reinterpret_cast<const char*>(r + RecordLayout::FileDescription +
                                             plat::FindLayout::FileName),
               plat::FindLayout::FileNameSize);
    key.append(reinterpret_cast<const char*>(r + RecordLayout::RegistrationTime),
               plat::kSystemTimeSize);
    key.append(reinterpret_cast<const char*>(r + RecordLayout::Kind), 4);
    return key;
}

void SealStore::load()
{
    std::vector<std::uint8_t> bytes;
    if (!plat::readWholeFile(m_path, bytes, std::uint64_t(4) << 30))
        return;
    for (std::size_t at = 0; at + Layout::Size <= bytes.size(); at += Layout::Size) {
        const std::uint8_t* r = bytes.data() + at;
        if (auto seal = RecordSeal::read(r + Layout::Seal)) {
            std::string key(reinterpret_cast<const char*>(r), Layout::Seal);
            note(key, *seal);
            m_seals[std::move(key)] = *seal;
        }
    }
    // A torn last record (an append cut short) would shift every later one.
    if (bytes.size() % Layout::Size != 0 &&
        ::truncate(m_path.c_str(), off_t(bytes.size() / Layout::Size * Layout::Size)) != 0)
        plat::diag("SealStore: torn tail of %s cannot be cut\n", m_path.c_str());
}

void SealStore::note(const std::string& key, const RecordSeal& seal)
{
    const auto* kind = reinterpret_cast<const std::uint8_t*>(key.data() + Layout::Kind);
    if (plat::getU32(kind) != RecordKind::Deleted)
        return;
    const std::string name = key.substr(0, Layout::Registration);
    const auto it = m_withdrawn.find(name);
    if (it == m_withdrawn.end() || compareTime(it->second, seal.withdrawn) < 0)
        m_withdrawn[name] = seal.withdrawn;
}

std::optional<plat::SystemTime> SealStore::withdrawnUpTo(const CatalogRecord& record) const
{
    const auto it = m_withdrawn.find(keyOf(record).substr(0, Layout::Registration));
    if (it == m_withdrawn.end())
        return std::nullopt;
    return it->second;
}

std::optional<RecordSeal> SealStore::find(const CatalogRecord& record) const
{
    const auto it = m_seals.find(keyOf(record));
    if (it == m_seals.end())
        return std::nullopt;
    return it->second;
}

void SealStore::put(const CatalogRecord& record, const RecordSeal& seal)
{
    std::string key = keyOf(record);
    const auto it = m_seals.find(key);
    if (it != m_seals.end() && it->second == seal)
        return;
    std::uint8_t line[Layout::Size];
    std::memcpy(line, key.data(), Layout::Seal);
    seal.write(line + Layout::Seal);
    note(key, seal);
    m_seals[std::move(key)] = seal;
    std::FILE* f = std::fopen(m_path.c_str(), "ab");
    if (!f || std::fwrite(line, 1, sizeof line, f) != sizeof line)
        plat::diag("SealStore: %s cannot be written\n", m_path.c_str());
    if (f)
        std::fclose(f);
}
