#include "catalog/CCatalog.h"

#include "app/CPropatyHotLine.h"
#include "app/VX_EVENTCATALOG.h"
#include "exchange/NodeContext.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "wire/CatalogDates.h"

#include <chrono>
#include <memory>

using catalog::RecordKind::Deleted;
using catalog::RecordLayout::NodeNameSize;
using catalog::RecordLayout::PartyNameSize;

namespace {

// At most this many records go into one catalog batch (12 × 820 bytes, the first count past
// 9216 bytes).
constexpr std::size_t BatchRecords = 12;

// Announcements go to the node's channel; a catalog whose node has none (tools, tests) announces
// to nobody.
struct Announcements
{
    VX_EVENTCATALOG* channel;

    void notifyAdd(const CatalogRecord& record)
    {
        if (channel)
            channel->notifyAdd(record);
    }
    void notifyUpdate(const CatalogRecord& record, int index)
    {
        if (channel)
            channel->notifyUpdate(record, index);
    }
    void notifyReset()
    {
        if (channel)
            channel->notifyReset();
    }
    void notifyRefilled()
    {
        if (channel)
            channel->notifyRefilled();
    }
};

Announcements events(const NodeContext& node)
{
    return {node.catalogEvents()};
}

} // namespace

CCatalog* CCatalog::instance()
{
    return plat::LiveInstance<CCatalog>::get();
}

CCatalog::CCatalog(NodeContext& node, bool writeThrough, Clock clock)
    : m_node(node), m_settings(node.settings()),
      m_clock(clock ? std::move(clock) : Clock(&plat::localNow)),
      m_catalogFolder(plat::joinPath(m_settings.getCurrentFolder(), "CATALOG")),
      m_folders(m_catalogFolder, m_settings.getRecvFolder(), m_settings.getSendFolder()),
      m_pending(m_catalogFolder), m_router(m_settings, m_cash, m_pending, node.changes()),
      m_delivery(m_settings, m_cash, m_folders), m_self(std::make_shared<CCatalog*>(this))
{
    const auto notice = [&node](const std::string& text) { node.postDetail(text); };
    m_limit.setNotice(notice);
    m_delivery.setNotice(notice);
    plat::makePrivateFolders(m_catalogFolder);
    m_cash.setupList(plat::joinPath(m_catalogFolder, "catalog.dat"), writeThrough);
    checkAtLoad();
    // Entered only now: the node's connections reach a catalog that has loaded its list.
    m_node.setStore(this);
}

int CCatalog::storeChunk(std::uint32_t offset, std::uint32_t length, const CatalogRecord& record,
                         const std::uint8_t* bytes)
{
    const auto stored = m_delivery.storeChunk(offset, length, record, bytes);
    if (!stored)
        return 0;
    replaceEntry(stored->index, stored->entry, true);
    if (stored->discarded)
        return 0;
    if (!stored->complete)
        return 1;
    // replaceEntry stamps the entry; what goes to the peers is the entry as the list holds it.
    m_router.forwardToPeers(m_cash.at(stored->index));
    return 0;
}

CCatalog::~CCatalog()
{
    if (m_node.store() == this)
        m_node.setStore(nullptr);
    // Files of entries already purged are not left behind on disk at shutdown; the cache file is
    // written whole below, whatever a purge's rewrite had done of it.
    for (; m_doomedNext < m_doomed.size(); ++m_doomedNext) {
        const Doomed& d = m_doomed[m_doomedNext];
        if (m_cash.findRec(d.record.originNodeCp932(), d.record.fileNameCp932()) < 0)
            m_folders.deleteContent(d.record, d.own);
    }
    m_folders.forgetShortcuts();
    m_pending.closeAll();
    m_cash.wreteList();
}

void CCatalog::checkAtLoad()
{
    const std::string party = partyNameCp932();
    for (int i = 0; i < m_cash.count(); ++i) {
        CatalogRecord r = m_cash.at(i);
        bool changed = false;
        // A damaged entry becomes a deletion on this node, so the next purge removes it.
        if (catalog::checksumRejects(r)) {
            r.setKind(Deleted);
            changed = true;
        }
        if (r.partyNameCp932().empty()) {
            r.setPartyNameCp932(party);
            changed = true;
        }
        if (changed) {
            catalog::stampChecksum(r);
            m_cash.setRec(i, r);
        }
        events(m_node).notifyAdd(r);
    }
}

