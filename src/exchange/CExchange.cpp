#include "exchange/CExchange.h"

#include "app/CPropatyHotLine.h"
#include "exchange/CatalogStore.h"
#include "exchange/DownloadClaims.h"
#include "exchange/NodeContext.h"
#include "exchange/RecordAdmission.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"
#include "wire/HelloBody.h"
#include "wire/MessageBuilder.h"
#include "wire/MessageHeader.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

using namespace catalog;
using MsgLayout::HeaderSize;
using MsgLayout::MaxMessage;

namespace {

constexpr std::size_t FileMessageHead = HeaderSize + CatalogRecord::Size;

// The text a field of fieldSize bytes holds after the sender's bounded copy of utf8; empty
// when CP932 cannot hold it.
std::optional<std::string> asField(const std::string& utf8, std::size_t fieldSize)
{
    const auto cp932 = plat::toCp932(utf8);
    if (!cp932)
        return std::nullopt;
    std::array<std::uint8_t, 64> field{};
    plat::copyCp932Field(field.data(), std::min(fieldSize, field.size()), *cp932);
    return std::string(plat::fieldView(field.data(), fieldSize));
}

// A name from a peer that may name a pending file or a connection: valid CP932, one safe path
// component. Empty when it may not.
std::string safeNodeName(const std::string& cp932)
{
    if (!isSafeRecordName(cp932))
        return {};
    return plat::fromCp932(cp932).value_or(std::string());
}

const char* const kBadData =
    "ノード「%1」から「%2」の壊れたデータが届きました。他のノードから取り直します";

bool isConfiguredNode(CPropatyHotLine& settings, const std::string& name)
{
    const int count = settings.getConnectCount();
    for (int i = 0; i < count; ++i)
        if (settings.getConnectNodeName(i) == name)
            return true;
    return false;
}

} // namespace

static_assert(FileMessageHead == 48 + CatalogRecord::Size);

CExchange::CExchange(NodeContext& node, std::string peerNodeName)
    : m_node(node), m_peerNodeName(std::move(peerNodeName)), m_buffer(new std::uint8_t[MaxMessage]),
      m_heldBytes(new std::uint8_t[kHeldRequests * kHeldSlot]())
{
}

CExchange::~CExchange()
{
    m_node.claims().release(this);
    // The connection has ended: what the last batches carried may never have been read.
    CatalogStore* c = store();
    for (const SentBatch& batch : m_unconfirmed)
        if (c)
            c->restorePending(batch.peer, batch.records);
}

CatalogStore* CExchange::store() const
{
    return m_node.store();
}

bool CExchange::queue(std::size_t length)
{
    if (length == 0)
        return false;
    if (m_queue.enqEntry(length, m_buffer.get()))
        return true;
    // Every producer checks for room first; this is a fault, not flow control.
    plat::diag("CExchange: send queue of %s full, message of %zu bytes not sent\n",
               m_peerNodeName.c_str(), length);
    return false;
}

void CExchange::setWindowLimit(int maxWindow, std::uint32_t chunkStep)
{
    m_windowLimit = std::clamp(maxWindow, 1, kMaxWindow);
    m_chunkStep = chunkStep > 0 ? chunkStep : 1;
    const int offered = m_peerWindow > 0 ? std::min(m_peerWindow, kMaxWindow) : kSafeWindow;
    m_requests.setCeiling(std::min(offered, m_windowLimit));
}

bool CExchange::hasDeferred() const
{
    return m_heldCount > 0 || m_owedCatalogRequests > 0 ||
           ((!m_fetches.empty() || m_cursor) && m_requests.hasRoom());
}

CExchange::Clock::time_point CExchange::now() const
{
    const auto& clock = m_node.switches().clock;
    return clock ? clock() : Clock::now();
}

void CExchange::service()
{
    while (m_heldCount > 0 && hasRoom()) {
        const Held& held = m_held[m_heldFirst];
        const std::uint8_t* bytes = m_heldBytes.get() + std::size_t(m_heldFirst) * kHeldSlot;
        if (held.kind == HeldKind::Catalog)
            answerCatalogRequest(held.peer);
        else
            answerFileRequest(bytes, held.chunkSize);
        m_heldFirst = (m_heldFirst + 1) % kHeldRequests;
        --m_heldCount;
    }
    while (m_owedCatalogRequests > 0 && hasRoom(kFillReserve)) {
        --m_owedCatalogRequests;
        sendCatalogRequest();
    }
    fillWindow();
}

