#include "catalog/CExchange.h"

#include "app/CPropatyHotLine.h"
#include "catalog/CCatalog.h"
#include "catalog/DownloadClaims.h"
#include "catalog/HelloBody.h"
#include "catalog/MessageBuilder.h"
#include "catalog/MessageHeader.h"
#include "catalog/NodeContext.h"
#include "catalog/RecordTrust.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"

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
}

CCatalog* CExchange::catalog() const
{
    return m_node.catalog();
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
}

int CExchange::window() const
{
    const int offered = m_peerWindow > 0 ? std::min(m_peerWindow, kMaxWindow) : kSafeWindow;
    return std::clamp(std::min(m_window, offered), 1, m_windowLimit);
}

bool CExchange::hasDeferred() const
{
    return m_heldCount > 0 || m_owedCatalogRequests > 0 ||
           (m_download.active && m_inFlight < window());
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
    if (s_flowBlockSent) {
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
                if (CCatalog* c = catalog())
                    c->renamePendingFile(configured, helloName);
                result.peerRenamed = true;
            }
        }
    }
    // Records are queued only for configured connections, and only for the peer on this
    // connection: a peer naming anyone else would otherwise create pending files at will or
    // fill another peer's.
    const bool forThisPeer = m_peerNodeName.empty() || m_peerNodeName == helloName;
    CCatalog* c = catalog();
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
    if (CCatalog* c = catalog())
        records = c->takePending(peerNodeName);
    if (records.size() > MaxBatchRecords)
        records.resize(MaxBatchRecords);
    std::memset(m_buffer.get(), 0, HeaderSize + records.size() * CatalogRecord::Size);
    std::size_t length = buildCatalogBatch(m_buffer.get(), records);
    if (length > 0 && !records.empty())
        length = appendSeals(records, length);
    queue(length);
}

// Toward a peer that reads them, the seals of the batch's records follow the records.
std::size_t CExchange::appendSeals(const std::vector<CatalogRecord>& records, std::size_t length)
{
    RecordTrust* trust = m_node.trust();
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
    CCatalog* const c = catalog();
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

// A record its origin did not vouch for, where the origin's key is known, is neither merged nor
// passed on; an admitted record's seal is kept to travel on with it.
bool CExchange::admitted(const CatalogRecord& record, const std::optional<RecordSeal>& seal)
{
    RecordTrust* trust = m_node.trust();
    if (!trust)
        return true;
    const RecordTrust::Admission admission = trust->admit(record, seal);
    if (!admission.accepted) {
        plat::diag("CExchange: %s of %s from %s refused: %s\n", record.fileNameUtf8().c_str(),
                   record.originNodeUtf8().c_str(), m_peerNodeName.c_str(), admission.why);
        return false;
    }
    if (seal)
        trust->remember(record, *seal);
    return true;
}

void CExchange::requestFirstFile()
{
    if (m_download.active) {
        checkStall();
        fillWindow();
        return;
    }
    // A peer that sent damaged data of a file is asked for it again only in a later
    // conversation, so that meanwhile another peer's connection can take it.
    m_badVersions.clear();
    CCatalog* c = catalog();
    if (!c)
        return;
    auto record = c->firstToFetch();
    while (record && (m_node.claims().claimedByOther(*record, this) || sentBadData(*record)))
        record = c->nextToFetch(*record);
    startDownload(record);
}

void CExchange::requestNextFile(const CatalogRecord& record)
{
    stopDownload();
    CCatalog* c = catalog();
    if (!c)
        return;
    auto next = c->nextToFetch(record);
    while (next && (m_node.claims().claimedByOther(*next, this) || sentBadData(*next)))
        next = c->nextToFetch(*next);
    startDownload(next);
}

void CExchange::startDownload(std::optional<CatalogRecord> record)
{
    // Downloads stop while the receiving disk is near full (said once on the status line).
    CCatalog* c = catalog();
    if (!record || !c || !c->roomToFetch(*record))
        return;
    m_node.claims().claim(*record, this);
    m_download = Download{};
    m_download.active = true;
    m_download.record = *record;
    m_download.next = record->bytesReceived();
    m_quietConversations = 0;
    m_answersAtLastLook = m_answers;
    fillWindow();
}

void CExchange::stopDownload()
{
    if (m_download.active)
        m_node.claims().release(this);
    m_download.active = false;
    // The answers still to come belong to requests of the download just left.
    m_stale = m_inFlight;
}

// A conversation found the download running. When nothing came back for several conversations
// while requests were out, they were lost (a peer that dropped them); ask again from the bytes
// received.
void CExchange::checkStall()
{
    if (m_inFlight == 0 || m_answers != m_answersAtLastLook) {
        m_quietConversations = 0;
        m_answersAtLastLook = m_answers;
        return;
    }
    if (++m_quietConversations < kStallConversations)
        return;
    plat::diag("CExchange: no answer from %s for %d conversations, asking again\n",
               m_peerNodeName.c_str(), m_quietConversations);
    m_quietConversations = 0;
    m_inFlight = 0;
    m_stale = 0;
    CCatalog* c = catalog();
    if (const auto entry = c ? c->exactEntry(m_download.record) : std::nullopt)
        m_download.next = entry->bytesReceived();
    m_download.emptyAsked = false;
}

void CExchange::fillWindow()
{
    if (!m_download.active)
        return;
    const std::uint32_t size = m_download.record.fileSize();
    const int limit = window();
    while (m_inFlight < limit && hasRoom(kFillReserve)) {
        if (size == 0 ? m_download.emptyAsked : m_download.next >= size)
            return;
        CatalogRecord asked = m_download.record;
        asked.setBytesReceived(m_download.next);
        std::memset(m_buffer.get(), 0, FileMessageHead);
        if (!queue(buildFileDataRequest(m_buffer.get(), asked)))
            return;
        ++m_inFlight;
        m_download.emptyAsked = true;
        const std::uint64_t next = std::uint64_t(m_download.next) + m_chunkStep;
        m_download.next = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, size));
    }
}

