#pragma once

#include "app/VX_QUE.h"
#include "catalog/CatalogRecord.h"
#include "catalog/RecordSeal.h"
#include "platform/LocalTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CCatalog;
class NodeContext;

// The catalog conversation of one connection: builds hellos, catalog requests and batches, and
// the file data requests and answers, puts them into the connection's own send queue, and
// interprets what the peer sends. It keeps no conversation state: where a conversation stands
// is carried by the messages, the pending files and the catalog.
//
// Every received message is given as (data, length), where length is the frame length the
// transport has already bounded. Nothing in the message is trusted beyond that length: counts,
// offsets, chunk lengths and names are checked here again before they reach the catalog or a
// path.
//
// Nothing is dropped for want of send room. Answers to the peer's requests that find the send
// queue full wait in a bounded store of held requests and leave, in order, as room appears
// (service()); while that store is full the transport stops taking received messages, so the
// peer's further requests wait in the socket. The node's own requests (the catalog request that
// follows a batch, the file data requests) are produced only when there is room.
//
// File data requests: one download per connection at a time, with a window of requests in flight
// for consecutive offsets. Toward a peer that has not shown Pavo's flow block in its hello (a
// node built to the original design, whose send queue holds 20 messages) the window stays at
// kSafeWindow; toward a Pavo node it grows with every chunk stored up to what the peer's hello
// offers (at most kMaxWindow). The transport bounds it further (1 over Skype, where one message
// is in flight anyway). Chunks are stored strictly in order; a chunk that does not continue the
// file restarts the window from the bytes received.
//
// The node's parts come from its NodeContext: the settings (this node's and its party's names, the
// configured connections), the catalog while it lives, and which connection fetches which entry.
// While the node has no catalog (before it is built, after it is taken down) peer requests are
// answered as from an empty catalog and nothing received is stored.
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
        // A Pavo peer has catalog news for this node: start a conversation now.
        bool peerHasNews = false;
    };

    // File data requests in flight toward a peer built to the original design: its 20-slot send
    // queue then holds these answers besides its own conversation (at most 7 more messages).
    static constexpr int kSafeWindow = 8;
    // Requests in flight toward a Pavo peer, at most (64 × 51200 bytes = 3.2 MiB).
    static constexpr int kMaxWindow = 64;
    // Peer requests held while the send queue is full; the window offered to Pavo peers leaves
    // room in it for catalog requests.
    static constexpr int kHeldRequests = kMaxWindow + 16;
    // The node's own requests leave this many send slots free for answers.
    static constexpr int kFillReserve = 4;
    // A download whose peer answered nothing over this many conversations is taken as stalled
    // (its requests lost) and starts again from the bytes received.
    static constexpr int kStallConversations = 3;

    // node outlives the exchange.
    explicit CExchange(NodeContext& node, std::string peerNodeName = {});

    // Process-wide figures for benchmarks: file bytes received in answers (stored or not).
    static std::uint64_t fileBytesReceived() { return s_fileBytesReceived; }
    // Benchmarks and tests play a node built to the original design: hellos then carry no flow
    // block, so peers keep the safe window toward this node and get no news flag.
    static void setFlowBlockSent(bool on) { s_flowBlockSent = on; }
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
    // news: this node has catalog news for the peer, which a Pavo peer fetches at once.
    void sendHello(std::uint32_t syncMode, const plat::SystemTime& since, bool news = false);
    void sendHello() { sendHello(0, plat::SystemTime{}); }
    void sendCatalogRequest();

    // The transport's limits: how many file data requests may be in flight on this connection
    // (1 keeps the one-chunk-at-a-time pace) and the chunk size the peer answers with.
    void setWindowLimit(int maxWindow, std::uint32_t chunkStep);
    // Queues what waited for send room: held answers first, then the node's own requests.
    // Transports call it whenever they have taken messages out of the send queue.
    void service();
    // False while the held-request store is full: the transport must not hand in more messages
    // until service() has made room.
    bool canTakeMessage() const { return m_heldCount < kHeldRequests; }
    // Something waits for send room.
    bool hasDeferred() const;

    // The download on this connection, for the transport and tests.
    int window() const;
    int inFlight() const { return m_inFlight; }
    bool downloading() const { return m_download.active; }

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

    // Starts downloading the first incomplete entry of another node that no other connection of
    // this node is fetching, if any. A download already running here is left alone.
    void requestFirstFile();
    // Ends this connection's download of record and starts on the next incomplete entry after
    // it that no other connection is fetching, if any.
    void requestNextFile(const catalog::CatalogRecord& record);

    // Answers a file data request with at most chunkSize bytes (51200 or 10240 over TCP, 20480
    // over Skype), never more than one message's body can describe (its length is 16 bits);
    // with 0 bytes when the file cannot be served.
    void onFileRequest(const std::uint8_t* data, std::size_t length, std::size_t chunkSize);
    // Stores the chunk when it continues a download exactly where it stands, then asks for
    // the next chunk, or for the next file when this one is done or refused.
    void onFileData(const std::uint8_t* data, std::size_t length);