void CExchange::hold(HeldKind kind, const std::uint8_t* data, std::size_t length,
                     std::size_t chunkSize, const std::string& peer)
{
    if (m_heldCount >= kHeldRequests) {
        // Only a transport that cannot stop reading (Skype) gets here, and only from a peer
        // with far more requests in flight than any node makes.
        plat::diag("CExchange: %s has more than %d requests waiting, one not answered\n",
                   m_peerNodeName.c_str(), kHeldRequests);
        return;
    }
    const int slot = (m_heldFirst + m_heldCount) % kHeldRequests;
    const std::size_t n = std::min(length, kHeldSlot);
    std::memcpy(m_heldBytes.get() + std::size_t(slot) * kHeldSlot, data, n);
    Held& held = m_held[slot];
    held.kind = kind;
    held.length = n;
    held.chunkSize = chunkSize;
    held.peer = peer;
    ++m_heldCount;
}

void CExchange::sendHello(std::uint32_t syncMode, const plat::SystemTime& since, bool news)
{
    CPropatyHotLine& settings = m_node.settings();
    const auto node = plat::toCp932(settings.getNodeName());
    const auto party = plat::toCp932(settings.getPartyName());
    if (!node || !party) {
        plat::diag("CExchange: node or party name not representable in CP932, no hello\n");
        return;
    }
    const plat::SystemTime when = syncMode == SyncMode::Since ? since : plat::SystemTime{};
    std::memset(m_buffer.get(), 0, HelloLayout::MessageSize);
    const std::size_t length = buildHello(m_buffer.get(), *node, *party, syncMode, when);
    if (length == 0)
        return;
    // The flow block: reserved bytes to a node built to the original design.
    if (m_node.switches().sendsFlowBlock) {
        std::uint16_t flags = news ? FlowNews : 0;
        if (m_node.trust())
            flags |= FlowSeals;
        writeHelloFlow(m_buffer.get(), static_cast<std::uint16_t>(kMaxWindow), flags);
    }
    queue(length);
}

void CExchange::sendCatalogRequest()
{
    std::memset(m_buffer.get(), 0, HeaderSize);
    queue(buildCatalogRequest(m_buffer.get()));
}

CExchange::HelloResult CExchange::onHello(const std::uint8_t* data, std::size_t length, bool isTcp,
                                          const std::string& peerId)
{
    HelloResult result;
    CPropatyHotLine& settings = m_node.settings();
    if (!helloPartyMatches(data, length)) {
        plat::diag("CExchange: hello from another party\n");
        return result;
    }
    result.partyMatches = true;
    const HelloBody hello = HelloBody::read(data);
    if (hello.hasFlow) {
        m_peerWindow = std::min<int>(hello.flowWindow, kMaxWindow);
        result.peerHasNews = (hello.flowFlags & FlowNews) != 0;
        m_peerSeals = (hello.flowFlags & FlowSeals) != 0;
        setWindowLimit(m_windowLimit, m_chunkStep);
    }

    const std::string helloName = safeNodeName(hello.nodeNameCp932);
    if (helloName.empty()) {
        plat::diag("CExchange: hello with an unusable node name ignored\n");
        return result;
    }
    if (!isTcp && hello.nameBinding == 0) {
        const std::string configured =
            settings.findConnectNodeName(CPropatyHotLine::kMethodSkype, peerId);
        if (!configured.empty() && mayBindName(peerId, helloName)) {
            m_peerNodeName = helloName;
            if (configured != helloName) {
                settings.renameConnectNode(CPropatyHotLine::kMethodSkype, peerId, configured,
                                           helloName);
                if (CatalogStore* c = store())
                    c->renamePendingFile(configured, helloName);
                result.peerRenamed = true;
            }
        }
    }
    // Records are queued only for configured connections, and only for the peer on this
    // connection: a peer naming anyone else would otherwise create pending files at will or
    // fill another peer's.
    const bool forThisPeer = m_peerNodeName.empty() || m_peerNodeName == helloName;
    CatalogStore* c = store();
    if (c && hello.syncMode != SyncMode::None && forThisPeer &&
        isConfiguredNode(settings, helloName))
        c->queueSince(helloName, hello.syncMode, hello.since);
    return result;
}

