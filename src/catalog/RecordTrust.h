#pragma once

#include "catalog/SealStore.h"
#include "exchange/RecordAdmission.h"
#include "platform/LocalTime.h"
#include "platform/NodeKey.h"
#include "wire/CatalogRecord.h"
#include "wire/RecordSeal.h"

#include <functional>
#include <optional>
#include <string>

class NodeKeyPins;

// Who may say what about a file: this node seals (signs) every record it originates, and
// decides whether a record from a peer may be merged. For an origin whose identity key is known
// (this node's own, or one pinned from its node-information file) a registration or deletion
// counts only with a valid seal, and a deletion only when it names the exact registration it
// withdraws. For an origin with no known key a record is taken as a node built to the original
// design would take it. A registration dated more than a day ahead of this node's clock is
// refused from every origin: it would shadow every honest later version.
class RecordTrust : public RecordAdmission
{
public:
    using Clock = std::function<plat::SystemTime()>;
    using Hash = catalog::RecordSeal::Hash;

    using Admission = RecordAdmission::Verdict;

    // How far ahead of this node's clock a registration time may lie.
    static constexpr int kMaxAheadSeconds = 86400;

    // This node's name as the settings hold it now (UTF-8).
    using NameSource = std::function<std::string()>;

    // pins (may be null: no key is known for any other node) and own (may be null: this node
    // seals nothing) outlive the object.
    RecordTrust(SealStore& seals, NameSource ownName, const plat::NodeKey* own,
                const NodeKeyPins* pins, Clock clock = {});

    // Seals a registration (kind 1 or 3) of this node with the content hash of its file.
    void sealRegistration(const CatalogRecord& record, const Hash& contentHash);
    // Seals a deletion of this node; registration is the entry it withdraws, when there is one.
    void sealDeletion(const CatalogRecord& deletion,
                      const std::optional<CatalogRecord>& registration);

    // This node's entry of a record's origin and file name, when there is one.
    using EntryLookup = std::function<std::optional<CatalogRecord>(const CatalogRecord& record)>;
    void setEntryLookup(EntryLookup lookup) { m_lookup = std::move(lookup); }
    // Whether a received record may be merged, against the entry the lookup finds.
    Admission admit(const CatalogRecord& received,
                    const std::optional<catalog::RecordSeal>& seal) const override
    {
        return admit(received, seal, m_lookup ? m_lookup(received) : std::nullopt);
    }
    // Whether a received record may be merged. stored: this node's entry of the same origin and
    // file name, when there is one.
    Admission admit(const CatalogRecord& received, const std::optional<catalog::RecordSeal>& seal,
                    const std::optional<CatalogRecord>& stored) const;
    // Keeps the seal of an admitted record, so that it travels on with the record and its
    // content can be checked.
    void remember(const CatalogRecord& record, const catalog::RecordSeal& seal) override;

    std::optional<catalog::RecordSeal> sealOf(const CatalogRecord& record) const override
    {
        return m_seals.find(record);
    }
    // The content hash the origin vouched for (registrations only).
    std::optional<Hash> contentHashOf(const CatalogRecord& record) const;
    // The key a record of origin (CP932 field text) must be signed with; none when unknown.
    std::optional<plat::NodeKey::PublicKey> keyOf(std::string_view originCp932) const;

private:
    bool tooFarAhead(const plat::SystemTime& t) const;
    Admission admitDeletion(const CatalogRecord& received, const catalog::RecordSeal& seal,
                            const std::optional<CatalogRecord>& stored) const;

    SealStore& m_seals;
    NameSource m_ownName;
    const plat::NodeKey* m_own;
    const NodeKeyPins* m_pins;
    Clock m_clock;
    EntryLookup m_lookup;
};
