#pragma once

#include "transfer/CTransferListener.h"

#include <QJsonObject>

#include <functional>
#include <set>
#include <string>
#include <vector>

class CTransfer;
class NodeSettings;

// Turns what the transfer coordinator reports into the control protocol's events, one JSON
// object each: "registered" (an own file entered the catalog), "announced" (another node's
// registration arrived), "arrived" (its file is complete here), "deleted" (a registration was
// withdrawn or deleted here), "connected" / "disconnected" (a configured connection). A full
// refresh of the catalog (after a purge) announces every entry again; those repeats are not news.
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
    static std::string keyOf(const CatalogRecord& record);
    void emitEntry(const char* kind, const CatalogRecord& record);

    CTransfer& m_transfer;
    NodeSettings& m_settings;
    EntryView m_view;
    Sink m_sink;
    // Registrations whose file is not complete here yet, and those seen deleted: an arrival and a
    // deletion are each told once.
    std::set<std::string> m_incomplete;
    std::set<std::string> m_deleted;
    std::set<std::string> m_known;
    bool m_refilling = false;
    std::vector<bool> m_connected;
};