// The last chunk of a file was handed to the catalog, which completes the file only when its
// content is what the origin vouched for; otherwise it starts the file again from nothing, and
// this peer is not asked for that file again.
void CExchange::checkCompleted(CCatalog& catalog, const CatalogRecord& record)
{
    const auto entry = catalog.exactEntry(record);
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
        if (CCatalog::sameVersion(bad, record))
            return true;
    return false;
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
    CCatalog* c = catalog();
    if (c && isValidRecord(record))
        n = c->readChunk(record, offset, size, out + FileMessageHead);
    n = std::min(n, size);
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
    ++m_answers;
    s_fileBytesReceived += n;
    if (m_inFlight > 0)
        --m_inFlight;
    if (m_stale > 0) {
        --m_stale;
        fillWindow();
        return;
    }
    const CatalogRecord record = recordAt(data, 0);
    if (!isValidRecord(record)) {
        plat::diag("CExchange: file data for an invalid record dropped\n");
        fillWindow();
        return;
    }
    CCatalog* c = catalog();
    if (!c) {
        // The node's catalog has gone (or is not there yet): nothing is stored, nothing asked.
        stopDownload();
        return;
    }
    CCatalog& catalog = *c;
    if (!m_download.active) {
        // An answer this connection did not ask for: follow it as a download of its own, as a
        // one-chunk-at-a-time peer would.
        m_download = Download{};
        m_download.active = true;
        m_download.record = record;
        m_download.next = offset;
        m_node.claims().claim(record, this);
    } else if (!CCatalog::sameVersion(record, m_download.record)) {
        plat::diag("CExchange: file data for another file than the one asked for dropped\n");
        fillWindow();
        return;
    }
    // An empty file is complete once its (empty) first chunk is stored; without this it would
    // stay incomplete everywhere and never be passed on.
    const bool emptyFile = n == 0 && offset == 0 && record.fileSize() == 0;
    if ((n == 0 && !emptyFile) || !chunkFits(record, offset, n)) {
        requestNextFile(record);
        return;
    }
    const auto entry = catalog.exactEntry(record);
    // Gone, replaced, complete, or delivered past this offset by another connection: leave it.
    if (!entry || entry->completeFlag() == 1 || offset < entry->bytesReceived()) {
        requestNextFile(record);
        return;
    }
    if (offset > entry->bytesReceived()) {
        // Not the next piece (an earlier answer came back short): ask again from what is here.
        plat::diag("CExchange: chunk at %u does not continue %u bytes, window restarts\n", offset,
                   entry->bytesReceived());
        m_stale = m_inFlight;
        m_download.next = entry->bytesReceived();
        m_download.emptyAsked = false;
        fillWindow();
        return;
    }
    if (catalog.storeChunk(offset, n, record, data + FileMessageHead) == 0) {
        if (std::uint64_t(offset) + n == record.fileSize())
            checkCompleted(catalog, record);
        requestNextFile(record);
        return;
    }
    const std::uint32_t stored = offset + n;
    if (m_inFlight == 0 || stored > m_download.next)
        m_download.next = stored;
    if (m_window < kMaxWindow)
        ++m_window;
    fillWindow();
}