private:
    struct Download
    {
        bool active = false;
        catalog::CatalogRecord record;
        // Next offset to ask for.
        std::uint32_t next = 0;
        // For an empty file: its one request has gone.
        bool emptyAsked = false;
    };
    enum class HeldKind : std::uint8_t
    {
        Catalog,
        File,
    };
    struct Held
    {
        HeldKind kind = HeldKind::File;
        std::size_t length = 0;
        std::size_t chunkSize = 0;
        std::string peer;
    };
    static constexpr std::size_t kHeldSlot = 48 + catalog::CatalogRecord::Size;

    bool queue(std::size_t length);
    bool hasRoom(int reserve = 0) const { return m_queue.count() < VX_QUE::kSlots - reserve; }
    void hold(HeldKind kind, const std::uint8_t* data, std::size_t length, std::size_t chunkSize,
              const std::string& peer);
    void answerCatalogRequest(const std::string& peerNodeName);
    void answerFileRequest(const std::uint8_t* data, std::size_t chunkSize);
    void startDownload(std::optional<catalog::CatalogRecord> record);
    void stopDownload();
    void fillWindow();
    void checkStall();
    std::size_t appendSeals(const std::vector<catalog::CatalogRecord>& records, std::size_t length);
    bool admitted(const catalog::CatalogRecord& record,
                  const std::optional<catalog::RecordSeal>& seal);
    void checkCompleted(CCatalog& catalog, const catalog::CatalogRecord& record);
    bool sentBadData(const catalog::CatalogRecord& record) const;
    static bool chunkFits(const catalog::CatalogRecord& record, std::uint32_t offset,
                          std::uint32_t n);
    bool mayBindName(const std::string& peerId, const std::string& helloName) const;
    CCatalog* catalog() const;

    static inline std::uint64_t s_fileBytesReceived = 0;
    static inline bool s_flowBlockSent = true;

    NodeContext& m_node;
    std::string m_peerNodeName;
    VX_QUE m_queue;
    // One message being built; allocated once, as large as a send-queue slot.
    std::unique_ptr<std::uint8_t[]> m_buffer;

    // Peer requests waiting for send room, oldest first: a ring of kHeldRequests slots.
    std::unique_ptr<std::uint8_t[]> m_heldBytes;
    Held m_held[kHeldRequests];
    int m_heldFirst = 0;
    int m_heldCount = 0;
    // Catalog requests owed after batches that found the send queue full.
    int m_owedCatalogRequests = 0;

    Download m_download;
    int m_windowLimit = 1;
    std::uint32_t m_chunkStep = 51200;
    // What the peer's hello offered (0: no flow block seen, the safe window applies).
    int m_peerWindow = 0;
    int m_window = 1;
    // File data requests sent on this connection and not answered yet; answers come back in
    // the order of the requests.
    int m_inFlight = 0;
    // Answers still to come for requests of an abandoned window; they are not looked at.
    int m_stale = 0;
    std::uint64_t m_answers = 0;
    std::uint64_t m_answersAtLastLook = 0;
    int m_quietConversations = 0;
    // The peer's hello says it reads seals after a batch's records.
    bool m_peerSeals = false;
    // File versions this peer sent damaged data of in this conversation: not asked of it again
    // until the next one.
    static constexpr std::size_t kBadVersions = 16;
    std::vector<catalog::CatalogRecord> m_badVersions;
};
