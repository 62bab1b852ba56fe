#include "catalog/HopRouter.h"

#include "app/CPropatyHotLine.h"
#include "catalog/CCatalogCash.h"
#include "catalog/PendingFiles.h"
#include "exchange/ChangeSignal.h"
#include "platform/Diag.h"
#include "wire/CatalogDates.h"
#include "wire/HelloBody.h"

using catalog::RecordLayout::MaxHops;
using catalog::RecordLayout::NodeNameSize;

HopRouter::HopRouter(CPropatyHotLine& settings, const CCatalogCash& list, PendingFiles& pending,
                     ChangeSignal& changes)
    : m_settings(settings), m_list(list), m_pending(pending), m_changes(changes)
{
}

std::string HopRouter::ownNameCp932() const
{
    return catalog::cp932Field(m_settings.getNodeName(), NodeNameSize).value_or(std::string());
}

std::vector<std::string> HopRouter::peers() const
{
    std::vector<std::string> names;
    const int n = m_settings.getConnectCount();
    for (int i = 0; i < n; ++i)
        names.push_back(m_settings.getConnectNodeName(i));
    return names;
}

std::optional<HopRouter::Route> HopRouter::routeTo(const std::string& peer) const
{
    if (peer.empty())
        return std::nullopt;
    Route route;
    route.peer = peer;
    const auto peerField = catalog::cp932Field(peer, NodeNameSize);
    route.own = ownNameCp932();
    if (!peerField || route.own.empty())
        return std::nullopt;
    route.peerField = *peerField;
    return route;
}

std::optional<CatalogRecord> HopRouter::routed(const Route& route, CatalogRecord record)
{
    if (!catalog::isValidRecord(record) || record.originNodeCp932() == route.peerField)
        return std::nullopt;
    const std::int32_t hops = record.hopCount();
    if (hops >= static_cast<std::int32_t>(MaxHops))
        return std::nullopt;
    for (std::int32_t i = 0; i < hops; ++i)
        if (record.hopCp932(static_cast<std::size_t>(i)) == route.peerField)
            return std::nullopt;
    record.setHopCp932(static_cast<std::size_t>(hops), route.own);
    record.setHopCount(hops + 1);
    catalog::stampChecksum(record);
    return record;
}

void HopRouter::forwardToPeers(const CatalogRecord& record)
{
    const std::string own = ownNameCp932();
    if (!own.empty() && record.originNodeCp932() == own)
        return;
    for (const std::string& peer : peers())
        queueForPeer(record, peer);
    m_changes.raise();
}

void HopRouter::queueForPeer(const CatalogRecord& record, const std::string& peer)
{
    const auto route = routeTo(peer);
    if (!route)
        return;
    if (const auto out = routed(*route, record))
        m_pending.put(route->peer, *out);
}

void HopRouter::queueSince(const std::string& peer, std::uint32_t syncMode,
                           const plat::SystemTime& since)
{
    if (syncMode != catalog::SyncMode::All && syncMode != catalog::SyncMode::Since)
        return;
    const auto route = routeTo(peer);
    if (!route)
        return;
    if (!m_syncGate.admit(route->peer, syncMode, since)) {
        plat::diag("CCatalog::queueSince(): %s repeats its sync request, not queued again\n",
                   route->peer.c_str());
        return;
    }
    const auto wanted = [&](const CatalogRecord& r) {
        return syncMode != catalog::SyncMode::Since ||
               catalog::compareDate(r.registrationTime(), since) >= 0;
    };
    // The pending file keeps at most its newest PendingFiles::kKeepRecords once past its cap,
    // so the older entries beyond that many are not queued only to be dropped again.
    std::size_t queueable = 0;
    for (int i = 0; i < m_list.count(); ++i)
        queueable += wanted(m_list.at(i)) && routed(*route, m_list.at(i)).has_value();
    std::size_t skip =
        queueable > PendingFiles::kKeepRecords ? queueable - PendingFiles::kKeepRecords : 0;
    if (skip > 0)
        plat::diag("CCatalog::queueSince(): %zu older entries not queued for %s\n", skip,
                   route->peer.c_str());
    // Written in slices: one look at the pending file and one append per slice, instead of a
    // file operation per entry of the catalog.
    constexpr std::size_t Slice = 512;
    std::vector<CatalogRecord> slice;
    slice.reserve(Slice);
    for (int i = 0; i < m_list.count(); ++i) {
        const CatalogRecord& r = m_list.at(i);
        if (!wanted(r))
            continue;
        auto out = routed(*route, r);
        if (!out)
            continue;
        if (skip > 0) {
            --skip;
            continue;
        }
        slice.push_back(*out);
        if (slice.size() == Slice) {
            m_pending.putAll(route->peer, slice);
            slice.clear();
        }
    }
    if (!slice.empty())
        m_pending.putAll(route->peer, slice);
}
