#include "control/ControlEvents.h"

#include "app/NodeSettings.h"
#include "catalog/RecordRoles.h"
#include "control/ControlReply.h"
#include "transfer/CTransfer.h"
#include "wire/CatalogRecord.h"
#include "wire/RecordKey.h"

ControlEvents::ControlEvents(CTransfer& transfer, NodeSettings& settings, EntryView view, Sink sink)
    : m_transfer(transfer), m_settings(settings), m_view(std::move(view)), m_sink(std::move(sink))
{
}

void ControlEvents::emitEntry(const char* kind, const CatalogRecord& record)
{
    QJsonObject event = m_view(record);
    event[QStringLiteral("event")] = QString::fromLatin1(kind);
    m_sink(event);
}

void ControlEvents::emitGone(const Brief& brief)
{
    QJsonObject event;
    event[QStringLiteral("event")] = QStringLiteral("deleted");
    event[QStringLiteral("origin")] = ControlReply::qs(brief.origin);
    event[QStringLiteral("file")] = ControlReply::qs(brief.file);
    event[QStringLiteral("size")] = brief.size;
    event[QStringLiteral("state")] = QStringLiteral("deleted");
    m_sink(event);
}

void ControlEvents::update(const CatalogRecord& record, bool added)
{
    const std::string file = record.fileNameUtf8();
    if (catalog::isManagementFileName(file))
        return;
    const std::string key = catalog::registrationKey(record);
    if (m_refilling)
        m_refilled.insert(key);
    const bool complete = record.completeFlag() == 1;
    const bool deleted = record.kind() == catalog::RecordKind::Deleted;
    const bool own = catalog::isOwnRecord(record, m_settings.nodeName());
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        m_entries[key] =
            Brief{record.originNodeUtf8(), file, double(record.fileSize()), complete, deleted};
        if (added && !deleted)
            emitEntry(own ? "registered" : "announced", record);
        return;
    }
    Brief& was = it->second;
    if (!was.deleted && deleted)
        emitEntry("deleted", record);
    else if (!was.complete && complete && !deleted && !own)
        emitEntry("arrived", record);
    was.complete = complete;
    was.deleted = deleted;
}

void ControlEvents::entryAdded(const CatalogRecord& record)
{
    update(record, true);
}

void ControlEvents::entryChanged(int /*index*/, const CatalogRecord& record)
{
    update(record, false);
}

void ControlEvents::listReset()
{
    m_refilling = true;
    m_refilled.clear();
}

// What the refresh left out has been purged: deleted here, withdrawn by its node, or expired.
void ControlEvents::listRefilled()
{
    m_refilling = false;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (m_refilled.count(it->first)) {
            ++it;
            continue;
        }
        if (!it->second.deleted)
            emitGone(it->second);
        it = m_entries.erase(it);
    }
    m_refilled.clear();
}

void ControlEvents::onConnectionChanged()
{
    const ConnectionList& list = m_settings.connections();
    m_connected.resize(static_cast<std::size_t>(list.count()), false);
    for (int i = 0; i < list.count(); ++i) {
        const bool now = m_transfer.isConnected(i) == 1;
        if (now == m_connected[static_cast<std::size_t>(i)])
            continue;
        m_connected[static_cast<std::size_t>(i)] = now;
        QJsonObject event;
        event[QStringLiteral("event")] =
            now ? QStringLiteral("connected") : QStringLiteral("disconnected");
        event[QStringLiteral("name")] = ControlReply::qs(list.at(i).nodeName);
        event[QStringLiteral("address")] = ControlReply::qs(list.at(i).address);
        m_sink(event);
    }
}