bool CExchange::helloPartyMatches(const std::uint8_t* data, std::size_t length) const
{
    if (length < HelloLayout::MessageSize)
        return false;
    const auto ownParty = asField(m_node.settings().getPartyName(), HelloLayout::PartyNameSize);
    return ownParty && HelloBody::read(data).partyNameCp932 == *ownParty;
}

// A Skype peer may take the name in its hello unless that name is this node's own or belongs
// to another configured connection: renaming onto it would give two connections one name and
// pour this peer's pending records into the other peer's file.
bool CExchange::mayBindName(const std::string& peerId, const std::string& helloName) const
{
    CPropatyHotLine& settings = m_node.settings();
    if (helloName == settings.getNodeName()) {
        plat::diag("CExchange: Skype peer %s claims this node's name\n", peerId.c_str());
        return false;
    }
    const int count = settings.getConnectCount();
    for (int i = 0; i < count; ++i) {
        if (settings.getConnectNodeName(i) != helloName)
            continue;
        const bool same =
            settings.getConnectMethod(i) == "SKYPE" && settings.getSkypeId(i) == peerId;
        if (!same) {
            plat::diag("CExchange: Skype peer %s claims the name of another connection\n",
                       peerId.c_str());
            return false;
        }
    }
    return true;
}

void CExchange::onCatalogRequest(const std::uint8_t* data, std::size_t length,
                                 const std::string& peerNodeName)
{
    if (length < HeaderSize || data == nullptr || peerNodeName.empty())
        return;
    if (m_heldCount > 0 || !hasRoom()) {
        hold(HeldKind::Catalog, data, HeaderSize, 0, peerNodeName);
        return;
    }
    answerCatalogRequest(peerNodeName);
}

void CExchange::answerCatalogRequest(const std::string& peerNodeName)
{
    std::vector<CatalogRecord> records;
    if (CatalogStore* c = store())
        records = c->takePending(peerNodeName);
    if (records.size() > MaxBatchRecords)
        records.resize(MaxBatchRecords);
    rememberBatch(peerNodeName, records);
    std::memset(m_buffer.get(), 0, HeaderSize + records.size() * CatalogRecord::Size);
    std::size_t length = buildCatalogBatch(m_buffer.get(), records);
    if (length > 0 && !records.empty())
        length = appendSeals(records, length);
    queue(length);
}

// Toward a peer that reads them, the seals of the batch's records follow the records.
std::size_t CExchange::appendSeals(const std::vector<CatalogRecord>& records, std::size_t length)
{
    RecordAdmission* trust = m_node.trust();
    if (!trust || !m_peerSeals)
        return length;
    std::vector<std::optional<RecordSeal>> seals;
    for (const CatalogRecord& r : records)
        seals.push_back(trust->sealOf(r));
    const std::vector<std::uint8_t> block = writeSealBlock(seals);
    if (length + block.size() > MaxMessage)
        return length;
    std::memcpy(m_buffer.get() + length, block.data(), block.size());
    MessageHeader(m_buffer.get())
        .setBodyLength(static_cast<std::uint16_t>(length + block.size() - HeaderSize));
    return length + block.size();
}

// A record its origin did not vouch for, where the origin's key is known, is neither merged nor
// passed on; an admitted record's seal is kept to travel on with it.
bool CExchange::admitted(const CatalogRecord& record, const std::optional<RecordSeal>& seal)
{
    RecordAdmission* trust = m_node.trust();
    if (!trust)
        return true;
    const RecordAdmission::Verdict admission = trust->admit(record, seal);
    if (!admission.accepted) {
        plat::diag("CExchange: %s of %s from %s refused: %s\n", record.fileNameUtf8().c_str(),
                   record.originNodeUtf8().c_str(), m_peerNodeName.c_str(), admission.why);
        return false;
    }
    if (seal)
        trust->remember(record, *seal);
    return true;
}

