#include "catalog/RecordTrust.h"

#include "app/NodeKeyPins.h"
#include "platform/Cp932.h"
#include "wire/CatalogDates.h"

using namespace catalog;

RecordTrust::RecordTrust(SealStore& seals, NameSource ownName, const plat::NodeKey* own,
                         const NodeKeyPins* pins, Clock clock)
    : m_seals(seals), m_ownName(std::move(ownName)), m_own(own), m_pins(pins),
      m_clock(clock ? std::move(clock) : Clock(&plat::localNow))
{
}

void RecordTrust::sealRegistration(const CatalogRecord& record, const Hash& contentHash)
{
    if (!m_own)
        return;
    RecordSeal seal;
    seal.contentHash = contentHash;
    signSeal(*m_own, record, seal);
    m_seals.put(record, seal);
}

void RecordTrust::sealDeletion(const CatalogRecord& deletion,
                               const std::optional<CatalogRecord>& registration)
{
    if (!m_own)
        return;
    RecordSeal seal;
    if (registration) {
        seal.withdrawn = registration->registrationTime();
        if (const auto hash = contentHashOf(*registration))
            seal.contentHash = *hash;
    }
    signSeal(*m_own, deletion, seal);
    m_seals.put(deletion, seal);
}

std::optional<plat::NodeKey::PublicKey> RecordTrust::keyOf(std::string_view originCp932) const
{
    const auto origin = plat::fromCp932(originCp932);
    if (!origin || origin->empty())
        return std::nullopt;
    if (*origin == m_ownName())
        return m_own ? std::optional(m_own->publicKey()) : std::nullopt;
    return m_pins ? m_pins->pinned(*origin) : std::nullopt;
}

std::optional<RecordTrust::Hash> RecordTrust::contentHashOf(const CatalogRecord& record) const
{
    if (record.kind() != RecordKind::New && record.kind() != RecordKind::Changed)
        return std::nullopt;
    const auto seal = m_seals.find(record);
    if (!seal)
        return std::nullopt;
    return seal->contentHash;
}

bool RecordTrust::tooFarAhead(const plat::SystemTime& t) const
{
    const auto when = plat::unixFromLocal(t);
    const auto now = plat::unixFromLocal(m_clock());
    return when && now && *when > *now + kMaxAheadSeconds;
}

RecordTrust::Admission RecordTrust::admit(const CatalogRecord& received,
                                          const std::optional<RecordSeal>& seal,
                                          const std::optional<CatalogRecord>& stored) const
{
    const bool deletion = received.kind() == RecordKind::Deleted;
    if (!deletion && tooFarAhead(received.registrationTime()))
        return {false, "registration time more than a day ahead"};
    const auto key = keyOf(received.originNodeCp932());
    if (!key)
        return {true, ""};
    if (!seal)
        return {false, "no seal from an origin whose key is known"};
    if (!sealVerifies(*key, received, *seal))
        return {false, "seal does not verify"};
    if (deletion)
        return admitDeletion(received, *seal, stored);
    // A registration its origin has withdrawn does not come back by being sent again.
    const auto withdrawn = m_seals.withdrawnUpTo(received);
    if (withdrawn && compareTime(received.registrationTime(), *withdrawn) <= 0)
        return {false, "registration withdrawn by its origin"};
    return {true, ""};
}

// A signed deletion withdraws only the registration it names: an older deletion replayed after
// the file was registered again names an older registration and changes nothing.
RecordTrust::Admission RecordTrust::admitDeletion(const CatalogRecord& received,
                                                  const RecordSeal& seal,
                                                  const std::optional<CatalogRecord>& stored) const
{
    (void)received;
    if (!stored || stored->kind() == RecordKind::Deleted)
        return {true, ""};
    if (compareTime(seal.withdrawn, stored->registrationTime()) != 0)
        return {false, "deletion names another registration"};
    const auto hash = contentHashOf(*stored);
    if (hash && *hash != seal.contentHash)
        return {false, "deletion names other content"};
    return {true, ""};
}

void RecordTrust::remember(const CatalogRecord& record, const RecordSeal& seal)
{
    m_seals.put(record, seal);
}
