#pragma once

#include "transfer/CTransferListener.h"

#include <QJsonObject>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class CTransfer;
class NodeSettings;

// Turns what the transfer coordinator reports into the control protocol's events, one JSON
// object each: "registered" (an own file entered the catalog), "announced" (another node's
// registration arrived), "arrived" (its file is complete here), "deleted" (a registration was
// withdrawn, deleted here or purged), "connected" / "disconnected" (a configured connection).
// Management files (node information, published again and again) are no news.
//
// The catalog does not announce every change: a deletion merged from a peer only shows when the
// purge's full refresh leaves the entry out, and a download that completes while a refresh runs
// shows in its repeated announcement. So each live entry's state is remembered, and every
// announcement, single or repeated, is compared with it.
class ControlEvents : public CTransferListener
{
public:
    using Sink = std::function<void(const QJsonObject& event)>;
    // entry: the protocol's view of a record (CatalogCommands::entryJson).
    using EntryView = std::function<QJsonObject(const CatalogRecord&)>;

    ControlEvents(CTransfer& transfer, NodeSettings& settings, EntryView view, Sink sink);

    void entryAdded(const catalog::CatalogRecord& record) override;
    void entryChanged(int index, const catalog::CatalogRecord& record) override;
    void listReset() override;
    void listRefilled() override;
    void onConnectionChanged() override;

private:
    // What is remembered of an entry: enough to tell it when it goes.
    struct Brief
    {
        std::string origin;
        std::string file;
        double size = 0;
        bool complete = false;
        bool deleted = false;
    };

    void update(const CatalogRecord& record, bool added);
    void emitEntry(const char* kind, const CatalogRecord& record);
    void emitGone(const Brief& brief);

    CTransfer& m_transfer;
    NodeSettings& m_settings;
    EntryView m_view;
    Sink m_sink;
    std::map<std::string, Brief> m_entries;
    std::set<std::string> m_refilled;
    bool m_refilling = false;
    std::vector<bool> m_connected;
};
