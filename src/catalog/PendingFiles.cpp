#include "catalog/PendingFiles.h"

#include "catalog/RecordIo.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "wire/RecordKey.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace rio = catalog::recordio;

namespace {

// More indexes than configured peers only come from peers that announced other names; beyond
// this many the cache starts afresh rather than holding descriptors without bound.
constexpr std::size_t MaxOpenPeers = 16;

} // namespace

struct PendingFiles::Peer
{
    std::string path;
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    // Size the file has after this index's last write; anything else means another writer.
    off_t size = 0;
    std::size_t count = 0;
    // No record before this position is pending.
    std::size_t firstPending = 0;
    std::unordered_map<std::string, std::size_t> firstPos;

    ~Peer()
    {
        if (fd >= 0)
            ::close(fd);
    }

    bool matchesDisk() const
    {
        struct stat sb
        {
        };
        return ::stat(path.c_str(), &sb) == 0 && sb.st_dev == dev && sb.st_ino == ino &&
               sb.st_size == size;
    }

    bool write(const CatalogRecord& r, std::size_t position)
    {
        if (!rio::writeRecord(fd, r, position))
            return false;
        size = std::max<off_t>(size, static_cast<off_t>((position + 1) * CatalogRecord::Size));
        return true;
    }
};

PendingFiles::PendingFiles(std::string catalogFolder)
    : m_folder(std::move(catalogFolder)), m_started(Clock::now())
{
}

std::size_t PendingFiles::capThreshold(const std::string& peer) const
{
    const auto it = m_capAt.find(peer);
    return it != m_capAt.end() ? it->second : kMaxRecords;
}

bool PendingFiles::absentLong(const std::string& peer) const
{
    const auto it = m_lastTaken.find(peer);
    const Clock::time_point since = it != m_lastTaken.end() ? it->second : m_started;
    return now() - since > kAbsence;
}

PendingFiles::~PendingFiles() = default;

std::string PendingFiles::pathOf(const std::string& peer) const
{
    // A peer named "catalog" would share its file with the catalog cache.
    if (!plat::isSafeComponent(peer) || peer == "catalog")
        return {};
    return plat::joinPath(m_folder, peer + ".dat");
}

PendingFiles::Peer* PendingFiles::open(const std::string& peer)
{
    const std::string path = pathOf(peer);
    if (path.empty()) {
        plat::diag("PendingFiles: no pending file for node name \"%s\"\n", peer.c_str());
        return nullptr;
    }
    if (auto it = m_peers.find(peer); it != m_peers.end()) {
        if (it->second->matchesDisk())
            return it->second.get();
        m_peers.erase(it);
    }
    if (m_peers.size() >= MaxOpenPeers)
        closeAll();

    auto p = std::make_unique<Peer>();
    p->path = path;
    p->fd = rio::openRw(path);
    struct stat sb
    {
    };
    if (p->fd < 0 || ::fstat(p->fd, &sb) != 0 || !S_ISREG(sb.st_mode))
        return nullptr;
    p->dev = sb.st_dev;
    p->ino = sb.st_ino;
    bool seenPending = false;
    const off_t size = rio::forEachRecord(p->fd, [&](const CatalogRecord& r, std::size_t pos) {
        p->firstPos.emplace(catalog::recordKey(r), pos);
        if (!seenPending && r.pendingFlag() == 1) {
            seenPending = true;
            p->firstPending = pos;
        }
    });
    if (size < 0)
        return nullptr;
    p->size = size;
    p->count = static_cast<std::size_t>(size) / CatalogRecord::Size;
    if (!seenPending)
        p->firstPending = p->count;
    return (m_peers[peer] = std::move(p)).get();
}

void PendingFiles::drop(const std::string& peer)
{
    m_peers.erase(peer);
}

void PendingFiles::closeAll()
{
    m_peers.clear();
}

bool PendingFiles::append(const std::string& peer, const CatalogRecord& record)
{
    Peer* p = open(peer);
    if (!p)
        return false;
    // At the next whole-record offset: a torn tail left by a failed append is overwritten
    // instead of shifting this record and every later one.
    if (!p->write(record, p->count)) {
        drop(peer);
        return false;
    }
    p->firstPos.emplace(catalog::recordKey(record), p->count);
    ++p->count;
    if (p->count > capThreshold(peer))
        capFile(peer);
    return true;
}

void PendingFiles::capFile(const std::string& peer)
{
    Peer* p = open(peer);
    if (!p || p->count <= capThreshold(peer))
        return;
    std::vector<CatalogRecord> pending;
    const off_t size = rio::forEachRecord(p->fd, [&](const CatalogRecord& r, std::size_t) {
        if (r.pendingFlag() == 1)
            pending.push_back(r);
    });
    if (size < 0)
        return;
    const std::size_t sent = p->count - pending.size();
    const bool mayDrop = absentLong(peer);
    const std::size_t dropped =
        mayDrop && pending.size() > kKeepRecords ? pending.size() - kKeepRecords : 0;
    // A file still above the cap is looked at again only after it has grown by a quarter more.
    m_capAt[peer] = std::max(kMaxRecords, pending.size() - dropped + kMaxRecords / 4);
    // Nothing to gain: every record is still owed to a peer that is not long gone.
    if (sent == 0 && dropped == 0)
        return;
    const std::string path = p->path;
    drop(peer);
    if (!rio::rewrite(path, pending.size() - dropped,
                      [&](std::size_t i) -> const CatalogRecord& { return pending[dropped + i]; }))
        return;
    plat::diag("PendingFiles: pending file of %s over %zu records: %zu sent and %zu oldest pending "
               "records dropped\n",
               peer.c_str(), kMaxRecords, sent, dropped);
}

