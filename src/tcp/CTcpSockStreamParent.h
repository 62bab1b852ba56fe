#pragma once

#include <string>

namespace tcp {
class HandshakeFailureLog;
}

// How a TCP connection reports to the TCP peer model. Any of these may end the connection; the
// connection touches nothing of itself after a call that can close it has returned with it
// closed.
class CTcpSockStreamParent
{
public:
    virtual ~CTcpSockStreamParent() = default;
    // The listening connection has a connection to accept.
    virtual void onAccept(int id) = 0;
    // A dialled connection has completed.
    virtual void onConnect(int id) = 0;
    // The peer closed the connection.
    virtual void onClose(int id) = 0;
    // A socket error (its code) or a failure while processing (0); for an orderly end seen by a
    // read, the last error code, normally 0.
    virtual void notifyOnError(int id, int error) = 0;
    // A hello arrived on a connection that is not admitted yet; nodeName is UTF-8.
    virtual void notifyNodeName(int id, const std::string& nodeName) = 0;
    // Where failed TLS handshakes are remembered, so that each address is reported once per
    // period; none: every failure is reported.
    virtual tcp::HandshakeFailureLog* handshakeFailures() { return nullptr; }
};
