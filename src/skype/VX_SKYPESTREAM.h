#pragma once

#include "exchange/CExchange.h"
#include "platform/LocalTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class NodeContext;
class SkypeLink;
class StreamTls;

namespace plat {
class TlsContext;
}
namespace tcp {
class HandshakeFailureLog;
}

// One application stream to a peer through the messaging client. It carries the node-to-node
// messages as lower-case hexadecimal text: every 100 ms tick it writes the oldest message its
// catalog exchange has queued, numbered with the send sequence, and then waits until the client
// reports that the write has left before it writes again. What the client reads for it is
// decoded, bounded exactly as a TCP frame is, sequence-checked and handed to the exchange. It
// starts a conversation (hello and catalog request) on its first tick and then every 20 s.
//
// Catalogs and files are only for an admitted peer: nothing is answered until a hello of this
// node's party has arrived, and a hello of another party closes the stream. With the party key
// the stream's writes carry TLS records instead of plain messages: the key's TLS session runs
// over them before any message, and a peer with another key or none is refused.
class VX_SKYPESTREAM
{
public:
    static constexpr std::size_t kBufferSize = 65792;
    // File data over this transport carries at most this much of a file per message.
    static constexpr std::size_t kChunkSize = 20480;
    // The whole write command must stay within this many characters.
    static constexpr std::size_t kMaxCommandText = 65534;
    static constexpr int kKeepAliveTicks = 3000;
    static constexpr int kExchangeTicks = 200;
    static constexpr int kFirstExchangeTicks = 600;
    // No conversation is started while more than this many messages wait.
    static constexpr int kBusyQueue = 5;
    // A keyed stream whose handshake is not complete after this many ticks is closed.
    static constexpr int kHandshakeTicks = 600;

    // The stream belongs to node (its exchange works with the node's parts); node outlives it.
    VX_SKYPESTREAM(SkypeLink& link, NodeContext& node, std::string peerSkypeId, int number,
                   std::string applicationName, std::string peerNodeName);
    ~VX_SKYPESTREAM();
    VX_SKYPESTREAM(const VX_SKYPESTREAM&) = delete;
    VX_SKYPESTREAM& operator=(const VX_SKYPESTREAM&) = delete;

    // From now on the stream speaks TLS with the party key's context, as the client (the end
    // that starts the handshake) or the server; failures of a handshake are reported on the
    // status line at most as often as failures says (nullptr: every time). Before the first
    // tick or receive.
    void setTls(std::shared_ptr<const plat::TlsContext> context, bool client,
                tcp::HandshakeFailureLog* failures);
    bool keyed() const { return m_tls != nullptr; }
    // The TLS session is up (keyed streams), the peer's hello of this party has arrived.
    bool secured() const;
    bool admitted() const { return m_admitted; }
    // The stream was refused (another key, another party) and asked to be disconnected.
    bool refused() const { return m_refused; }
    // The client no longer lists the stream: closed by the peer. A keyed stream closed before
    // its handshake was complete was refused by a peer with another key (or none), which is
    // said as when this end finds it.
    void onClosedByPeer();

    const std::string& peerSkypeId() const { return m_peerSkypeId; }
    int number() const { return m_number; }
    const std::string& peerNodeName() const { return m_peerNodeName; }
    CExchange& exchange() { return m_exchange; }

    // Passive: the periodic hello and catalog request are left to the peer; the peer's first
    // hello is answered with one.
    void setPassive(bool passive) { m_passive = passive; }

    bool seen() const { return m_seen; }
    void setSeen(bool seen) { m_seen = seen; }
    bool sendReady() const { return m_sendReady; }
    void setSendReady() { m_sendReady = true; }
    std::uint32_t sendSequence() const { return m_sendSequence; }
    std::uint32_t receiveSequence() const { return m_receiveSequence; }

    // The next conversation's hello carries this sync request (mode 1 all, 2 since date).
    void setPendingHello(int mode, const plat::SystemTime& date);

    // Stamps, encodes and writes one message; false when it was not written (too long for the
    // client's text, or not a message at all). A refused message leaves the sequence untouched.
    bool sendMessage(std::uint8_t* message, std::size_t length);
    void tick();
    // A READ reply's text from the stream item on ("peer:number data").
    void receive(std::string_view text);
    void disconnect();

private:
    void sendKeepAlive();
    // Writes bytes as one write command (hex text); the caller has checked the length.
    void writeBytes(const std::uint8_t* bytes, std::size_t length);
    // Writes the next piece of TLS records that wait, as much as one write carries.
    void writeCiphertext();
    std::size_t maxWriteBytes() const;
    void receiveCiphertext(std::size_t decoded);
    // One whole received message: bounded, sequence-checked and dispatched.
    void handleMessage(const std::uint8_t* msg, std::size_t length);
    void refuse(const std::string& why, bool keyMismatch);
    void reportKeyMismatch();
    void startExchange(bool news = false);
    // The decoded message of decoded bytes, bounded before anything in it is read; false when
    // it is not one whole message.
    static bool wellFormed(const std::uint8_t* msg, std::size_t decoded);
    void dispatch(const std::uint8_t* msg, std::size_t length);
    void onHello(const std::uint8_t* msg, std::size_t length);

    SkypeLink& m_link;
    NodeContext& m_node;
    std::string m_peerSkypeId;
    int m_number;
    std::string m_applicationName;
    std::string m_peerNodeName;
    // "peer:number " as the client names this stream in a READ reply.
    std::string m_itemPrefix;
    bool m_seen = true;

    std::string m_command;
    std::unique_ptr<std::uint8_t[]> m_decode;
    std::unique_ptr<std::uint8_t[]> m_message;

    std::uint32_t m_sendSequence = 0;
    std::uint32_t m_receiveSequence = 0;
    bool m_sendReady = true;
    int m_idleTicks = 0;
    int m_exchangeTicks = kFirstExchangeTicks;
    bool m_helloPending = false;
    // The catalog-change generation the last exchange was started for, and the peer's word
    // that it has news for this node.
    std::uint64_t m_seenChange = 0;
    bool m_peerNews = false;
    bool m_passive = false;
    int m_helloMode = 0;
    plat::SystemTime m_helloDate{};
    bool m_admitted = false;
    bool m_droppedBeforeAdmission = false;
    bool m_refused = false;
    // This node asked the client to close the stream.
    bool m_disconnecting = false;

    std::unique_ptr<StreamTls> m_tls;
    std::unique_ptr<std::uint8_t[]> m_cipher;
    tcp::HandshakeFailureLog* m_failures = nullptr;
    int m_handshakeTicks = 0;

    CExchange m_exchange;
};
