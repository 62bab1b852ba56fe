#pragma once

#include <QJsonObject>

class DownloadRate;
class PavoNode;

// The control protocol's commands on the node itself, with the main window's rules and messages:
// "status", "online" / "offline" (refused as the window refuses it), "connect" / "disconnect" of
// one configured connection, "connections" (add, rm, rename) and "set" of the system properties.
// As in the window, connections and system properties are not changed while a peer is connected.
class NodeCommands
{
public:
    NodeCommands(PavoNode& node, const DownloadRate& rates);

    QJsonObject status() const;
    QJsonObject setOnline(bool online) const;
    QJsonObject connect(const QJsonObject& request, bool connect) const;
    QJsonObject connections(const QJsonObject& request) const;
    QJsonObject set(const QJsonObject& request) const;

private:
    // The index of the connection the request's "name" names (node name, or address); -1 with a
    // refusal in *reply.
    int connectionIndex(const QJsonObject& request, QJsonObject* reply) const;
    bool anyConnected() const;
    QJsonObject addConnection(const QJsonObject& request) const;
    QJsonObject removeConnection(const QJsonObject& request) const;
    QJsonObject renameConnection(const QJsonObject& request) const;

    PavoNode& m_node;
    const DownloadRate& m_rates;
};
