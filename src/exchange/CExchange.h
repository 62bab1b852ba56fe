#pragma once

#include "app/VX_QUE.h"
#include "exchange/RateMeter.h"
#include "exchange/RequestWindow.h"
#include "platform/LocalTime.h"
#include "wire/CatalogRecord.h"
#include "wire/RecordSeal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CatalogStore;
class NodeContext;

// The catalog conversation of one connection: builds hellos, catalog requests and batches, and
// the file data requests and answers, puts them into the connection's own send queue, and
// interprets what the peer sends. Where a conversation stands is carried by the messages, the
// pending files and the catalog; what the exchange keeps is its downloads (below) and the records
// of its last few batches, which are queued for the peer again when the connection ends (the
// peer may not have read them).
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
// File data requests: a connection fetches files in catalog order, with a window of requests in
// flight (RequestWindow) that may span several files, so small files do not each wait a round
// trip; while a large file is being fetched, one small file (a few chunks) may be fetched beside
// it, its requests going first. Toward a peer that has not shown Pavo's flow block in its hello
// (a node built to the original design, whose send queue holds 20 messages) the window stays at
// most kSafeWindow; toward a Pavo node up to what its hello offers (at most kMaxWindow). The
// transport bounds it further (1 over Skype, where one message is in flight anyway).
//
// Each request is asked once. Answers are matched to requests by file version and offset: a
// second or late answer is dropped as it comes, without touching the rest of the window. A chunk
// is stored only where the file stands (its bytes received); one that arrives ahead of a missing
// piece is dropped and asked again. A request is asked again only when it is known lost (a later
// request of the same connection was answered first) or when the connection has stalled (no
// answer of any kind for a time measured from its own round trip and answer rate; tick()): then
// only the oldest request is asked again and a late answer still counts.
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
    // Requests in flight toward a Pavo peer, at most (128 × 51200 bytes = 6.4 MiB, what a 100 ms
    // round trip needs at about 60 MB/s).
    static constexpr int kMaxWindow = 128;
    // Files one connection fetches at once: enough for a window of two-chunk files.
    static constexpr int kMaxFetches = kMaxWindow / 2;
    // A file of at most this many chunks still to come may be fetched beside a large one.
    static constexpr int kSmallChunks = 4;
    // How many entries a look for such a small file passes over at most.
    static constexpr int kSmallScan = 64;
    // Records of this many of the last batches answered are queued for the peer again when the
    // connection ends: the peer may not have read them.
    static constexpr int kUnconfirmedBatches = 4;
    // Peer requests held while the send queue is full; the window offered to Pavo peers leaves
    // room in it for catalog requests.
    static constexpr int kHeldRequests = kMaxWindow + 16;
    // The node's own requests leave this many send slots free for answers.
    static constexpr int kFillReserve = 4;
    using Clock = RequestWindow::Clock;
    // A transport tick this long after the previous one gives no stall verdict.
    static constexpr auto kTickGap = std::chrono::milliseconds(500);

    // node outlives the exchange.
    explicit CExchange(NodeContext& node, std::string peerNodeName = {});

    CExchange(const CExchange&) = delete;
    CExchange& operator=(const CExchange&) = delete;
    ~CExchange();

    // The node name under which the peer's pending file is kept.
    const std::string& peerNodeName() const { return m_peerNodeName; }
    // File bytes per second this connection received and sent over the last few seconds.
    double receiveRate() const { return m_receiveRate.rate(now()); }
    double sendRate() const { return m_sendRate.rate(now()); }
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

    // The transport's periodic call (it passes idle false while received messages wait to be
    // handled): a stalled connection asks again what it has out.
    void tick(bool idle = true);

    // The downloads on this connection, for the transport and tests.
    int window() const { return m_requests.window(); }
    int inFlight() const { return m_requests.inFlight(); }
    bool downloading() const { return !m_fetches.empty(); }
    const RequestWindow& requests() const { return m_requests; }

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
    // this node is fetching, if any. Downloads already running here are left alone (a small file
    // may join them).
    void requestFirstFile();
    // Ends this connection's download of record and goes on with the next incomplete entry that
    // no other connection is fetching, if any.
    void requestNextFile(const catalog::CatalogRecord& record);

    // Answers a file data request with at most chunkSize bytes (51200 or 10240 over TCP, 20480
    // over Skype), never more than one message's body can describe (its length is 16 bits);
    // with 0 bytes when the file cannot be served.
    void onFileRequest(const std::uint8_t* data, std::size_t length, std::size_t chunkSize);
    // Stores the chunk when it continues a download exactly where it stands, then asks for
    // the next chunk, or for the next file when this one is done or refused.
    void onFileData(const std::uint8_t* data, std::size_t length);

