#pragma once

#include "platform/LocalTime.h"
#include "platform/TcpSocket.h"
#include "wire/CatalogRecord.h"
#include "wire/MessageHeader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A peer node played by a test over a real loopback socket: it frames messages as a node does,
// stamps its own sequence numbers, says hello, asks and answers, and collects every frame the
// node sends. Waiting runs the event loop, so the node under test works meanwhile.
class ScriptedPeer : public plat::TcpSocketListener
{
public:
    struct Message
    {
        std::vector<std::uint8_t> bytes;
        catalog::ConstMessageHeader header() const
        {
            return catalog::ConstMessageHeader(bytes.data());
        }
        std::uint16_t cls() const { return header().messageClass(); }
        std::uint16_t type() const { return header().messageType(); }
        bool is(std::uint16_t c, std::uint16_t t) const { return cls() == c && type() == t; }
        // Records at the start of the body (catalog batch, file messages).
        std::vector<CatalogRecord> records() const;
        // The file bytes of a file data message.
        std::span<const std::uint8_t> chunk() const;
    };

    ScriptedPeer(std::string nodeName, std::string party);
    ~ScriptedPeer() override;

    // Dials 127.0.0.1:port and waits until the connection stands.
    bool dial(int port, int timeoutMs = 3000);
    // Listens on a free loopback port for the node to dial; accept() takes its connection.
    int listen();
    bool accept(int timeoutMs = 3000);

    // Sends bytes as they are; split sends let the node see a message over several reads.
    void sendRaw(std::span<const std::uint8_t> bytes);
    // Stamps the next sequence number into the message and sends it.
    void send(std::vector<std::uint8_t> message);
    // The sequence number the next send() stamps; tests may skew it.
    std::uint32_t& sendSequence() { return m_sendSequence; }

    // Framed messages built as a node builds them.
    std::vector<std::uint8_t> hello(std::uint32_t syncMode = 0, const plat::SystemTime& since = {},
                                    const std::string& party = {}) const;
    static std::vector<std::uint8_t> catalogRequest();
    static std::vector<std::uint8_t> catalogBatch(std::span<const CatalogRecord> records);
    static std::vector<std::uint8_t> fileRequest(const CatalogRecord& record,
                                                 std::uint16_t protocolVersion = 2);
    static std::vector<std::uint8_t> fileData(const CatalogRecord& record, std::uint32_t offset,
                                              std::span<const std::uint8_t> chunk);

    void sendHello(std::uint32_t syncMode = 0, const plat::SystemTime& since = {})
    {
        send(hello(syncMode, since));
    }

    // The next frame from the node, or none within the time.
    std::optional<Message> next(int timeoutMs = 3000);
    // The next frame of this class and type; frames of other kinds are skipped (and counted).
    std::optional<Message> nextOf(std::uint16_t cls, std::uint16_t type, int timeoutMs = 3000);
    // True when the node has closed the connection within the time.
    bool waitClosed(int timeoutMs = 3000);
    bool closed() const { return m_closed; }
    // Frames received so far and not yet taken.
    std::size_t queued() const { return m_frames.size(); }
    // The node stamped every frame with the next number, starting at 0.
    bool sequenceInOrder() const { return m_sequenceOk; }

    const std::string& nodeName() const { return m_nodeName; }

    // With reading off, nothing is read from the socket: the node's writes back up.
    void setReading(bool on);
    // Bytes given to send() that the socket has not taken yet (the kernel is full).
    std::size_t unsent() const { return m_out.size(); }

    void onConnect(int error) override;
    void onReceive(int error) override;
    void onSend(int error) override;
    void onClose(int error) override;
    void onAccept(int error) override;

private:
    void frame();

    std::string m_nodeName;
    std::string m_party;
    plat::TcpSocket m_socket;
    plat::TcpSocket m_listener;
    bool m_accepted = false;
    bool m_connected = false;
    bool m_closed = false;
    int m_connectError = 0;
    std::uint32_t m_sendSequence = 0;
    std::uint32_t m_receiveSequence = 0;
    bool m_sequenceOk = true;
    bool m_reading = true;
    bool m_readWanted = false;
    std::vector<std::uint8_t> m_in;
    std::vector<std::uint8_t> m_out;
    std::vector<Message> m_frames;
};

// A record as an origin node builds it for a plain file: kind new, registered now, expiring in
// three days, complete on its origin, checksum stamped. Names are UTF-8.
CatalogRecord makeTestRecord(const std::string& origin, const std::string& party,
                             const std::string& fileName, std::uint32_t size);
