#pragma once

#include "platform/EventLoop.h"
#include "platform/LiveInstance.h"
#include "platform/LocalTime.h"
#include "tcp/CTcpSockStream.h"
#include "tcp/CTcpSockStreamParent.h"
#include "tcp/HandshakeFailureLog.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CA2AModelListener;
class CPropatyHotLine;
class NodeContext;

// All TCP connections of the node: the listening socket, the connections it accepts and the ones
// it dials, and the handshake that admits a connection only when the peer's hello names one of
// the configured TCP nodes (its address is not compared). The connection established first with
// a node is kept; a later one to the same node is discarded. Every connection is polled by one
// 50 ms timer.
//
// A connection may end from inside its own notification; it is then closed at once and destroyed
// on a later turn of the event loop, so nothing of it is touched after it was freed.
class CTcpA2AModel : public CTcpSockStreamParent
{
public:
    static constexpr int kPollMs = 50;
    // Connections the kernel completes before they are accepted. A backlog of a handful lets a
    // burst of idle dials crowd out a member's SYN, which is then dropped and retried a second or
    // more later; the waiting room below decides who stays, so the kernel is let keep them all.
    static constexpr int kBacklog = 128;
    // At most this many accepted connections wait for their hello at once, and at most
    // kMaxWaitingPerAddress of them from one address (an IPv6 /64). A new connection that finds
    // no room closes the oldest waiting one (from its own address when that is full), so
    // squatters holding idle sockets only ever hold the newest few places, and a member's
    // connection, whose hello follows within a poll, is not kept out. A party has a handful of
    // members, each of which dials once every ten seconds at most: 16 places, and 4 per address
    // (a few members behind one home router, a TLS handshake and a redial), leave ample room for
    // honest ones.
    static constexpr int kMaxUnadmitted = 16;
    static constexpr int kMaxWaitingPerAddress = 4;
    // Out of descriptors, accepting pauses this long (scaled) instead of failing in a loop.
    static constexpr int kAcceptPauseMs = 1000;

    // The node's model while it lives (the last one built), or nullptr; never creates one.
    static CTcpA2AModel* instance();

    // The configured connections, the listen port and the party key come from the node's
    // settings; its connections work with the node's catalog and post to its status line. node
    // outlives the model.
    explicit CTcpA2AModel(NodeContext& node);
    ~CTcpA2AModel() override;
    CTcpA2AModel(const CTcpA2AModel&) = delete;
    CTcpA2AModel& operator=(const CTcpA2AModel&) = delete;

    void addListener(CA2AModelListener* listener);
    void setMainWindow(plat::WindowHandle window) { m_mainWindow = std::move(window); }

    // Listens on the configured port; failures are only printed.
    void goOnline();
    // Stops listening and closes every connection not admitted yet; admitted ones stay.
    void goOffline();
    bool isListening() const;
    // The port actually listened on (tests listen on port 0), or 0.
    int listenPort() const;

    void connectPeer(const std::string& nodeName, const std::string& host, int port);
    // Closes every connection with this node name (the host is not compared).
    void disconnectPeer(const std::string& nodeName, const std::string& host);
    // 1 when an admitted connection with this node name exists (the host is not compared).
    int isConnected(const std::string& nodeName, const std::string& host);
    // The first admitted connection with this node name carries the sync request in its next
    // hello.
    void requestHello(const std::string& nodeName, const std::string& host, int mode,
                      const plat::SystemTime& date);
    // The conversations of the admitted connections with this node name.
    std::vector<const CExchange*> exchangesOf(const std::string& nodeName) const;

    // Every 50 ms.
    void poll();

    // Tests: the connections by list, and one by its number (nullptr when gone).
    int establishedCount() const;
    int pendingCount() const { return static_cast<int>(m_pending.size()); }
    // Times accepting was paused for want of descriptors.
    int acceptPauses() const { return m_acceptPauses; }
    CTcpSockStream* findStream(int id) const;

    // CTcpSockStreamParent
    void onAccept(int id) override;
    void onConnect(int id) override;
    void onClose(int id) override;
    void notifyOnError(int id, int error) override;
    void notifyNodeName(int id, const std::string& nodeName) override;
    tcp::HandshakeFailureLog* handshakeFailures() override { return &m_handshakeFailures; }

private:
    using Stream = std::unique_ptr<CTcpSockStream>;
    using Graveyard = std::vector<Stream>;

    static int nextConnectionNumber();
    // Removes the connection with this number from the list; empty when it is not there.
    static Stream take(std::vector<Stream>& list, int id);
    // Any connection, admitted or not, with this node name.
    bool hasNodeName(const std::string& nodeName) const;
    bool hasEstablished(const std::string& nodeName) const;
    // Closes the connection now and destroys it on a later turn of the loop.
    void bury(Stream stream);
    void notifyConnectionChanged();
    int unadmittedAccepted() const;
    // Accepted connections waiting for their hello from this address group.
    int waitingFrom(const std::string& group) const;
    // Closes the oldest accepted connection waiting for its hello (from group, when not empty).
    void dropOldestWaiting(const std::string& group, const char* why);
    // Makes room for a new accepted connection from group.
    void makeWaitingRoom(const std::string& group);
    // A dialled connection the peer closed before admitting it: says so on the status line.
    void reportClosedDial(const CTcpSockStream& stream);
    void closeExpiredHandshakes();
    void refuseUnconfigured(Stream stream, const std::string& nodeName);
    // Makes the TLS set-up follow the settings' party key. False when TCP must stay off: a key
    // was set but cannot be used.
    bool refreshTls();

    NodeContext& m_node;
    CPropatyHotLine& m_settings;
    std::vector<Stream> m_established;
    std::vector<Stream> m_pending;
    CTcpSockStream m_listen;
    plat::WindowHandle m_mainWindow;
    std::vector<CA2AModelListener*> m_listeners;
    // Closed connections waiting for the next turn of the loop; shared with the posted task so
    // that destroying the model first neither leaks them nor leaves the task a dangling pointer.
    std::shared_ptr<Graveyard> m_graveyard;
    int m_acceptPauses = 0;
    plat::TimerSet m_timer;
    // The party key in use and its TLS set-up; none: plain TCP.
    std::optional<plat::TlsContext::Key> m_tlsKey;
    std::shared_ptr<const plat::TlsContext> m_tls;
    bool m_missingKeyReported = false;
    tcp::HandshakeFailureLog m_handshakeFailures;
    plat::LiveInstance<CTcpA2AModel> m_live{this};
};