void CExchange::onCatalogBatch(const std::uint8_t* data, std::size_t length)
{
    if (length < HeaderSize)
        return;
    const ConstMessageHeader h(data);
    // The count is the peer's word; the body it really sent bounds it.
    const std::size_t body = std::min<std::size_t>(h.bodyLength(), length - HeaderSize);
    const std::size_t count =
        std::min<std::size_t>({h.recordCount(), MaxBatchRecords, body / CatalogRecord::Size});
    if (count == 0) {
        requestFirstFile();
        return;
    }
    CatalogStore* const c = store();
    const std::size_t sealsAt = HeaderSize + count * CatalogRecord::Size;
    const auto seals = readSealBlock(data + sealsAt, HeaderSize + body - sealsAt, count);
    for (std::size_t i = 0; c && i < count; ++i) {
        CatalogRecord r = recordAt(data, i);
        if (checksumRejects(r)) {
            plat::diag("CExchange: record %zu of batch fails its checksum\n", i);
            continue;
        }
        if (!isValidRecord(r)) {
            plat::diag("CExchange: invalid record %zu of batch dropped\n", i);
            continue;
        }
        if (!admitted(r, seals[i]))
            continue;
        switch (r.kind()) {
        case RecordKind::New:
        case RecordKind::Changed:
            c->mergeRecord(r);
            break;
        case RecordKind::Deleted:
            c->mergeDeletion(r);
            break;
        default:
            break;
        }
    }
    if (hasRoom(kFillReserve))
        sendCatalogRequest();
    else
        ++m_owedCatalogRequests;
}

void CExchange::requestFirstFile()
{
    if (m_fetches.empty()) {
        CatalogStore* c = store();
        if (!c)
            return;
        // A peer that sent damaged data of a file is asked for it again only in a later
        // conversation, so that meanwhile another peer's connection can take it.
        m_badVersions.clear();
        m_cursor.reset();
        const auto first = nextFree(c->firstToFetch());
        if (first)
            startFetch(*first, false);
    }
    startSmallFetch();
    fillWindow();
}

void CExchange::requestNextFile(const CatalogRecord& record)
{
    endFetch(record);
    fillWindow();
}

// The first entry from `from` on (itself included) that neither this connection nor another
// connection of this node is fetching.
std::optional<CatalogRecord> CExchange::nextFree(std::optional<CatalogRecord> from)
{
    CatalogStore* c = store();
    while (c && from &&
           (fetching(*from) || m_node.claims().claimedByOther(*from, this) || sentBadData(*from)))
        from = c->nextToFetch(*from);
    return from;
}

bool CExchange::fetching(const CatalogRecord& record) const
{
    return std::any_of(m_fetches.begin(), m_fetches.end(), [&](const Fetch& f) {
        return f.record->originNodeCp932() == record.originNodeCp932() &&
               f.record->fileNameCp932() == record.fileNameCp932();
    });
}

CExchange::Fetch* CExchange::fetchOf(const CatalogRecord& record)
{
    for (Fetch& f : m_fetches)
        if (sameVersion(*f.record, record))
            return &f;
    return nullptr;
}

bool CExchange::startFetch(const CatalogRecord& record, bool small)
{
    // Downloads stop while the receiving disk is near full (said once on the status line).
    CatalogStore* c = store();
    if (!c || !c->roomToFetch(record) || static_cast<int>(m_fetches.size()) >= kMaxFetches)
        return false;
    m_node.claims().claim(record, this);
    Fetch f;
    f.record = std::make_shared<const CatalogRecord>(record);
    f.next = record.bytesReceived();
    f.stored = record.bytesReceived();
    f.small = small;
    if (small) {
        m_fetches.insert(m_fetches.begin(), std::move(f));
    } else {
        m_cursor = record;
        m_fetches.push_back(std::move(f));
    }
    return true;
}

// The window has room and every file being fetched has all its chunks asked: the next file in
// catalog order after the last one started joins.
bool CExchange::startNextFetch()
{
    CatalogStore* c = store();
    if (!c || !m_cursor || static_cast<int>(m_fetches.size()) >= kMaxFetches)
        return false;
    const auto next = nextFree(c->nextToFetch(*m_cursor));
    if (!next) {
        // Nothing follows: the next conversation starts again from the first incomplete entry.
        if (m_fetches.empty())
            m_cursor.reset();
        return false;
    }
    return startFetch(*next, false);
}