std::string CCatalog::nodeNameCp932() const
{
    return catalog::cp932Field(m_settings.getNodeName(), NodeNameSize).value_or(std::string());
}

std::string CCatalog::partyNameCp932() const
{
    return catalog::cp932Field(m_settings.getPartyName(), PartyNameSize).value_or(std::string());
}

plat::SystemTime CCatalog::today() const
{
    return m_clock();
}

bool CCatalog::isOwn(const CatalogRecord& record) const
{
    const std::string own = nodeNameCp932();
    return !own.empty() && record.originNodeCp932() == own;
}

void CCatalog::replaceEntry(int index, CatalogRecord record, bool announce)
{
    catalog::stampChecksum(record);
    m_cash.setRec(index, record);
    if (announce)
        announceChanged(index, record);
}

bool CCatalog::announcing() const
{
    return m_purge == PurgeStage::Compact || m_purge == PurgeStage::Announce;
}

void CCatalog::announceAdded(const CatalogRecord& record)
{
    // Appended behind the purge's walk, which announces it when it gets there.
    if (!announcing())
        events(m_node).notifyAdd(record);
}

void CCatalog::announceChanged(int index, const CatalogRecord& record)
{
    if (!announcing() || index < m_announced)
        events(m_node).notifyUpdate(record, index);
}

void CCatalog::markDeleted(int index, bool announce)
{
    CatalogRecord r = m_cash.at(index);
    r.setKind(Deleted);
    replaceEntry(index, r, announce);
}

void CCatalog::addLocal(CatalogRecord record)
{
    if (!catalog::isValidRecord(record)) {
        plat::diag("CCatalog::addLocal(): refused an invalid record\n");
        return;
    }
    record.setCompleteFlag(1);
    record.setBytesReceived(record.fileSize());
    catalog::stampChecksum(record);
    m_cash.addRec(record);
    announceAdded(record);
    for (const std::string& peer : peers())
        m_pending.append(peer, record);
    m_node.changes().raise();
}

void CCatalog::updateLocal(CatalogRecord record)
{
    if (!catalog::isValidRecord(record))
        return;
    record.setCompleteFlag(1);
    record.setBytesReceived(record.fileSize());
    const int index = m_cash.findRec(record.originNodeCp932(), record.fileNameCp932());
    if (index < 0)
        return;
    catalog::stampChecksum(record);
    m_cash.setRec(index, record);
    announceChanged(index, record);
    for (const std::string& peer : peers())
        m_pending.put(peer, record);
    m_node.changes().raise();
}

int CCatalog::indexOfRegistration(const CatalogRecord& record) const
{
    for (int index : m_cash.indicesOf(record.originNodeCp932(), record.fileNameCp932()))
        if (catalog::compareTime(m_cash.at(index).registrationTime(), record.registrationTime()) ==
            0)
            return index;
    return -1;
}

int CCatalog::deletionTarget(const CatalogRecord& record) const
{
    const int exact = indexOfRegistration(record);
    return exact >= 0 ? exact : m_cash.findRec(record.originNodeCp932(), record.fileNameCp932());
}

std::optional<CatalogRecord> CCatalog::findRegistration(const CatalogRecord& shown) const
{
    const int index = indexOfRegistration(shown);
    if (index < 0)
        return std::nullopt;
    return m_cash.at(index);
}

void CCatalog::deleteEverywhere(CatalogRecord record)
{
    const int index = deletionTarget(record);
    if (index < 0)
        return;
    const CatalogRecord registration = m_cash.at(index);
    markDeleted(index, true);
    if (!catalog::isValidRecord(record))
        return;
    catalog::stampChecksum(record);
    if (m_sealDeletion)
        m_sealDeletion(record, registration);
    for (const std::string& peer : peers())
        m_pending.append(peer, record);
    m_node.changes().raise();
}

void CCatalog::deleteHere(CatalogRecord record)
{
    const int index = deletionTarget(record);
    if (index >= 0)
        markDeleted(index, true);
}

