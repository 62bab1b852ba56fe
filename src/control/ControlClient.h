#pragma once

#include <QJsonObject>

#include <optional>
#include <string>

// The command line's side of the control socket: a blocking connection that sends requests and
// reads the node's lines (ControlService.h has the protocol).
class ControlClient
{
public:
    ControlClient() = default;
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // False with the reason (no node runs there, not allowed) in *why.
    bool connect(const std::string& path, std::string* why);
    // Sends request with a fresh "id" and waits for the reply with that id (lines in between,
    // events, are skipped). None with the reason in *why when the node went or did not answer
    // within timeoutMs (negative: no limit).
    std::optional<QJsonObject> request(QJsonObject request, int timeoutMs, std::string* why);
    // The next line as an object; none when the node closed the connection or nothing came
    // within timeoutMs (negative: no limit), with the reason in *why.
    std::optional<QJsonObject> next(int timeoutMs, std::string* why);

private:
    bool sendLine(const std::string& line, std::string* why);

    int m_fd = -1;
    int m_nextId = 1;
    std::string m_buffer;
    std::size_t m_searched = 0;
};
