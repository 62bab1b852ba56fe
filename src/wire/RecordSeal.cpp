#include "wire/RecordSeal.h"

#include "platform/Bytes.h"

#include <algorithm>
#include <cstring>

namespace catalog {

namespace {
constexpr char kDomain[SignedLayout::DomainSize] = "PAVO-SEAL-v1";
} // namespace

void RecordSeal::write(std::uint8_t* out) const
{
    std::memset(out, 0, SealLayout::Size);
    plat::putU32(out + SealLayout::Magic, SealLayout::MagicValue);
    plat::putU32(out + SealLayout::Flags, 1);
    std::memcpy(out + SealLayout::ContentHash, contentHash.data(), contentHash.size());
    plat::encodeSystemTime(withdrawn, out + SealLayout::Withdrawn);
    std::memcpy(out + SealLayout::Signature, signature.data(), signature.size());
}

std::optional<RecordSeal> RecordSeal::read(const std::uint8_t* in)
{
    if (plat::getU32(in + SealLayout::Magic) != SealLayout::MagicValue)
        return std::nullopt;
    RecordSeal seal;
    std::memcpy(seal.contentHash.data(), in + SealLayout::ContentHash, seal.contentHash.size());
    seal.withdrawn = plat::decodeSystemTime(in + SealLayout::Withdrawn);
    std::memcpy(seal.signature.data(), in + SealLayout::Signature, seal.signature.size());
    return seal;
}

std::array<std::uint8_t, SignedLayout::Size> signedText(const CatalogRecord& record,
                                                        const RecordSeal& seal)
{
    namespace S = SignedLayout;
    namespace R = RecordLayout;
    std::array<std::uint8_t, S::Size> text{};
    const std::uint8_t* r = record.bytes.data();
    std::memcpy(text.data() + S::Domain, kDomain, sizeof kDomain);
    std::memcpy(text.data() + S::Origin, r + R::OriginNode, R::NodeNameSize);
    std::memcpy(text.data() + S::Party, r + R::PartyName, R::PartyNameSize);
    std::memcpy(text.data() + S::Kind, r + R::Kind, 4);
    std::memcpy(text.data() + S::Registration, r + R::RegistrationTime, plat::kSystemTimeSize);
    std::memcpy(text.data() + S::Expiry, r + R::Expiry, plat::kSystemTimeSize);
    std::memcpy(text.data() + S::Description, r + R::FileDescription, plat::FindLayout::Size);
    std::memcpy(text.data() + S::ContentHash, seal.contentHash.data(), seal.contentHash.size());
    plat::encodeSystemTime(seal.withdrawn, text.data() + S::Withdrawn);
    return text;
}

void signSeal(const plat::NodeKey& key, const CatalogRecord& record, RecordSeal& seal)
{
    seal.signature = key.sign(signedText(record, seal));
}

bool sealVerifies(const plat::NodeKey::PublicKey& publicKey, const CatalogRecord& record,
                  const RecordSeal& seal)
{
    return plat::NodeKey::verify(publicKey, signedText(record, seal), seal.signature);
}

std::vector<std::uint8_t> writeSealBlock(std::span<const std::optional<RecordSeal>> seals)
{
    namespace B = SealBlockLayout;
    std::vector<std::uint8_t> block(B::sizeFor(seals.size()), 0);
    plat::putU32(block.data() + B::Magic, B::MagicValue);
    plat::putU32(block.data() + B::Count, std::uint32_t(seals.size()));
    for (std::size_t i = 0; i < seals.size(); ++i) {
        std::uint8_t* entry = block.data() + B::Entries + i * B::EntrySize;
        if (!seals[i])
            continue;
        plat::putU32(entry + B::EntryPresent, 1);
        seals[i]->write(entry + B::EntrySeal);
    }
    return block;
}

std::vector<std::optional<RecordSeal>> readSealBlock(const std::uint8_t* block, std::size_t size,
                                                     std::size_t count)
{
    namespace B = SealBlockLayout;
    std::vector<std::optional<RecordSeal>> seals(count);
    if (size < B::Entries || plat::getU32(block + B::Magic) != B::MagicValue)
        return seals;
    const std::size_t stated = plat::getU32(block + B::Count);
    const std::size_t n = std::min({stated, count, (size - B::Entries) / B::EntrySize});
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* entry = block + B::Entries + i * B::EntrySize;
        if (plat::getU32(entry + B::EntryPresent) == 1)
            seals[i] = RecordSeal::read(entry + B::EntrySeal);
    }
    return seals;
}

} // namespace catalog