int CCatalog::count() const
{
    return m_cash.count();
}

CatalogRecord CCatalog::getRecord(int index) const
{
    return m_cash.getRec(index);
}

bool CCatalog::hasEntry(const std::string& originNode, const std::string& fileName,
                        CatalogRecord* out) const
{
    const auto origin = catalog::cp932Field(originNode, NodeNameSize);
    const auto name = catalog::cp932Field(fileName, plat::FindLayout::FileNameSize);
    return origin && name && m_cash.findRec(*origin, *name, out) >= 0;
}

std::vector<CatalogRecord> CCatalog::completeEntriesOf(const std::string& node) const
{
    std::vector<CatalogRecord> out;
    const auto origin = catalog::cp932Field(node, NodeNameSize);
    if (!origin)
        return out;
    for (int i = 0; i < m_cash.count(); ++i) {
        const CatalogRecord& r = m_cash.at(i);
        if (r.completeFlag() == 1 && r.originNodeCp932() == *origin)
            out.push_back(r);
    }
    return out;
}

// A received record is taken only when it is valid, of this party and of another origin; what it
// says about the sender's copy (complete flag, bytes received) means nothing here.
bool CCatalog::acceptReceived(CatalogRecord& received, const char* operation)
{
    if (!catalog::isValidRecord(received)) {
        plat::diag("CCatalog::%s(): refused an invalid record\n", operation);
        return false;
    }
    // Honest routing never brings a node its own records back; one that claims this node as
    // its origin could withdraw the user's own file (and the purge delete it from SEND).
    if (isOwn(received)) {
        plat::diag("CCatalog::%s(): refused a record naming this node as its origin\n", operation);
        return false;
    }
    received.setCompleteFlag(0);
    received.setBytesReceived(0);
    return received.partyNameCp932() == partyNameCp932();
}

void CCatalog::mergeRecord(CatalogRecord received)
{
    if (!acceptReceived(received, "mergeRecord"))
        return;
    const int index = m_cash.findRec(received.originNodeCp932(), received.fileNameCp932());
    if (index < 0) {
        if (catalog::compareDate(received.expiry(), today()) < 0 || !m_limit.roomFor(count()))
            return;
        catalog::stampChecksum(received);
        m_cash.addRec(received);
        announceAdded(received);
        return;
    }
    if (catalog::compareTime(received.registrationTime(), m_cash.at(index).registrationTime()) > 0)
        replaceEntry(index, received, true);
}

void CCatalog::mergeDeletion(CatalogRecord received)
{
    if (!acceptReceived(received, "mergeDeletion"))
        return;
    const int index = m_cash.findRec(received.originNodeCp932(), received.fileNameCp932());
    // A deletion made before the entry's registration withdrew an older one: the file was
    // registered again since, and stays.
    if (index >= 0 &&
        catalog::compareTime(received.registrationTime(), m_cash.at(index).registrationTime()) >= 0)
        markDeleted(index, false);
    forwardToPeers(received);
}

std::vector<CatalogRecord> CCatalog::takePending(const std::string& peer)
{
    return m_pending.take(peer, BatchRecords);
}

void CCatalog::restorePending(const std::string& peer, const std::vector<CatalogRecord>& records)
{
    if (!m_pending.restore(peer, records))
        plat::diag("CCatalog: records for %s could not be queued again\n", peer.c_str());
}

void CCatalog::renamePendingFile(const std::string& oldName, const std::string& newName)
{
    m_pending.rename(oldName, newName);
}

void CCatalog::maintainHourly()
{
    const plat::SystemTime now = today();
    for (int i = 0; i < m_cash.count(); ++i) {
        CatalogRecord r = m_cash.at(i);
        if (catalog::compareDate(r.expiry(), now) < 0)
            r.setKind(Deleted);
        const bool valid = catalog::isValidRecord(r);
        if (!valid)
            r.setKind(Deleted);
        catalog::stampChecksum(r);
        // An entry already marked and stamped is left alone rather than rewritten every hour.
        if (!(r == m_cash.at(i)))
            m_cash.setRec(i, r);
        if (!valid)
            m_folders.writeErrorRecord(r);
    }
}

