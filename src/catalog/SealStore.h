#pragma once

#include "wire/CatalogRecord.h"
#include "wire/RecordSeal.h"

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

// The seals this node knows, one per record (origin, file name, registration time, kind): the
// seals of its own records and those that came with records from peers. Kept in the catalog
// folder as "seals.dat", a file of fixed records with no header, each the record's key fields
// and its seal; new seals are appended and a later record for a key wins when the file is read.
class SealStore
{
public:
    static constexpr const char* kFileName = "seals.dat";

    // One record of the file: the key fields copied from the record, then the seal.
    struct Layout
    {
        static constexpr std::size_t Origin = 0;
        static constexpr std::size_t FileName = Origin + catalog::RecordLayout::NodeNameSize;
        static constexpr std::size_t Registration = FileName + plat::FindLayout::FileNameSize;
        static constexpr std::size_t Kind = Registration + plat::kSystemTimeSize;
        static constexpr std::size_t Seal = Kind + 4;
        static constexpr std::size_t Size = Seal + catalog::SealLayout::Size;
    };
    static_assert(Layout::Size == 432);

    explicit SealStore(std::string path);

    std::optional<catalog::RecordSeal> find(const CatalogRecord& record) const;
    void put(const CatalogRecord& record, const catalog::RecordSeal& seal);
    std::size_t size() const { return m_seals.size(); }
    // The latest registration time that a stored deletion of record's origin and file name
    // withdrew, when there is one: a registration up to that time was withdrawn by its origin.
    std::optional<plat::SystemTime> withdrawnUpTo(const CatalogRecord& record) const;

private:
    static std::string keyOf(const CatalogRecord& record);
    void load();
    void note(const std::string& key, const catalog::RecordSeal& seal);

    std::string m_path;
    std::unordered_map<std::string, catalog::RecordSeal> m_seals;
    // Keyed by origin and file name.
    std::unordered_map<std::string, plat::SystemTime> m_withdrawn;
};
