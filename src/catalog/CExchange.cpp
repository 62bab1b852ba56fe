#include "catalog/CExchange.h"

#include "app/CPropatyHotLine.h"
#include "catalog/CCatalog.h"
#include "catalog/HelloBody.h"
#include "catalog/MessageBuilder.h"
#include "catalog/MessageHeader.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"

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

bool isConfiguredNode(CPropatyHotLine& settings, const std::string& name)
{
    const int count = settings.getConnectCount();
    for (int i = 0; i < count; ++i)
        if (settings.getConnectNodeName(i) == name)
            return true;
    return false;
}

} // namespace

CExchange::CExchange(std::string peerNodeName)
    : m_peerNodeName(std::move(peerNodeName)), m_buffer(new std::uint8_t[MaxMessage])
{
}

CExchange::~CExchange() = default;

void CExchange::queue(std::size_t length)
{
    if (length == 0)
        return;
    if (!m_queue.enqEntry(length, m_buffer.get()))
        plat::diag("CExchange: send queue of %s full, message of %zu bytes dropped\n",
                   m_peerNodeName.c_str(), length);
}

void CExchange::sendHello(std::uint32_t syncMode, const plat::SystemTime& since)
{
    CPropatyHotLine* settings = CPropatyHotLine::instance();
    if (!settings)
        return;
    const auto node = plat::toCp932(settings->getNodeName());
    const auto party = plat::toCp932(settings->getPartyName());
    if (!node || !party) {
        plat::diag("CExchange: node or party name not representable in CP932, no hello\n");
        return;
    }
    const plat::SystemTime when = syncMode == SyncMode::Since ? since : plat::SystemTime{};
    std::memset(m_buffer.get(), 0, HelloLayout::MessageSize);
    queue(buildHello(m_buffer.get(), *node, *party, syncMode, when));
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
    CPropatyHotLine* settings = CPropatyHotLine::instance();
    if (!helloPartyMatches(data, length)) {
        plat::diag("CExchange: hello from another party\n");
        return result;
    }
    result.partyMatches = true;
    const HelloBody hello = HelloBody::read(data);

    const std::string helloName = safeNodeName(hello.nodeNameCp932);
    if (helloName.empty()) {
        plat::diag("CExchange: hello with an unusable node name ignored\n");
        return result;
    }
    if (!isTcp && hello.nameBinding == 0) {
        const std::string configured =
            settings->findConnectNodeName(CPropatyHotLine::kMethodSkype, peerId);
        if (!configured.empty() && mayBindName(peerId, helloName)) {
            m_peerNodeName = helloName;
            if (configured != helloName) {
                settings->renameConnectNode(CPropatyHotLine::kMethodSkype, peerId, configured,
                                            helloName);
                CCatalog::instance()->renamePendingFile(configured, helloName);
                result.peerRenamed = true;
            }
        }
    }
    // Records are queued only for configured connections, and only for the peer on this
    // connection: a peer naming anyone else would otherwise create pending files at will or
    // fill another peer's.
    const bool forThisPeer = m_peerNodeName.empty() || m_peerNodeName == helloName;
    if (hello.syncMode != SyncMode::None && forThisPeer && isConfiguredNode(*settings, helloName))
        CCatalog::instance()->queueSince(helloName, hello.syncMode, hello.since);
    return result;
}

bool CExchange::helloPartyMatches(const std::uint8_t* data, std::size_t length) const
{
    CPropatyHotLine* settings = CPropatyHotLine::instance();
    if (!settings || length < HelloLayout::MessageSize)
        return false;
    const auto ownParty = asField(settings->getPartyName(), HelloLayout::PartyNameSize);
    return ownParty && HelloBody::read(data).partyNameCp932 == *ownParty;
}

// A Skype peer may take the name in its hello unless that name is this node's own or belongs
// to another configured connection: renaming onto it would give two connections one name and
// pour this peer's pending records into the other peer's file.
bool CExchange::mayBindName(const std::string& peerId, const std::string& helloName) const
{
    CPropatyHotLine& settings = *CPropatyHotLine::instance();
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
    std::vector<CatalogRecord> records = CCatalog::instance()->takePending(peerNodeName);
    if (records.size() > MaxBatchRecords)
        records.resize(MaxBatchRecords);
    std::memset(m_buffer.get(), 0, HeaderSize + records.size() * CatalogRecord::Size);
    queue(buildCatalogBatch(m_buffer.get(), records));
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
    CCatalog& catalog = *CCatalog::instance();
    for (std::size_t i = 0; i < count; ++i) {
        CatalogRecord r = recordAt(data, i);
        if (checksumRejects(r)) {
            plat::diag("CExchange: record %zu of batch fails its checksum\n", i);
            continue;
        }
        if (!isValidRecord(r)) {
            plat::diag("CExchange: invalid record %zu of batch dropped\n", i);
            continue;
        }
        switch (r.kind()) {
        case RecordKind::New:
        case RecordKind::Changed:
            catalog.mergeRecord(r);
            break;
        case RecordKind::Deleted:
            catalog.mergeDeletion(r);
            break;
        default:
            break;
        }
    }
    sendCatalogRequest();
}

void CExchange::requestFirstFile()
{
    CCatalog& catalog = *CCatalog::instance();
    const auto record = catalog.firstToFetch();
    // Downloads stop while the receiving disk is near full (said once on the status line).
    if (!record || !catalog.roomToFetch(*record))
        return;
    std::memset(m_buffer.get(), 0, FileMessageHead);
    queue(buildFileDataRequest(m_buffer.get(), *record));
}

void CExchange::requestNextFile(const CatalogRecord& record)
{
    CCatalog& catalog = *CCatalog::instance();
    const auto next = catalog.nextToFetch(record);
    if (!next || !catalog.roomToFetch(*next))
        return;
    std::memset(m_buffer.get(), 0, FileMessageHead);
    queue(buildFileDataRequest(m_buffer.get(), *next));
}

void CExchange::onFileRequest(const std::uint8_t* data, std::size_t length, std::size_t chunkSize)
{
    if (length < FileMessageHead)
        return;
    // The answer is the request turned around: its header and record, then the chunk.
    std::uint8_t* out = m_buffer.get();
    std::memcpy(out, data, FileMessageHead);
    const CatalogRecord record = recordAt(out, 0);
    const std::uint32_t offset = ConstMessageHeader(out).fileOffset();
    const std::size_t size = std::min(chunkSize, MaxChunkRoom);
    std::size_t n = 0;
    if (isValidRecord(record))
        n = CCatalog::instance()->readChunk(record, offset, size, out + FileMessageHead);
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
    const CatalogRecord record = recordAt(data, 0);
    if (!isValidRecord(record)) {
        plat::diag("CExchange: file data for an invalid record dropped\n");
        return;
    }
    CCatalog& catalog = *CCatalog::instance();
    // An empty file is complete once its (empty) first chunk is stored; without this it would
    // stay incomplete everywhere and never be passed on.
    const bool emptyFile = n == 0 && offset == 0 && record.fileSize() == 0;
    if ((n == 0 && !emptyFile) || !chunkFits(record, offset, n) ||
        catalog.storeChunk(offset, n, record, data + FileMessageHead) == 0) {
        requestNextFile(record);
        return;
    }
    std::uint8_t* out = m_buffer.get();
    std::memcpy(out, data, FileMessageHead);
    MessageHeader next(out);
    next.setRecordCount(1);
    next.setFileOffset(offset + n);
    next.setMessageType(MsgType::FileRequest);
    next.setChunkLength(0);
    next.setBodyLength(CatalogRecord::Size);
    queue(FileMessageHead);
}