void CCatalog::purge()
{
    if (m_purge != PurgeStage::Idle)
        return;
    bool any = false;
    for (int i = 0; i < m_cash.count() && !any; ++i) {
        const std::uint32_t kind = m_cash.at(i).kind();
        any = kind != catalog::RecordKind::New && kind != catalog::RecordKind::Changed;
    }
    if (!any)
        return;
    m_purgeOwn = nodeNameCp932();
    m_badKind.reset();
    m_cash.beginCompaction();
    events(m_node).notifyReset();
    m_announced = 0;
    m_purge = PurgeStage::Compact;
    // The first slice at once: a small purge is over when this returns.
    purgeSlice();
}

bool CCatalog::keepInPurge(const CatalogRecord& r)
{
    switch (r.kind()) {
    case catalog::RecordKind::New:
    case catalog::RecordKind::Changed:
        return true;
    case Deleted:
        m_doomed.push_back({r, !m_purgeOwn.empty() && r.originNodeCp932() == m_purgeOwn});
        return false;
    default:
        // Dropped at once, not only when a deletion happens to be purged too: otherwise it
        // would be written to the error-record file again every five seconds.
        m_badKind = r;
        return false;
    }
}

void CCatalog::postPurgeSlice()
{
    std::weak_ptr<CCatalog*> self = m_self;
    plat::post([self] {
        if (auto alive = self.lock())
            (*alive)->purgeSlice();
    });
}

// One slice: as much of the remaining stages as fits into kPurgeSliceMs (or the test's entry
// limit); the next slice is posted while anything is left.
void CCatalog::purgeSlice()
{
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(kPurgeSliceMs);
    std::size_t asked = 0;
    const auto goOn = [&] {
        ++asked;
        if (m_sliceLimit > 0 && asked > m_sliceLimit)
            return false;
        return Clock::now() < until;
    };
    if (m_purge == PurgeStage::Compact) {
        const bool done =
            m_cash.compactStep([this](const CatalogRecord& r) { return keepInPurge(r); }, goOn);
        announceSome(m_cash.compactedCount(), goOn);
        if (done) {
            // The error-record file keeps the last one only: written once, not once per entry.
            if (m_badKind)
                m_folders.writeErrorRecord(*m_badKind);
            m_badKind.reset();
            m_purge = PurgeStage::Announce;
        }
    }
    if (m_purge == PurgeStage::Announce && announceSome(m_cash.count(), goOn)) {
        events(m_node).notifyRefilled();
        m_purge = PurgeStage::Rewrite;
    }
    if (m_purge == PurgeStage::Rewrite && m_cash.rewriteStep(goOn))
        m_purge = PurgeStage::Files;
    if (m_purge == PurgeStage::Files && deleteSomeFiles(goOn))
        finishPurge();
    if (m_purge != PurgeStage::Idle)
        postPurgeSlice();
}

// Announces entries up to index upTo (the list's end as it is now, or the part compacted).
bool CCatalog::announceSome(int upTo, const std::function<bool()>& goOn)
{
    while (m_announced < upTo) {
        if (!goOn())
            return false;
        // A copy: a listener may change the list from inside its call.
        const CatalogRecord r = m_cash.at(m_announced++);
        events(m_node).notifyAdd(r);
    }
    return true;
}

bool CCatalog::deleteSomeFiles(const std::function<bool()>& goOn)
{
    while (m_doomedNext < m_doomed.size()) {
        if (!goOn())
            return false;
        const Doomed& d = m_doomed[m_doomedNext++];
        // A file deleted a few turns after its entry went may meanwhile belong to a new entry
        // of the same origin and name (merged or registered again); that one keeps it.
        if (m_cash.findRec(d.record.originNodeCp932(), d.record.fileNameCp932()) < 0)
            m_folders.deleteContent(d.record, d.own);
    }
    return true;
}

void CCatalog::finishPurge()
{
    m_doomed.clear();
    m_doomedNext = 0;
    m_folders.forgetShortcuts();
    m_purge = PurgeStage::Idle;
}

void CCatalog::announceAll()
{
    for (int i = 0; i < m_cash.count(); ++i) {
        const CatalogRecord r = m_cash.at(i);
        events(m_node).notifyAdd(r);
    }
}
