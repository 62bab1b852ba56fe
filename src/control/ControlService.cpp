#include "control/ControlService.h"

#include "control/CatalogCommands.h"
#include "control/ControlPath.h"
#include "control/ControlReply.h"
#include "control/NodeCommands.h"
#include "node/PavoNode.h"

#include <QJsonDocument>

namespace {
const char* const kWatched = "このノードは別のクライアント（プロセス %1）が監視中です。";

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

std::string toLine(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}
} // namespace

ControlService::ControlService(PavoNode& node, DownloadRate& rates)
    : m_node(node), m_rates(rates),
      m_events(
          node.transfer(), node.settings(),
          [this](const CatalogRecord& r) {
              return CatalogCommands(m_node.catalog(), m_node.settings(), m_rates).entryJson(r);
          },
          [this](const QJsonObject& event) { publish(event); }),
      m_server({[this](int client, const std::string& line) { onLine(client, line); },
                [this](int client) {
                    if (client == m_watcher)
                        m_watcher = 0;
                }})
{
}

ControlService::~ControlService()
{
    stop();
}

bool ControlService::start(std::string* why)
{
    m_path = ControlPath::preparedSocketPath(why);
    return !m_path.empty() && m_server.listen(m_path, why);
}

void ControlService::stop()
{
    m_server.stop();
    m_watcher = 0;
}

void ControlService::onLine(int client, const std::string& line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    QJsonObject reply;
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        reply = ControlReply::usage("a request is one JSON object per line");
    } else {
        const QJsonObject request = document.object();
        reply = dispatch(client, request);
        if (request.contains(key("id")))
            reply[key("id")] = request.value(key("id"));
    }
    m_server.send(client, toLine(reply));
}

QJsonObject ControlService::dispatch(int client, const QJsonObject& request)
{
    const std::string cmd = request.value(key("cmd")).toString().toStdString();
    if (m_node.isShutDown())
        return ControlReply::failed("ノードは終了処理中です。");
    const CatalogCommands files(m_node.catalog(), m_node.settings(), m_rates);
    const NodeCommands node(m_node, m_rates);
    QJsonObject reply;
    if (cmd == "status")
        return node.status();
    if (cmd == "ls")
        return files.list(request);
    if (cmd == "add")
        return files.add(request);
    if (cmd == "rm")
        return files.remove(request);
    if (cmd == "get")
        return files.get(request);
    if (cmd == "watch")
        return watch(client);
    if (cmd == "online" || cmd == "offline")
        reply = node.setOnline(cmd == "online");
    else if (cmd == "connect" || cmd == "disconnect")
        reply = node.connect(request, cmd == "connect");
    else if (cmd == "connections")
        reply = node.connections(request);
    else if (cmd == "set")
        reply = node.set(request);
    else
        return ControlReply::usage("unknown command '" + cmd + "'");
    // The window shows the node's state and settings; it follows what was changed here.
    m_node.notifyStateChanged();
    return reply;
}

QJsonObject ControlService::watch(int client)
{
    if (m_watcher != 0 && m_watcher != client)
        return ControlReply::refused(kWatched, {std::to_string(m_server.clientPid(m_watcher))});
    m_watcher = client;
    return ControlReply::ok();
}

void ControlService::publish(const QJsonObject& event)
{
    if (m_watcher != 0)
        m_server.send(m_watcher, toLine(event));
}