// While a large file is fetched, the first small one (a few chunks still to come) that nobody
// fetches runs beside it, so it is not stuck behind the large one.
void CExchange::startSmallFetch()
{
    CatalogStore* c = store();
    const auto isSmall = [this](const CatalogRecord& r) {
        return r.fileSize() - std::min(r.bytesReceived(), r.fileSize()) <=
               std::uint64_t(kSmallChunks) * m_chunkStep;
    };
    const bool large = std::any_of(m_fetches.begin(), m_fetches.end(),
                                   [&](const Fetch& f) { return !isSmall(*f.record); });
    const bool hasSmall =
        std::any_of(m_fetches.begin(), m_fetches.end(), [](const Fetch& f) { return f.small; });
    if (!c || !large || hasSmall)
        return;
    auto r = nextFree(c->firstToFetch());
    for (int looked = 0; r && looked < kSmallScan; ++looked) {
        if (isSmall(*r)) {
            startFetch(*r, true);
            return;
        }
        r = nextFree(c->nextToFetch(*r));
    }
}

void CExchange::endFetch(const CatalogRecord& record)
{
    const auto it = std::find_if(m_fetches.begin(), m_fetches.end(),
                                 [&](const Fetch& f) { return sameVersion(*f.record, record); });
    if (it == m_fetches.end())
        return;
    m_node.claims().release(*it->record, this);
    const bool small = it->small;
    m_fetches.erase(it);
    // The next small file need not wait for the next conversation.
    if (small)
        startSmallFetch();
}

void CExchange::endAllFetches()
{
    m_node.claims().release(this);
    m_fetches.clear();
    m_cursor.reset();
}

void CExchange::fillWindow()
{
    while (m_requests.hasRoom() && hasRoom(kFillReserve)) {
        std::uint32_t offset = 0;
        bool again = false;
        Fetch* f = nextToAsk(offset, again);
        if (!f) {
            if (!startNextFetch())
                return;
            continue;
        }
        if (!ask(*f, offset, again))
            return;
    }
}

// What to ask next: offsets to ask again first, then new ones; small files before the others,
// otherwise in the order the files were started.
CExchange::Fetch* CExchange::nextToAsk(std::uint32_t& offset, bool& again)
{
    for (Fetch& f : m_fetches) {
        std::erase_if(f.again, [&](std::uint32_t o) { return o < f.stored; });
        if (!f.again.empty()) {
            offset = f.again.front();
            f.again.erase(f.again.begin());
            again = true;
            return &f;
        }
        const std::uint32_t size = f.record->fileSize();
        if (size == 0 ? !f.emptyAsked : f.next < size) {
            offset = f.next;
            again = false;
            return &f;
        }
    }
    return nullptr;
}

bool CExchange::ask(Fetch& f, std::uint32_t offset, bool again)
{
    CatalogRecord asked = *f.record;
    asked.setBytesReceived(offset);
    std::memset(m_buffer.get(), 0, FileMessageHead);
    if (!queue(buildFileDataRequest(m_buffer.get(), asked)))
        return false;
    m_requests.sent(f.record, offset, again, now());
    if (again) {
        ++m_node.counters().requestsAskedAgain;
        return true;
    }
    f.emptyAsked = true;
    const std::uint64_t next = std::uint64_t(offset) + m_chunkStep;
    f.next = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, f.record->fileSize()));
    return true;
}

void CExchange::addAgain(Fetch& f, std::uint32_t offset)
{
    const auto at = std::lower_bound(f.again.begin(), f.again.end(), offset);
    if (at == f.again.end() || *at != offset)
        f.again.insert(at, offset);
}

// Requests that can no longer be answered: those of files still fetched, where the file does
// not stand yet, are asked again.
void CExchange::askAgainLater(const std::vector<RequestWindow::Request>& lost)
{
    for (const RequestWindow::Request& r : lost) {
        Fetch* f = fetchOf(*r.record);
        if (f && (r.offset >= f->stored || f->record->fileSize() == 0)) {
            if (f->record->fileSize() == 0)
                f->emptyAsked = false;
            else
                addAgain(*f, r.offset);
        }
    }
}

