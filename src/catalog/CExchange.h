#pragma once

#include "app/VX_QUE.h"
#include "catalog/CatalogRecord.h"
#include "platform/LocalTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The catalog conversation of one connection: builds hellos, catalog requests and batches, and
// the file data requests and answers, puts them into the connection's own send queue, and
// interprets what the peer sends. It keeps no conversation state: where a conversation stands
// is carried by the messages, the pending files and the catalog.
//
// Every received message is given as (data, length), where length is the frame length the
// transport has already bounded. Nothing in the message is trusted beyond that length: counts,
// offsets, chunk lengths and names are checked here again before they reach the catalog or a
// path. Messages the queue refuses (full) are dropped without notice; the next exchange tick
// starts the conversation again.
//
// Node names here are UTF-8, as the settings hold them; the hello carries them as CP932.
class CExchange
{
public:
    struct HelloResult
    {
        // The hello's party name equals this node's; false also for a hello too short to read.
        bool partyMatches = false;
        // A Skype peer's hello named another node than the one configured for its Skype ID:
        // the connection, its pending file and peerNodeName() now carry the hello's name.
        bool peerRenamed = false;
    };

    explicit CExchange(std::string peerNodeName = {});
    CExchange(const CExchange&) = delete;
    CExchange& operator=(const CExchange&) = delete;
    ~CExchange();

    // The node name under which the peer's pending file is kept.
    const std::string& peerNodeName() const { return m_peerNodeName; }
    void setPeerNodeName(std::string name) { m_peerNodeName = std::move(name); }

    // The transport takes the messages from here in order, stamps and sends them.
    VX_QUE& sendQueue() { return m_queue; }

    // Queues a hello naming this node and its party; syncMode 0 none, 1 all records, 2 records
    // registered on or after since (its date part).
    void sendHello(std::uint32_t syncMode, const plat::SystemTime& since);
    void sendHello() { sendHello(0, plat::SystemTime{}); }
    void sendCatalogRequest();

    // The hello check. isTcp false means a Skype stream, whose configured node name is bound
    // to the name its hello carries; peerId is the peer's Skype ID (the host text over TCP,
    // unused there). A sync request in a hello of this party queues the entries asked for.
    HelloResult onHello(const std::uint8_t* data, std::size_t length, bool isTcp,
                        const std::string& peerId);
    // True when the hello is long enough to read and names this node's party.
    bool helloPartyMatches(const std::uint8_t* data, std::size_t length) const;

    // Answers with a batch of the records still pending for peerNodeName (possibly none).
    void onCatalogRequest(const std::uint8_t* data, std::size_t length,
                          const std::string& peerNodeName);
    // Merges the batch's valid records and asks for more; an empty batch starts the downloads.
    void onCatalogBatch(const std::uint8_t* data, std::size_t length);

    // Queues a file data request for the first incomplete entry of another node, if any.
    void requestFirstFile();
    // Queues a file data request for the next incomplete entry after record, if any.
    void requestNextFile(const catalog::CatalogRecord& record);

    // Answers a file data request with at most chunkSize bytes (51200 or 10240 over TCP, 20480
    // over Skype), never more than one message's body can describe (its length is 16 bits);
    // with 0 bytes when the file cannot be served.
    void onFileRequest(const std::uint8_t* data, std::size_t length, std::size_t chunkSize);
    // Stores the chunk when it continues a download exactly where it stands, then asks for
    // the next chunk, or for the next file when this one is done or refused.
    void onFileData(const std::uint8_t* data, std::size_t length);

private:
    void queue(std::size_t length);
    static bool chunkFits(const catalog::CatalogRecord& record, std::uint32_t offset,
                          std::uint32_t n);
    bool mayBindName(const std::string& peerId, const std::string& helloName) const;

    std::string m_peerNodeName;
    VX_QUE m_queue;
    // One message being built; allocated once, as large as a send-queue slot.
    std::unique_ptr<std::uint8_t[]> m_buffer;
};
