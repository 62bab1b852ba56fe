#pragma once

#include "control/ControlEvents.h"
#include "control/ControlServer.h"

#include <QJsonObject>

#include <string>

class DownloadRate;
class PavoNode;

// The node's control interface: the control socket (ControlPath) and its protocol, which the
// "pavo" command line speaks. One JSON object per line, UTF-8, in both directions.
//
// Request:  {"id": <any>, "cmd": "<command>", ...arguments}
// Reply:    {"id": <the same>, "ok": true, "result": {...}}
//           {"id": <the same>, "ok": false, "error": {...}}   (ControlReply.h)
// Commands: "status"; "ls" (origin, file, own, received, complete, incomplete, deleted);
//           "add" (paths, method "link" or "copy", rename); "rm" (file, origin, everywhere, here,
//           force); "get" (file, origin); "online"; "offline"; "connect" / "disconnect" (name);
//           "connections" (action "add": name, method, address, comment; "rm": name;
//           "rename": name, new); "set" (party, node, days, port, window); "watch".
// Events:   after "watch" is answered, one {"event": ...} line per event (ControlEvents.h) until
//           the client goes. One client watches at a time; another is refused while it does.
//
// Requests of any client are answered in order; a client that sends no protocol (a line over
// 64 KiB) is dropped; the node goes on either way.
class ControlService
{
public:
    ControlService(PavoNode& node, DownloadRate& rates);
    ~ControlService();
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    // Listens at the user's control socket; false (with the reason) when it cannot, for example
    // because another node of this user answers there.
    bool start(std::string* why);
    void stop();
    const std::string& path() const { return m_path; }
    bool listening() const { return m_server.listening(); }

    // The coordinator's listener that produces the events.
    ControlEvents& events() { return m_events; }

private:
    void onLine(int client, const std::string& line);
    QJsonObject dispatch(int client, const QJsonObject& request);
    QJsonObject watch(int client);
    void publish(const QJsonObject& event);

    PavoNode& m_node;
    DownloadRate& m_rates;
    ControlEvents m_events;
    ControlServer m_server;
    std::string m_path;
    int m_watcher = 0;
};