void CExchange::tick(bool idle)
{
    const Clock::time_point t = now();
    // A process that was not run for a while has not read what came meanwhile: no verdict on
    // this turn.
    const bool late = m_lastTick != Clock::time_point{} && t - m_lastTick > kTickGap;
    m_lastTick = t;
    if (late || !idle || !m_requests.stalled(t))
        return;
    plat::diag(
        "CExchange: no answer from %s for %lld ms with %d requests out, asking again\n",
        m_peerNodeName.c_str(),
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(m_requests.stallTime()).count()),
        m_requests.inFlight());
    if (const auto oldest = m_requests.giveUp(t))
        askAgainLater({*oldest});
    fillWindow();
}

void CExchange::rememberBatch(const std::string& peer, const std::vector<CatalogRecord>& records)
{
    if (records.empty())
        return;
    if (static_cast<int>(m_unconfirmed.size()) >= kUnconfirmedBatches)
        m_unconfirmed.erase(m_unconfirmed.begin());
    m_unconfirmed.push_back(SentBatch{peer, records});
}

void CExchange::onFileRequest(const std::uint8_t* data, std::size_t length, std::size_t chunkSize)
{
    if (length < FileMessageHead)
        return;
    if (m_heldCount > 0 || !hasRoom()) {
        hold(HeldKind::File, data, FileMessageHead, chunkSize, {});
        return;
    }
    answerFileRequest(data, chunkSize);
}

void CExchange::answerFileRequest(const std::uint8_t* data, std::size_t chunkSize)
{
    // The answer is the request turned around: its header and record, then the chunk.
    std::uint8_t* out = m_buffer.get();
    std::memcpy(out, data, FileMessageHead);
    const CatalogRecord record = recordAt(out, 0);
    const std::uint32_t offset = ConstMessageHeader(out).fileOffset();
    const std::size_t size = std::min(chunkSize, MaxChunkRoom);
    std::size_t n = 0;
    CatalogStore* c = store();
    if (c && isValidRecord(record))
        n = c->readChunk(record, offset, size, out + FileMessageHead);
    n = std::min(n, size);
    m_sendRate.add(n, now());
    MessageHeader h(out);
    h.setMessageType(MsgType::FileData);
    h.setRecordCount(1);
    h.setChunkLength(static_cast<std::uint32_t>(n));
    h.setBodyLength(static_cast<std::uint16_t>(CatalogRecord::Size + n));
    queue(FileMessageHead + n);
}

// The catalog takes a chunk only where the entry's download stands; past the recorded size it
// is refused here as a whole rather than cut, since the peer that sent it is not serving that
// version faithfully.
bool CExchange::chunkFits(const CatalogRecord& record, std::uint32_t offset, std::uint32_t n)
{
    return std::uint64_t(offset) + n <= record.fileSize();
}

void CExchange::onFileData(const std::uint8_t* data, std::size_t length)
{
    if (length < FileMessageHead)
        return;
    const ConstMessageHeader h(data);
    const std::uint32_t offset = h.fileOffset();
    const std::uint32_t n = h.chunkLength();
    const std::size_t body = std::min<std::size_t>(h.bodyLength(), length - HeaderSize);
    if (std::uint64_t(CatalogRecord::Size) + n > body) {
        plat::diag("CExchange: file data whose chunk overruns its message dropped\n");
        return;
    }
    NodeContext::Counters& counters = m_node.counters();
    counters.fileBytesReceived += n;
    m_receiveRate.add(n, now());
    const CatalogRecord record = recordAt(data, 0);
    const std::string& counted = m_node.switches().countedFile;
    if (!counted.empty() && record.fileNameCp932() == counted)
        counters.countedFileBytes += n;
    const Clock::time_point t = now();
    std::vector<RequestWindow::Request> lost;
    const auto request = m_requests.answered(record, offset, t, lost);
    const bool matched = request.has_value();
    if (request && !request->again)
        noteAnswerTime(request->sent, t);
    askAgainLater(lost);
    if (!store()) {
        // The node's catalog has gone (or is not there yet): nothing is stored, nothing asked.
        endAllFetches();
        return;
    }
    Fetch* f = isValidRecord(record) ? fetchOf(record) : nullptr;
    if (!f) {
        // A second or late answer for a file no longer fetched, or one never asked for.
        ++m_node.counters().answersDropped;
        fillWindow();
        return;
    }
    takeChunk(*f, data + FileMessageHead, offset, n, matched);
    fillWindow();
}

