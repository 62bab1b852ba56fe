#pragma once

#include "wire/CatalogRecord.h"

#include <QJsonObject>

#include <optional>
#include <string>

class CCatalog;
class DownloadRate;
class NodeSettings;

// The control protocol's file commands on one node's catalog, with the catalog list's rules:
// "ls" (the entries with their progress, rate and time left), "add" (a copy of, or a shortcut
// to, each file in the send folder, where the folder watch registers it), "rm" (withdraw an own
// registration everywhere or delete one here) and "get" (where a received file can be copied
// from). The window's questions are answered by the request's flags; without them the reply is
// the question itself. The bytes of a copy are moved by the client, which shows their progress,
// as the window's copy shows its own.
class CatalogCommands
{
public:
    // catalog: nullptr once the node has shut down (every command then refuses).
    CatalogCommands(CCatalog* catalog, NodeSettings& settings, const DownloadRate& rates);

    QJsonObject list(const QJsonObject& request) const;
    QJsonObject add(const QJsonObject& request) const;
    QJsonObject remove(const QJsonObject& request) const;
    QJsonObject get(const QJsonObject& request) const;

    // An entry as the protocol shows it (also in events).
    QJsonObject entryJson(const CatalogRecord& record) const;

private:
    // The live entry named by the request's "file" and "origin"; a refusal in *reply otherwise.
    std::optional<CatalogRecord> find(const QJsonObject& request, QJsonObject* reply) const;
    QJsonObject addOne(const std::string& path, bool copy, bool rename) const;
    bool isOwn(const CatalogRecord& record) const;

    CCatalog* m_catalog;
    NodeSettings& m_settings;
    const DownloadRate& m_rates;
};
