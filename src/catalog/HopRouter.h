#pragma once

#include "catalog/SyncRequestGate.h"
#include "wire/CatalogRecord.h"

#include "platform/LocalTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CCatalogCash;
class ChangeSignal;
class CPropatyHotLine;
class PendingFiles;

// Which peer gets which record. The hop rules: a record never goes back to its origin node nor
// to a node in its hop list, and never beyond 10 hops; on its way out this node's name is added
// to its hop list. The records that pass are put into the peer's pending file, for every
// configured peer (forwardToPeers), for one (queueForPeer), or the whole catalog for a peer's
// sync request (queueSince).
class HopRouter
{
public:
    // A peer to queue records for, with the names the hop rules compare, worked out once.
    struct Route
    {
        std::string peer;      // UTF-8, names the pending file
        std::string peerField; // CP932, as a record's name field holds it
        std::string own;       // this node's name, CP932
    };

    // The peers are the connections of settings; list is the catalog that queueSince walks;
    // changes is raised whenever records are forwarded to the peers.
    HopRouter(CPropatyHotLine& settings, const CCatalogCash& list, PendingFiles& pending,
              ChangeSignal& changes);

    // The node names of the configured connections, in order.
    std::vector<std::string> peers() const;
    // None when the peer's name cannot be written in a record, or this node has no name (its hop
    // list entry would be empty and the record invalid on every node it reaches).
    std::optional<Route> routeTo(const std::string& peer) const;
    // The record as it goes along route (this node added to its hop list, stamped), or none when
    // the hop rules keep it from that peer or the record is invalid.
    static std::optional<CatalogRecord> routed(const Route& route, CatalogRecord record);

    // Queues record for every configured peer, unless it is this node's own record.
    void forwardToPeers(const CatalogRecord& record);
    void queueForPeer(const CatalogRecord& record, const std::string& peer);
    // Queues for peer every entry (mode 1) or those registered on or after since's date (mode 2);
    // a request repeated too soon (SyncRequestGate) queues nothing.
    void queueSince(const std::string& peer, std::uint32_t syncMode, const plat::SystemTime& since);

private:
    std::string ownNameCp932() const;

    CPropatyHotLine& m_settings;
    const CCatalogCash& m_list;
    PendingFiles& m_pending;
    ChangeSignal& m_changes;
    SyncRequestGate m_syncGate;
};
