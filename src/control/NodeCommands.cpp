#include "control/NodeCommands.h"

#include "app/CMultiCheck.h"
#include "app/ConnectionRules.h"
#include "app/NodeSettings.h"
#include "app/SystemPropertyRules.h"
#include "catalog/CCatalog.h"
#include "control/ControlReply.h"
#include "control/DownloadRate.h"
#include "node/PavoNode.h"

#include <QJsonArray>

using ControlReply::qs;

namespace {
const char* const kPeersConnected =
    "接続中のノードがあるため変更できません。オフラインにして接続が切れてから変更してください。";
const char* const kNoSuchConnection = "「%1」という接続先はありません。";
const char* const kOffline = "オフラインのため接続できません。";
const char* const kNotInteger = "整数を入力してください。";

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

std::string str(const QJsonObject& o, const char* name)
{
    return o.value(key(name)).toString().toStdString();
}

QJsonObject refused(const SystemPropertyRules::Refusal& r)
{
    return ControlReply::refused(r.pattern, r.args);
}

// An integer property given as text; false when it is none.
bool readInt(const QJsonObject& o, const char* name, int* value)
{
    const QJsonValue v = o.value(key(name));
    if (v.isUndefined())
        return true;
    bool ok = false;
    *value = v.toString().trimmed().toInt(&ok);
    return ok;
}
} // namespace

NodeCommands::NodeCommands(PavoNode& node, const DownloadRate& rates) : m_node(node), m_rates(rates)
{
}

bool NodeCommands::anyConnected() const
{
    const int count = m_node.settings().connections().count();
    for (int i = 0; i < count; ++i)
        if (m_node.transfer().isConnected(i) == 1)
            return true;
    return false;
}

QJsonObject NodeCommands::status() const
{
    NodeSettings& settings = m_node.settings();
    QJsonObject o;
    o[key("party")] = qs(settings.partyName());
    o[key("node")] = qs(settings.nodeName());
    o[key("online")] = m_node.online();
    o[key("listening")] = m_node.isListening() && !m_node.options().clientOnly;
    o[key("port")] = settings.getListenPort();
    o[key("days")] = settings.getLimitDay();
    o[key("window")] = settings.getWindow() == 0 ? key("open") : key("closed");
    o[key("folder")] = qs(settings.getCurrentFolder());
    QJsonArray connections;
    const ConnectionList& list = settings.connections();
    for (int i = 0; i < list.count(); ++i) {
        const ConnectionRecord r = list.at(i);
        QJsonObject c;
        c[key("index")] = i;
        c[key("name")] = qs(r.nodeName);
        c[key("method")] = qs(r.connectMethod);
        c[key("address")] = qs(r.address);
        c[key("comment")] = qs(r.comment);
        const bool connected = m_node.transfer().isConnected(i) == 1;
        c[key("state")] = connected ? key("connected") : key("not connected");
        // The way a connection reaches its peer is its method until other paths exist.
        c[key("path")] = QJsonValue();
        // File bytes per second received from the peer and sent to it just now.
        const TransferColumn::Rates rates = m_node.transfer().rates(i);
        c[key("rate")] = connected ? QJsonValue(rates.received) : QJsonValue();
        c[key("upload_rate")] = connected ? QJsonValue(rates.sent) : QJsonValue();
        connections.append(c);
    }
    o[key("connections")] = connections;
    o[key("download_rate")] = m_rates.totalRate();
    const CCatalog* catalog = m_node.catalog();
    o[key("entries")] = catalog ? catalog->count() : 0;
    return ControlReply::ok(o);
}

QJsonObject NodeCommands::setOnline(bool online) const
{
    if (const char* refusal = PavoNode::refusalText(m_node.setOnline(online)))
        return ControlReply::refused(refusal);
    return status();
}

int NodeCommands::connectionIndex(const QJsonObject& request, QJsonObject* reply) const
{
    const std::string name = str(request, "name");
    const ConnectionList& list = m_node.settings().connections();
    for (int i = 0; i < list.count(); ++i)
        if (list.at(i).nodeName == name)
            return i;
    for (int i = 0; i < list.count(); ++i)
        if (list.at(i).address == name)
            return i;
    *reply = ControlReply::refused(kNoSuchConnection, {name});
    return -1;
}

QJsonObject NodeCommands::connect(const QJsonObject& request, bool connect) const
{
    QJsonObject reply;
    const int index = connectionIndex(request, &reply);
    if (index < 0)
        return reply;
    if (connect) {
        // Off-line, the node's periodic work would drop the connection again at once.
        if (!m_node.online())
            return ControlReply::refused(kOffline);
        if (m_node.transfer().isConnected(index) != 1)
            m_node.transfer().connectPeer(index);
    } else {
        m_node.transfer().disconnectPeer(index);
    }
    return ControlReply::ok();
}

