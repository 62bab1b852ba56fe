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

// One application stream to a peer through the messaging client. It carries the node-to-node
// messages as lower-case hexadecimal text: every 100 ms tick it writes the oldest message its
// catalog exchange has queued, numbered with the send sequence, and then waits until the client
// reports that the write has left before it writes again. What the client reads for it is
// decoded, bounded exactly as a TCP frame is, sequence-checked and handed to the exchange. It
// starts a conversation (hello and catalog request) on its first tick and then every 20 s.
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

    // The stream belongs to node (its exchange works with the node's parts); node outlives it.
    VX_SKYPESTREAM(SkypeLink& link, NodeContext& node, std::string peerSkypeId, int number,
                   std::string applicationName, std::string peerNodeName);
    VX_SKYPESTREAM(const VX_SKYPESTREAM&) = delete;
    VX_SKYPESTREAM& operator=(const VX_SKYPESTREAM&) = delete;

    const std::string& peerSkypeId() const { return m_peerSkypeId; }
    int number() const { return m_number; }
    const std::string& peerNodeName() const { return m_peerNodeName; }
    CExchange& exchange() { return m_exchange; }

    // Passive: the periodic hello and catalog request are left to the peer.
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
    void startExchange(bool news = false);
    // The decoded message of decoded bytes, bounded before anything in it is read; false when
    // it is not one whole message.
    bool wellFormed(std::size_t decoded) const;
    void dispatch(std::size_t length);

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

    CExchange m_exchange;
};
