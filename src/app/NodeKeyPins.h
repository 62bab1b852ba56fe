#pragma once

#include "platform/NodeKey.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The identity keys this node trusts, one per node name: the first key seen for a name is pinned
// (trust on first use). A different key later is not taken; it is kept as offered until the user
// accepts it. Kept in the catalog folder as "nodekeys.dat", a file of fixed records with no
// header, replaced whole on every change.
class NodeKeyPins
{
public:
    using PublicKey = plat::NodeKey::PublicKey;
    static constexpr const char* kFileName = "nodekeys.dat";

    // One record of the file: the name as CP932, the pinned key, the offered key, flags.
    struct Layout
    {
        static constexpr std::size_t Name = 0;
        static constexpr std::size_t NameSize = 32;
        static constexpr std::size_t Pinned = 32;
        static constexpr std::size_t Offered = 64;
        static constexpr std::size_t Flags = 96;
        static constexpr std::size_t Size = 100;
    };
    static_assert(Layout::Name + Layout::NameSize == Layout::Pinned);
    static_assert(Layout::Pinned + plat::NodeKey::kPublicSize == Layout::Offered);
    static_assert(Layout::Offered + plat::NodeKey::kPublicSize == Layout::Flags);
    static_assert(Layout::Flags + 4 == Layout::Size);
    // Flags: a changed key waits for the user.
    static constexpr std::uint32_t kOffered = 1;

    enum class Verdict
    {
        Pinned,   // the first key seen for the name: now pinned
        Matches,  // the pinned key
        Changed,  // another key than the pinned one: refused until accepted
        Unusable, // a name no record field can hold: nothing pinned
    };

    struct Entry
    {
        // UTF-8, as the settings hold node names.
        std::string name;
        PublicKey pinned{};
        std::optional<PublicKey> offered;
    };

    // path: the pins file; it is read here and written on every change.
    explicit NodeKeyPins(std::string path);

    // Compares key with the pin of name, pinning it when there is none.
    Verdict check(const std::string& name, const PublicKey& key);
    // The pinned key of name, when there is one.
    std::optional<PublicKey> pinned(const std::string& name) const;
    // The names whose changed key waits for the user, in pinning order.
    std::vector<std::string> changed() const;
    // The offered key of name replaces its pin. False when none was offered.
    bool accept(const std::string& name);

    const std::vector<Entry>& entries() const { return m_entries; }

private:
    Entry* find(const std::string& name);
    const Entry* find(const std::string& name) const;
    void load();
    bool save() const;

    std::string m_path;
    std::vector<Entry> m_entries;
};
