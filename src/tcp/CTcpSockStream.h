#pragma once

#include "app/VX_QUE.h"
#include "exchange/CExchange.h"
#include "platform/LocalTime.h"
#include "tcp/CTcpWin.h"
#include "tcp/CTcpWinListener.h"
#include "tcp/PeerSocket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CTcpSockStreamParent;
class NodeContext;

// One TCP connection to a peer, or the node's listening socket. It frames the node-to-node
// messages on the byte stream, sends what its catalog exchange queues (stamping the sequence
// number), reassembles and sequence-checks what arrives, and hands each message to the peer
// model's handshake while the peer is not admitted, to the exchange afterwards. It also makes
// the periodic hello and catalog request.
//
// Received messages are processed from message 1224 posted to the connection's own hidden window,
// after the receive notification has returned. A queued message leaves as soon as the socket
// takes it; the 50 ms poll only starts conversations and picks up what a full socket left behind.
//
// Nothing read is ever dropped: when the receive queue is full the socket is left unread (TCP
// holds the peer back) until processing has made room, and processing waits while the exchange
// holds all the peer requests it will until their answers have left.
//
// The parent may close the connection from inside any call the connection makes to it. A closed
// connection is dead: it ignores every later notification and message, and its owner destroys it
// on a later turn of the event loop.
class CTcpSockStream : public tcp::PeerSocketListener, public CTcpWinListener
{
public:
    // Connection states.
    static constexpr int kIdle = 0;
    static constexpr int kDialling = 1;    // connect in progress
    static constexpr int kConnected = 2;   // peer not admitted yet
    static constexpr int kEstablished = 3; // peer admitted by the handshake

    static constexpr std::size_t kBufferSize = 133376;
    // At most this many received bytes are held unframed.
    static constexpr std::size_t kReceiveLimit = 131328;
    // A hello (and on an established connection a catalog request) every kHelloTicks + 1 polls.
    static constexpr std::uint32_t kHelloTicks = 400;
    // No conversation is started while this many messages wait to be sent.
    static constexpr int kBusyQueue = 6;
    // Received messages handled in one turn of the event loop before the node's other
    // connections get theirs: a node answering several peers serves them in turn.
    static constexpr int kTurnMessages = 8;
    static constexpr std::size_t kChunkSize = 51200;
    static constexpr std::size_t kOldChunkSize = 10240;

    // Until its peer is admitted a connection only needs room for hellos (1080 bytes): its
    // buffers are this small, a longer frame ends it, and at most kHandshakeQueue received
    // messages wait at a time (reading stops meanwhile). The full buffers come with admission.
    static constexpr std::size_t kHandshakeBuffer = 4096;
    static constexpr std::size_t kHandshakeFrame = 2048;
    static constexpr int kHandshakeQueue = 2;
    // A connection whose peer is not admitted within this many polls is closed: half a hello
    // period longer than the latest a peer's first hello may come (about 30 s).
    static constexpr std::uint32_t kHandshakeTicks = (kHelloTicks + 1) * 3 / 2;
    // An admitted peer that has sent no whole message for three hello periods (about a minute)
    // is gone or squatting on its name; the connection is closed.
    static constexpr std::uint32_t kSilentTicks = 3 * (kHelloTicks + 1);

    // The connection belongs to node: its exchange works with the node's parts, its notices go to
    // the node's status line. node outlives it.
    explicit CTcpSockStream(NodeContext& node);
    ~CTcpSockStream() override;

    // Process-wide figure for benchmarks: connections ended by a frame or sequence error.
    static std::uint64_t frameErrorCloses() { return s_frameErrorCloses; }
    CTcpSockStream(const CTcpSockStream&) = delete;
    CTcpSockStream& operator=(const CTcpSockStream&) = delete;

    tcp::PeerSocket& socket() { return m_socket; }
    const tcp::PeerSocket& socket() const { return m_socket; }
    CExchange& exchange() { return m_exchange; }

    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    int state() const { return m_state; }
    void setState(int state);
    const std::string& kind() const { return m_kind; }
    void setKind(std::string kind) { m_kind = std::move(kind); }
    const std::string& host() const { return m_host; }
    void setHost(std::string host) { m_host = std::move(host); }
    const std::string& nodeName() const { return m_nodeName; }
    // Also the exchange's peer node name, under which the peer's pending file is kept.
    void setNodeName(std::string name);
    void setParent(CTcpSockStreamParent* parent) { m_parent = parent; }

    // A sync request that the next hello carries, then forgets.
    void setSyncRequest(int mode, const plat::SystemTime& date);

    // Every 50 ms from the peer model: sends what waits, and every kHelloTicks + 1 polls starts
    // a conversation. Does nothing unless connected or established.
    void poll();

    // Called by the peer model for a connection not admitted yet, once per poll: true when the
    // handshake has taken longer than kHandshakeTicks.
    bool handshakeExpired();
    // True once the admitted peer has shown that it admitted this node too (it asked for a
    // catalog or a file, which a node does only on an established connection).
    bool peerConfirmed() const { return m_peerConfirmed; }