bool PendingFiles::put(const std::string& peer, const CatalogRecord& record)
{
    Peer* p = open(peer);
    if (!p)
        return false;
    const auto it = p->firstPos.find(catalog::recordKey(record));
    if (it == p->firstPos.end())
        return append(peer, record);
    if (!p->write(record, it->second)) {
        drop(peer);
        return false;
    }
    if (record.pendingFlag() == 1)
        p->firstPending = std::min(p->firstPending, it->second);
    return true;
}

bool PendingFiles::putAll(const std::string& peer, const std::vector<CatalogRecord>& records)
{
    Peer* p = open(peer);
    if (!p)
        return false;
    std::vector<std::uint8_t> appended;
    const std::size_t firstNew = p->count;
    for (const CatalogRecord& r : records) {
        const auto [it, added] = p->firstPos.emplace(catalog::recordKey(r), p->count);
        if (added) {
            appended.insert(appended.end(), r.bytes.begin(), r.bytes.end());
            ++p->count;
            continue;
        }
        if (it->second >= firstNew) {
            // Queued twice within this batch: the later copy wins, as separate puts would have it.
            std::copy(r.bytes.begin(), r.bytes.end(),
                      appended.begin() +
                          std::ptrdiff_t((it->second - firstNew) * CatalogRecord::Size));
            continue;
        }
        if (!p->write(r, it->second)) {
            drop(peer);
            return false;
        }
        if (r.pendingFlag() == 1)
            p->firstPending = std::min(p->firstPending, it->second);
    }
    if (appended.empty())
        return true;
    const off_t at = static_cast<off_t>(firstNew * CatalogRecord::Size);
    if (!rio::writeAt(p->fd, appended.data(), appended.size(), at)) {
        drop(peer);
        return false;
    }
    p->size = std::max<off_t>(p->size, at + static_cast<off_t>(appended.size()));
    if (p->count > capThreshold(peer))
        capFile(peer);
    return true;
}

std::vector<CatalogRecord> PendingFiles::take(const std::string& peer, std::size_t max)
{
    m_lastTaken[peer] = now();
    std::vector<CatalogRecord> out;
    Peer* p = open(peer);
    if (!p)
        return out;
    std::size_t pos = p->firstPending;
    if (!takeFrom(*p, pos, max, out)) {
        drop(peer);
        return out;
    }
    p->firstPending = pos;
    if (out.empty()) {
        const std::string path = p->path;
        drop(peer);
        plat::removeFile(path);
    }
    return out;
}

// Reads the file block by block from pos; each pending record is copied out, marked sent and
// stamped in the block, and the changed stretch of the block goes back in one write.
bool PendingFiles::takeFrom(Peer& p, std::size_t& pos, std::size_t max,
                            std::vector<CatalogRecord>& out)
{
    constexpr std::size_t BlockRecords = 32;
    std::vector<std::uint8_t> block(BlockRecords * CatalogRecord::Size);
    while (pos < p.count && out.size() < max) {
        const std::size_t want = std::min(BlockRecords, p.count - pos);
        const off_t at = static_cast<off_t>(pos * CatalogRecord::Size);
        if (rio::readAt(p.fd, block.data(), want * CatalogRecord::Size, at) !=
            static_cast<ssize_t>(want * CatalogRecord::Size))
            return false;
        std::size_t changedEnd = 0, i = 0;
        for (; i < want && out.size() < max; ++i) {
            std::uint8_t* bytes = block.data() + i * CatalogRecord::Size;
            CatalogRecord r;
            std::copy_n(bytes, CatalogRecord::Size, r.bytes.begin());
            if (r.pendingFlag() != 1)
                continue;
            out.push_back(r);
            r.setPendingFlag(0);
            catalog::stampChecksum(r);
            std::copy(r.bytes.begin(), r.bytes.end(), bytes);
            changedEnd = i + 1;
        }
        if (changedEnd > 0 &&
            !rio::writeAt(p.fd, block.data(), changedEnd * CatalogRecord::Size, at))
            return false;
        pos += i;
    }
    return true;
}

bool PendingFiles::restore(const std::string& peer, const std::vector<CatalogRecord>& records)
{
    for (CatalogRecord r : records) {
        r.setPendingFlag(1);
        catalog::stampChecksum(r);
        Peer* p = open(peer);
        if (!p)
            return false;
        const auto it = p->firstPos.find(catalog::recordKey(r));
        if (it == p->firstPos.end()) {
            if (!append(peer, r))
                return false;
            continue;
        }
        CatalogRecord there;
        if (!rio::readRecord(p->fd, there, it->second)) {
            drop(peer);
            return false;
        }
        if (there.pendingFlag() == 1)
            continue;
        there.setPendingFlag(1);
        catalog::stampChecksum(there);
        if (!(there == r))
            continue;
        if (!p->write(r, it->second)) {
            drop(peer);
            return false;
        }
        p->firstPending = std::min(p->firstPending, it->second);
    }
    return true;
}

bool PendingFiles::rename(const std::string& oldName, const std::string& newName)
{
    const std::string from = pathOf(oldName);
    const std::string to = pathOf(newName);
    if (from.empty() || to.empty() || from == to || !plat::fileExists(from))
        return false;
    drop(oldName);
    drop(newName);
    // rename() would silently replace the other file and lose what was still pending in it.
    if (::link(from.c_str(), to.c_str()) == 0) {
        plat::removeFile(from);
        return true;
    }
    const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::vector<CatalogRecord> pending;
    const off_t size = rio::forEachRecord(fd, [&](const CatalogRecord& r, std::size_t) {
        if (r.pendingFlag() == 1)
            pending.push_back(r);
    });
    ::close(fd);
    if (size < 0)
        return false;
    for (const CatalogRecord& r : pending)
        if (!put(newName, r))
            return false;
    plat::removeFile(from);
    return true;
}
