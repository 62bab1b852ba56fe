#include "control/ControlEvents.h"

#include "app/NodeSettings.h"
#include "catalog/CatalogRecord.h"
#include "catalog/RecordRoles.h"
#include "control/ControlReply.h"
#include "transfer/CTransfer.h"

ControlEvents::ControlEvents(CTransfer& transfer, NodeSettings& settings, EntryView view, Sink sink)
    : m_transfer(transfer), m_settings(settings), m_view(std::move(view)), m_sink(std::move(sink))
{
}

std::string ControlEvents::keyOf(const CatalogRecord& record)
{
    std::string key(record.originNodeCp932());
    key += '\0';
    key += record.fileNameCp932();
    key += '\0';
    const auto* time = record.bytes.data() + catalog::RecordLayout::RegistrationTime;
    key.append(reinterpret_cast<const char*>(time), plat::kSystemTimeSize);
    return key;
}

void ControlEvents::emitEntry(const char* kind, const CatalogRecord& record)
{
    QJsonObject event = m_view(record);
    event[QStringLiteral("event")] = QString::fromLatin1(kind);
    m_sink(event);
}

void ControlEvents::entryAdded(const CatalogRecord& record)
{
    const std::string key = keyOf(record);
    const bool deleted = record.kind() == catalog::RecordKind::Deleted;
    const bool seen = !m_known.insert(key).second;
    if (deleted)
        m_deleted.insert(key);
    else if (record.completeFlag() != 1)
        m_incomplete.insert(key);
    // The entries of the cache loaded at start and a refresh's repeats are no news.
    if (seen || deleted || m_refilling)
        return;
    emitEntry(catalog::isOwnRecord(record, m_settings.nodeName()) ? "registered" : "announced",
              record);
}

void ControlEvents::entryChanged(int /*index*/, const CatalogRecord& record)
{
    const std::string key = keyOf(record);
    m_known.insert(key);
    if (record.kind() == catalog::RecordKind::Deleted) {
        m_incomplete.erase(key);
        if (m_deleted.insert(key).second)
            emitEntry("deleted", record);
        return;
    }
    if (record.completeFlag() == 1) {
        if (m_incomplete.erase(key) && !catalog::isOwnRecord(record, m_settings.nodeName()))
            emitEntry("arrived", record);
        return;
    }
    m_incomplete.insert(key);
}

void ControlEvents::listReset()
{
    // A purge announces what is left; what it removed is no longer known.
    m_refilling = true;
    m_known.clear();
    m_deleted.clear();
    m_incomplete.clear();
}

void ControlEvents::listRefilled()
{
    m_refilling = false;
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