    // The peer ended the connection (rather than this node, for an error of its own).
    bool closedByPeer() const { return m_closedByPeer; }

    // Shuts the socket down and closes it; the connection is dead from then on.
    void close();
    bool dead() const { return m_dead; }

    // The peer's address text and port ("" and 0 when unknown).
    std::string peerAddressText() const;
    int peerPort() const;

    // Takes bytes as if the socket had just delivered them: frames them and queues the frames
    // for processing; while the receive queue is full it processes first, as the event loop
    // would. Returns false when the bytes ended the connection (a bad frame), or when not all of
    // them could be taken. Tests and the fuzzer call it directly.
    bool acceptBytes(const std::uint8_t* data, std::size_t length);
    // Processes every queued received message now, as message 1224 does.
    void processReceived();
    // For driving the receive path without a peer (the fuzzer): outgoing messages are stamped
    // and dropped instead of written to the socket.
    void setDiscardSends(bool on) { m_discardSends = on; }

    // plat::TcpSocketListener
    void onAccept(int error) override;
    void onConnect(int error) override;
    void onReceive(int error) override;
    void onSend(int error) override;
    void onClose(int error) override;
    // tcp::PeerSocketListener
    void onHandshakeFailed(const std::string& reason) override;

    // CTcpWinListener: message 1224.
    void onTcpWinMessage(std::uintptr_t wparam, std::intptr_t lparam) override;

private:
    // Frames the held bytes into the receive queue until it is full (reading then pauses);
    // false when a bad frame ended the connection.
    bool frameReceived();
    // Reads what the socket holds and frames it, unless the received messages must be
    // processed first.
    void readSocket();
    // After processing: frames what waited and reads again once the receive queue has room.
    void resumeReading();
    // After answers left: processing continues when the exchange takes messages again.
    void resumeInput();
    // Handles one received message; false means the connection must end.
    bool handleMessage(const std::uint8_t* msg);
    bool handleHello(const std::uint8_t* msg, std::size_t length);
    // Ends the connection for a processing failure, with the notice for the status line.
    void failProcessing(bool partyMismatch);
    // Reports a socket error (or 0 for a processing failure) to the parent, which closes.
    void failSocket(int error);

    // Writes the send buffer and whatever the send queue holds, as far as the socket takes it.
    // False when a write error ended the connection.
    bool pumpSend();
    // Takes the next message from the send queue into the send buffer, stamped.
    bool takeNextMessage();
    bool flush();
    void watchWrite(bool on);
    // Gives the connection its full buffers (on admission), keeping what they hold.
    void growBuffers();
    std::size_t receiveLimit() const;
    std::size_t frameLimit() const;
    bool handshaking() const { return m_state != kEstablished; }
    // The receive queue holds all it may: every slot, or a few messages before admission.
    bool receiveQueueFull() const;
    void confirmPeer();

    static inline std::uint64_t s_frameErrorCloses = 0;

    NodeContext& m_node;
    tcp::PeerSocket m_socket;
    int m_id = 0;
    int m_state = kIdle;
    std::string m_kind;
    std::string m_host;
    std::string m_nodeName;
    CTcpSockStreamParent* m_parent = nullptr;
    CExchange m_exchange;

    std::uint32_t m_sendSequence = 0;
    std::uint32_t m_expectedSequence = 0;

    // The single-threaded event loop is the only user of these buffers, so they need no lock.
    // kHandshakeBuffer bytes each until admission, then kBufferSize (m_work a queue slot).
    std::unique_ptr<std::uint8_t[]> m_receiveBuffer;
    std::size_t m_receivedCount = 0;
    std::unique_ptr<std::uint8_t[]> m_sendBuffer;
    std::size_t m_sendCapacity = kHandshakeBuffer;
    std::size_t m_sendOffset = 0;
    std::size_t m_pendingCount = 0;
    // One received message being processed.
    std::unique_ptr<std::uint8_t[]> m_work;
    bool m_fullBuffers = false;
    bool m_bigWork = false;
    std::uint32_t m_handshakeTicks = 0;
    // Polls since the last whole message arrived.
    std::uint32_t m_silentTicks = 0;
    bool m_peerConfirmed = false;

    // The first hello leaves at the first poll after connecting, so the handshake does not wait
    // 20 seconds.
    std::uint32_t m_helloCounter = kHelloTicks;
    int m_syncFlag = 0;
    int m_syncMode = 0;
    plat::SystemTime m_syncDate;

    VX_QUE m_receiveQueue;
    // The receive queue was full: the socket is not read until processing has made room.
    bool m_readPaused = false;
    // Processing stopped because the exchange holds all the requests it will.
    bool m_inputBlocked = false;
    // The catalog-change generation this connection last started a conversation for, and a
    // peer's word that it has news for this node.
    std::uint64_t m_seenChange = 0;
    bool m_peerNews = false;
    bool m_partyMismatch = false;
    bool m_watchingWrite = false;
    bool m_discardSends = false;
    bool m_dead = false;
    bool m_closedByPeer = false;
    CTcpWin m_window;
};