private:
    // One file this connection fetches.
    struct Fetch
    {
        std::shared_ptr<const catalog::CatalogRecord> record;
        // Next offset never asked yet.
        std::uint32_t next = 0;
        // Bytes received as far as this connection has stored them.
        std::uint32_t stored = 0;
        // Offsets to ask again (lost, or dropped for arriving ahead), ascending.
        std::vector<std::uint32_t> again;
        // For an empty file: its one request has gone.
        bool emptyAsked = false;
        // Fetched beside a large one, its requests first.
        bool small = false;
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
    bool startFetch(const catalog::CatalogRecord& record, bool small);
    bool startNextFetch();
    void startSmallFetch();
    std::optional<catalog::CatalogRecord> nextFree(std::optional<catalog::CatalogRecord> from);
    bool fetching(const catalog::CatalogRecord& record) const;
    Fetch* fetchOf(const catalog::CatalogRecord& record);
    void endFetch(const catalog::CatalogRecord& record);
    void endAllFetches();
    void fillWindow();
    Fetch* nextToAsk(std::uint32_t& offset, bool& again);
    bool ask(Fetch& fetch, std::uint32_t offset, bool again);
    void askAgainLater(const std::vector<RequestWindow::Request>& lost);
    static void addAgain(Fetch& fetch, std::uint32_t offset);
    void takeChunk(Fetch& fetch, const std::uint8_t* data, std::uint32_t offset, std::uint32_t n,
                   bool matched);
    void keepContinuing(Fetch& fetch);
    void noteAnswerTime(Clock::time_point sent, Clock::time_point now);
    void rememberBatch(const std::string& peer, const std::vector<catalog::CatalogRecord>& records);
    // The node's clock when a test set one (NodeContext::Switches), otherwise the steady clock.
    Clock::time_point now() const;
    std::size_t appendSeals(const std::vector<catalog::CatalogRecord>& records, std::size_t length);
    bool admitted(const catalog::CatalogRecord& record,
                  const std::optional<catalog::RecordSeal>& seal);
    void checkCompleted(CatalogStore& store, const catalog::CatalogRecord& record);
    bool sentBadData(const catalog::CatalogRecord& record) const;
    static bool chunkFits(const catalog::CatalogRecord& record, std::uint32_t offset,
                          std::uint32_t n);
    bool mayBindName(const std::string& peerId, const std::string& helloName) const;
    CatalogStore* store() const;

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

    std::vector<Fetch> m_fetches;
    // The last file started in catalog order: the next one is looked for after it.
    std::optional<catalog::CatalogRecord> m_cursor;
    RequestWindow m_requests;
    int m_windowLimit = 1;
    std::uint32_t m_chunkStep = 51200;
    // What the peer's hello offered (0: no flow block seen, the safe window applies).
    int m_peerWindow = 0;
    Clock::time_point m_lastTick{};
    RateMeter m_receiveRate;
    RateMeter m_sendRate;
    // The last batches answered (whom to, what), oldest first.
    struct SentBatch
    {
        std::string peer;
        std::vector<catalog::CatalogRecord> records;
    };
    std::vector<SentBatch> m_unconfirmed;
    // The peer's hello says it reads seals after a batch's records.
    bool m_peerSeals = false;
    // File versions this peer sent damaged data of in this conversation: not asked of it again
    // until the next one.
    static constexpr std::size_t kBadVersions = 16;
    std::vector<catalog::CatalogRecord> m_badVersions;
};