void CExchange::noteAnswerTime(Clock::time_point sent, Clock::time_point t)
{
    const double ms = std::chrono::duration<double, std::milli>(t - sent).count();
    NodeContext::Counters& counters = m_node.counters();
    counters.longestAnswerMs = std::max(counters.longestAnswerMs, ms);
    counters.answerMsSum += ms;
    ++counters.answerCount;
}

// An answer for a file this connection fetches: stored when it continues the file where it
// stands; dropped when behind it (a second answer) or ahead of it (asked again once the piece
// before it is in); the end of the file's download when the peer cannot serve it or it is
// complete.
void CExchange::takeChunk(Fetch& f, const std::uint8_t* bytes, std::uint32_t offset,
                          std::uint32_t n, bool matched)
{
    CatalogStore& catalog = *store();
    const CatalogRecord record = *f.record;
    // An empty file is complete once its (empty) first chunk is stored; without this it would
    // stay incomplete everywhere and never be passed on.
    const bool emptyFile = n == 0 && offset == 0 && record.fileSize() == 0;
    if ((n == 0 && !emptyFile) || !chunkFits(record, offset, n)) {
        requestNextFile(record);
        return;
    }
    const auto entry = catalog.exactEntry(record);
    // Gone, replaced or complete: this file is done here.
    if (!entry || entry->completeFlag() == 1) {
        requestNextFile(record);
        return;
    }
    f.stored = entry->bytesReceived();
    if (offset < f.stored) {
        // A second answer, or the late one to a request asked again.
        ++m_node.counters().answersDropped;
        return;
    }
    if (offset > f.stored) {
        ++m_node.counters().answersDropped;
        // Asked in steps from where the file stands: this piece is asked again once more.
        if (matched && (offset - f.stored) % m_chunkStep == 0)
            addAgain(f, offset);
        keepContinuing(f);
        return;
    }
    if (catalog.storeChunk(offset, n, record, bytes) == 0) {
        if (std::uint64_t(offset) + n == record.fileSize())
            checkCompleted(catalog, record);
        requestNextFile(record);
        return;
    }
    f.stored = offset + n;
    if (n < m_chunkStep && f.stored < record.fileSize()) {
        // A short chunk inside the file: what was asked after it is misaligned now; ask on
        // from where the file stands.
        f.again.clear();
        f.next = f.stored;
        return;
    }
    f.next = std::max(f.next, f.stored);
    keepContinuing(f);
}

// The last chunk of a file was handed to the catalog, which completes the file only when its
// content is what the origin vouched for; otherwise it starts the file again from nothing, and
// this peer is not asked for that file again in this conversation.
void CExchange::checkCompleted(CatalogStore& store, const CatalogRecord& record)
{
    const auto entry = store.exactEntry(record);
    if (!entry || entry->completeFlag() == 1 || entry->bytesReceived() != 0)
        return;
    if (m_badVersions.size() >= kBadVersions)
        m_badVersions.erase(m_badVersions.begin());
    m_badVersions.push_back(record);
    const QString text = QCoreApplication::translate("Pavo", kBadData)
                             .arg(QString::fromStdString(m_peerNodeName),
                                  QString::fromStdString(record.fileNameUtf8()));
    m_node.postDetail(text.toStdString());
}

bool CExchange::sentBadData(const CatalogRecord& record) const
{
    for (const CatalogRecord& bad : m_badVersions)
        if (catalog::sameVersion(bad, record))
            return true;
    return false;
}

// The piece the file waits for must be on its way or about to be asked again.
void CExchange::keepContinuing(Fetch& f)
{
    if (f.stored < f.next && !m_requests.outstanding(*f.record, f.stored))
        addAgain(f, f.stored);
}
