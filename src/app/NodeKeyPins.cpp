#include "app/NodeKeyPins.h"

#include "platform/AtomicFile.h"
#include "platform/Bytes.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstring>

NodeKeyPins::NodeKeyPins(std::string path) : m_path(std::move(path))
{
    load();
}

NodeKeyPins::Entry* NodeKeyPins::find(const std::string& name)
{
    for (Entry& e : m_entries)
        if (e.name == name)
            return &e;
    return nullptr;
}

const NodeKeyPins::Entry* NodeKeyPins::find(const std::string& name) const
{
    return const_cast<NodeKeyPins*>(this)->find(name);
}

void NodeKeyPins::load()
{
    std::vector<std::uint8_t> bytes;
    // A pins file of a million nodes is no pins file.
    if (!plat::readWholeFile(m_path, bytes, 1000000 * Layout::Size))
        return;
    for (std::size_t at = 0; at + Layout::Size <= bytes.size(); at += Layout::Size) {
        const std::uint8_t* r = bytes.data() + at;
        const auto name =
            plat::fromCp932(std::string(plat::fieldView(r + Layout::Name, Layout::NameSize)));
        if (!name || name->empty() || find(*name)) {
            plat::diag("NodeKeyPins: record %zu of %s unusable, skipped\n", at / Layout::Size,
                       m_path.c_str());
            continue;
        }
        Entry e;
        e.name = *name;
        std::memcpy(e.pinned.data(), r + Layout::Pinned, e.pinned.size());
        if (plat::getU32(r + Layout::Flags) & kOffered) {
            PublicKey offered{};
            std::memcpy(offered.data(), r + Layout::Offered, offered.size());
            e.offered = offered;
        }
        m_entries.push_back(std::move(e));
    }
}

bool NodeKeyPins::save() const
{
    std::vector<std::uint8_t> bytes(m_entries.size() * Layout::Size, 0);
    std::uint8_t* r = bytes.data();
    for (const Entry& e : m_entries) {
        plat::copyCp932Field(r + Layout::Name, Layout::NameSize,
                             plat::toCp932(e.name).value_or(std::string()));
        std::memcpy(r + Layout::Pinned, e.pinned.data(), e.pinned.size());
        if (e.offered)
            std::memcpy(r + Layout::Offered, e.offered->data(), e.offered->size());
        plat::putU32(r + Layout::Flags, e.offered ? kOffered : 0);
        r += Layout::Size;
    }
    if (plat::AtomicFile::save(m_path, bytes.data(), bytes.size()))
        return true;
    plat::diag("NodeKeyPins: %s cannot be written\n", m_path.c_str());
    return false;
}

NodeKeyPins::Verdict NodeKeyPins::check(const std::string& name, const PublicKey& key)
{
    Entry* e = find(name);
    if (!e) {
        // Only a name that a record field can hold is pinned; another could never be looked up.
        const auto cp932 = plat::toCp932(name);
        if (!cp932 || cp932->empty() || cp932->size() >= Layout::NameSize)
            return Verdict::Unusable;
        m_entries.push_back(Entry{name, key, std::nullopt});
        save();
        return Verdict::Pinned;
    }
    if (e->pinned == key)
        return Verdict::Matches;
    if (e->offered != key) {
        e->offered = key;
        save();
    }
    return Verdict::Changed;
}

std::optional<NodeKeyPins::PublicKey> NodeKeyPins::pinned(const std::string& name) const
{
    if (const Entry* e = find(name))
        return e->pinned;
    return std::nullopt;
}

std::vector<std::string> NodeKeyPins::changed() const
{
    std::vector<std::string> out;
    for (const Entry& e : m_entries)
        if (e.offered)
            out.push_back(e.name);
    return out;
}

bool NodeKeyPins::accept(const std::string& name)
{
    Entry* e = find(name);
    if (!e || !e->offered)
        return false;
    e->pinned = *e->offered;
    e->offered.reset();
    return save();
}
