#pragma once

#include "platform/LocalTime.h"
#include "platform/NodeKey.h"
#include "wire/CatalogRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// What the origin node vouches for about one record it made: the SHA-256 of the file's content
// (for a deletion: of the registration it withdraws), for a deletion the registration time of
// the registration it withdraws, and the origin's signature over these and the record's own
// fields (origin, party, kind, registration time, expiry, file description). A seal travels
// only between Pavo nodes that both announce it (a block after a catalog batch's records); a
// node built to the original design never sees one.
namespace catalog {

namespace SealLayout {
constexpr std::size_t Magic = 0;
constexpr std::size_t Flags = 4;
constexpr std::size_t ContentHash = 8;
constexpr std::size_t HashSize = 32;
constexpr std::size_t Withdrawn = 40;
constexpr std::size_t Signature = 56;
constexpr std::size_t Size = 120;
static_assert(ContentHash + HashSize == Withdrawn);
static_assert(Withdrawn + plat::kSystemTimeSize == Signature);
static_assert(Signature + plat::NodeKey::kSignatureSize == Size);

// "PVSL", little-endian.
constexpr std::uint32_t MagicValue = 0x4C535650;
} // namespace SealLayout

// The block a Pavo node appends to a catalog batch of N records for a peer that announced seals:
// a mark, N, then per record a presence word (1: a seal follows, 0: the slot is zero) and a
// seal slot.
namespace SealBlockLayout {
constexpr std::size_t Magic = 0;
constexpr std::size_t Count = 4;
constexpr std::size_t Entries = 8;
constexpr std::size_t EntryPresent = 0;
constexpr std::size_t EntrySeal = 4;
constexpr std::size_t EntrySize = EntrySeal + SealLayout::Size;
static_assert(EntrySize == 124);

// "PVSB", little-endian.
constexpr std::uint32_t MagicValue = 0x42535650;

constexpr std::size_t sizeFor(std::size_t records)
{
    return Entries + records * EntrySize;
}
} // namespace SealBlockLayout

// The fields of the signed text, in order, after a 16-byte domain label.
namespace SignedLayout {
constexpr std::size_t Domain = 0;
constexpr std::size_t DomainSize = 16;
constexpr std::size_t Origin = 16;
constexpr std::size_t Party = Origin + RecordLayout::NodeNameSize;
constexpr std::size_t Kind = Party + RecordLayout::PartyNameSize;
constexpr std::size_t Registration = Kind + 4;
constexpr std::size_t Expiry = Registration + plat::kSystemTimeSize;
constexpr std::size_t Description = Expiry + plat::kSystemTimeSize;
constexpr std::size_t ContentHash = Description + plat::FindLayout::Size;
constexpr std::size_t Withdrawn = ContentHash + SealLayout::HashSize;
constexpr std::size_t Size = Withdrawn + plat::kSystemTimeSize;
static_assert(Size == 476);
} // namespace SignedLayout

struct RecordSeal
{
    using Hash = std::array<std::uint8_t, SealLayout::HashSize>;

    Hash contentHash{};
    // For a deletion: the registration time of the registration it withdraws.
    plat::SystemTime withdrawn{};
    plat::NodeKey::Signature signature{};

    void write(std::uint8_t* out) const;
    // nullopt when the bytes are not a seal (no mark).
    static std::optional<RecordSeal> read(const std::uint8_t* in);

    bool operator==(const RecordSeal&) const = default;
};

// The text the origin signs for record and seal.
std::array<std::uint8_t, SignedLayout::Size> signedText(const CatalogRecord& record,
                                                        const RecordSeal& seal);
// Signs record with key (fills seal.signature).
void signSeal(const plat::NodeKey& key, const CatalogRecord& record, RecordSeal& seal);
// True when seal carries publicKey's signature of record and seal.
bool sealVerifies(const plat::NodeKey::PublicKey& publicKey, const CatalogRecord& record,
                  const RecordSeal& seal);

// The seal block for a batch's seals (a null entry: no seal for that record).
std::vector<std::uint8_t> writeSealBlock(std::span<const std::optional<RecordSeal>> seals);
// The seals of a block of at most size bytes for count records; nothing when there is no block.
std::vector<std::optional<RecordSeal>> readSealBlock(const std::uint8_t* block, std::size_t size,
                                                     std::size_t count);

} // namespace catalog