QJsonObject NodeCommands::connections(const QJsonObject& request) const
{
    const std::string action = str(request, "action");
    if (anyConnected())
        return ControlReply::refused(kPeersConnected);
    if (action == "add")
        return addConnection(request);
    if (action == "rm")
        return removeConnection(request);
    if (action == "rename")
        return renameConnection(request);
    return ControlReply::usage("unknown connections action '" + action + "'");
}

QJsonObject NodeCommands::addConnection(const QJsonObject& request) const
{
    NodeSettings& settings = m_node.settings();
    if (settings.connections().count() >= ConnectionList::kMaxConnections)
        return ControlReply::refused(ConnectionRules::kTooMany);
    const bool tcp = str(request, "method") != "SKYPE";
    const std::string name = str(request, "name");
    const std::string address = str(request, "address");
    const std::string refusal =
        ConnectionRules::check(tcp, address, name, tcp ? std::string() : address);
    if (!refusal.empty())
        return ControlReply::refused(refusal);
    // A Skype connection is named by its ID until the peer tells its node name.
    settings.connections().append(ConnectionRecord{tcp ? name : address, tcp ? "TCP" : "SKYPE",
                                                   address, str(request, "comment")});
    settings.save();
    return status();
}

QJsonObject NodeCommands::removeConnection(const QJsonObject& request) const
{
    QJsonObject reply;
    const int index = connectionIndex(request, &reply);
    if (index < 0)
        return reply;
    m_node.settings().connections().remove(index);
    m_node.settings().save();
    return status();
}

QJsonObject NodeCommands::renameConnection(const QJsonObject& request) const
{
    QJsonObject reply;
    const int index = connectionIndex(request, &reply);
    if (index < 0)
        return reply;
    const std::string newName = str(request, "new");
    if (const std::string refusal = ConnectionRules::checkNodeName(newName); !refusal.empty())
        return ControlReply::refused(refusal);
    NodeSettings& settings = m_node.settings();
    ConnectionRecord record = settings.connections().at(index);
    const std::string oldName = record.nodeName;
    record.nodeName = newName;
    settings.connections().replace(index, record);
    // Records still pending for the peer stay queued for it under its new name.
    if (oldName != newName && !settings.connections().hasNodeName(oldName))
        if (CCatalog* catalog = m_node.catalog())
            catalog->renamePendingFile(ConnectionList::settingText(oldName),
                                       ConnectionList::settingText(newName));
    settings.save();
    return status();
}

QJsonObject NodeCommands::set(const QJsonObject& request) const
{
    NodeSettings& settings = m_node.settings();
    if (anyConnected())
        return ControlReply::refused(kPeersConnected);
    const QJsonValue partyValue = request.value(key("party"));
    const QJsonValue nodeValue = request.value(key("node"));
    const std::string party =
        partyValue.isUndefined() ? settings.partyName() : partyValue.toString().toStdString();
    const std::string node =
        nodeValue.isUndefined() ? settings.nodeName() : nodeValue.toString().toStdString();
    int days = settings.getLimitDay();
    int port = settings.getListenPort();
    if (!readInt(request, "days", &days) || !readInt(request, "port", &port))
        return ControlReply::refused(kNotInteger);
    const std::string window = str(request, "window");
    if (!window.empty() && window != "open" && window != "closed")
        return ControlReply::usage("window is 'open' or 'closed'");
    for (const auto& refusal : {SystemPropertyRules::checkLengths(party, node),
                                SystemPropertyRules::checkValues(party, node, days),
                                SystemPropertyRules::checkPort(port)})
        if (refusal.refused())
            return refused(refusal);
    const bool newParty = party != settings.partyName();
    if (newParty && settings.partyKey().state != PartyKeyStore::State::None)
        return ControlReply::refused(SystemPropertyRules::kKeyNeedsPassphrase);
    if (newParty && CMultiCheck::instance().check(party) == 0)
        return refused(SystemPropertyRules::partyRunning());
    settings.setNodeName(node);
    if (newParty) {
        m_node.transfer().changePartyName(party);
        settings.setPartyName(party);
    }
    if (!window.empty())
        settings.setWindow(window == "open" ? 0 : 1);
    settings.setLimitDay(days);
    settings.setListenPort(port);
    settings.save();
    return status();
}
