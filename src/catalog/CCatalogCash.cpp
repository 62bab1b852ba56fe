#include "catalog/CCatalogCash.h"

#include "catalog/RecordIo.h"
#include "platform/AtomicFile.h"
#include "platform/Diag.h"
#include "wire/RecordKey.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace rio = catalog::recordio;

namespace {
// The rewrite in steps writes this many records at a time, and has the disk take them in pieces
// of this many bytes.
constexpr std::size_t kRewriteBlock = 80;
constexpr std::size_t kFlushPiece = std::size_t(4) << 20;
} // namespace

CCatalogCash::CCatalogCash() = default;

CCatalogCash::~CCatalogCash()
{
    closeFile();
    if (m_oldFile >= 0)
        ::close(m_oldFile);
}

void CCatalogCash::setupList(const std::string& path, bool writeThrough)
{
    m_path = path;
    m_writeThrough = writeThrough;
    m_list.clear();
    m_fileBehind = false;
    m_compacting = false;
    m_gapBegin = m_gapEnd = 0;
    dropRewrite();
    m_mapped = false;
    m_filePos.clear();

    const int fd = rio::openRw(path);
    if (fd < 0) {
        plat::diag("Error:CCatalogCash::setupList()-ctlgFile.Open() %d\n", errno);
        reindex();
        return;
    }
    const off_t size = rio::forEachRecord(
        fd, [this](const CatalogRecord& r, std::size_t) { m_list.push_back(r); });
    ::close(fd);
    // A torn tail (or a read that stopped early) means the file does not hold exactly the list:
    // the next write replaces it whole instead of writing records beside a broken piece.
    if (size < 0 || static_cast<std::size_t>(size) != m_list.size() * CatalogRecord::Size)
        m_fileBehind = true;
    reindex();
}

CatalogRecord CCatalogCash::getRec(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return at(index);
}

void CCatalogCash::setRec(int index, const CatalogRecord& record)
{
    if (index < 0 || index >= count())
        return;
    const std::size_t s = slot(index);
    CatalogRecord& entry = m_list[s];
    const std::string oldKey = catalog::recordKey(entry);
    const std::string newKey = catalog::recordKey(record);
    entry = record;
    if (oldKey != newKey) {
        indexMove(oldKey, s, m_list.size());
        indexAdd(s);
    }
    if (m_writeThrough)
        writeRec(index);
}

void CCatalogCash::addRec(const CatalogRecord& record)
{
    if (m_mapped)
        m_filePos.push_back(static_cast<std::uint32_t>(m_fileRecords++));
    m_list.push_back(record);
    indexAdd(m_list.size() - 1);
    if (m_writeThrough)
        appendRec(record);
}

int CCatalogCash::findRec(std::string_view originCp932, std::string_view fileNameCp932,
                          CatalogRecord* out) const
{
    const auto it = m_index.find(catalog::recordKey(originCp932, fileNameCp932));
    if (it == m_index.end() || it->second.empty())
        return -1;
    const int index = indexOfSlot(it->second.front());
    if (out)
        *out = at(index);
    return index;
}

std::vector<int> CCatalogCash::indicesOf(std::string_view originCp932,
                                         std::string_view fileNameCp932) const
{
    std::vector<int> out;
    const auto it = m_index.find(catalog::recordKey(originCp932, fileNameCp932));
    if (it != m_index.end())
        for (std::size_t s : it->second)
            out.push_back(indexOfSlot(s));
    return out;
}

void CCatalogCash::assignList(std::vector<CatalogRecord> list)
{
    m_compacting = false;
    m_gapBegin = m_gapEnd = 0;
    dropRewrite();
    m_mapped = false;
    m_filePos.clear();
    m_list.assign(list.begin(), list.end());
    reindex();
    if (m_writeThrough)
        wreteList();
}

void CCatalogCash::beginCompaction()
{
    if (m_compacting)
        return;
    m_compacting = true;
    m_gapBegin = m_gapEnd = 0;
    // A rewrite under way holds the list as it was; it starts again once this one is done.
    dropRewrite();
    if (m_writeThrough && !m_mapped) {
        m_mapped = true;
        m_fileRecords = m_list.size();
        m_filePos.resize(m_list.size());
        for (std::size_t s = 0; s < m_filePos.size(); ++s)
            m_filePos[s] = static_cast<std::uint32_t>(s);
    }
}

bool CCatalogCash::compactStep(const std::function<bool(const CatalogRecord&)>& keep,
                               const std::function<bool()>& goOn)
{
    if (!m_compacting)
        return true;
    while (m_gapEnd < m_list.size()) {
        if (!goOn())
            return false;
        const std::size_t s = m_gapEnd++;
        if (!keep(m_list[s])) {
            indexMove(catalog::recordKey(m_list[s]), s, m_list.size());
            continue;
        }
        const std::size_t to = m_gapBegin++;
        if (to == s)
            continue;
        m_list[to] = m_list[s];
        if (m_mapped)
            m_filePos[to] = m_filePos[s];
        indexMove(catalog::recordKey(m_list[to]), s, to);
    }
    m_list.resize(m_gapBegin);
    if (m_mapped)
        m_filePos.resize(m_gapBegin);
    m_gapBegin = m_gapEnd = 0;
    m_compacting = false;
    return true;
}

bool CCatalogCash::rewriteStep(const std::function<bool()>& goOn)
{
    if (m_compacting)
        return false;
    if (m_writeThrough && (m_mapped || m_fileBehind) && !writeReplacement(goOn))
        return false;
    return releaseOldFile(goOn);
}

bool CCatalogCash::writeReplacement(const std::function<bool()>& goOn)
{
    if (!m_rewrite) {
        m_rewrite = std::make_unique<plat::AtomicFile>(m_path);
        m_rewritten = m_flushed = 0;
        if (!m_rewrite->open(0600)) {
            plat::diag("Error:CCatalogCash::rewriteStep()-open %d\n", m_rewrite->error());
            fileFailed();
            return true;
        }
    }
    std::vector<std::uint8_t> block;
    bool worked = false;
    while (m_rewritten < m_list.size()) {
        if (!goOn())
            return false;
        worked = true;
        const std::size_t n = std::min(kRewriteBlock, m_list.size() - m_rewritten);
        block.resize(n * CatalogRecord::Size);
        for (std::size_t k = 0; k < n; ++k)
            std::copy(m_list[m_rewritten + k].bytes.begin(), m_list[m_rewritten + k].bytes.end(),
                      block.begin() + static_cast<std::ptrdiff_t>(k * CatalogRecord::Size));
        m_rewrite->write(block.data(), block.size());
        m_rewrite->writeBack(static_cast<off_t>(m_rewritten * CatalogRecord::Size), block.size(),
                             false);
        m_rewritten += n;
    }
    // The bytes go to the disk a piece per step, so that the commit's sync has little left.
    const std::size_t bytes = m_list.size() * CatalogRecord::Size;
    while (m_flushed < bytes) {
        if (!goOn())
            return false;
        worked = true;
        const std::size_t piece = std::min(kFlushPiece, bytes - m_flushed);
        m_rewrite->writeBack(static_cast<off_t>(m_flushed), piece, true);
        m_flushed += piece;
    }
    // The commit waits for the disk: it starts a step of its own rather than end a full one.
    if (worked || !m_commitNext) {
        m_commitNext = true;
        return false;
    }
    if (!goOn())
        return false;
    // The old file stays open through the rename, so that the rename does not free all of its
    // blocks at once: releaseOldFile does, a piece per step.
    if (m_fd < 0)
        m_fd = rio::openRw(m_path);
    if (!m_rewrite->commit()) {
        plat::diag("Error:CCatalogCash::rewriteStep()-commit %d\n", m_rewrite->error());
        fileFailed();
        return true;
    }
    m_oldFile = m_fd;
    m_fd = -1;
    dropRewrite();
    m_mapped = false;
    m_filePos.clear();
    m_fileBehind = false;
    return true;
}

bool CCatalogCash::releaseOldFile(const std::function<bool()>& goOn)
{
    while (m_oldFile >= 0) {
        if (!goOn())
            return false;
        struct stat st = {};
        if (::fstat(m_oldFile, &st) != 0 || st.st_size <= 0) {
            ::close(m_oldFile);
            m_oldFile = -1;
            break;
        }
        const off_t piece = static_cast<off_t>(kFlushPiece);
        if (::ftruncate(m_oldFile, st.st_size > piece ? st.st_size - piece : 0) != 0) {
            ::close(m_oldFile);
            m_oldFile = -1;
        }
    }
    return true;
}

void CCatalogCash::writeRec(int index)
{
    if (index < 0 || index >= count())
        return;
    if (m_fileBehind) {
        wreteList();
        return;
    }
    if (!writeAt(index))
        plat::diag("Error::CCatalogCash::writeRec()");
}

void CCatalogCash::appendRec(const CatalogRecord& record)
{
    // The record is the list's last entry: written at its own offset rather than at the file's
    // end, so the file's records always stay at index × 820.
    if (m_list.empty() || !(m_list.back() == record)) {
        plat::diag("Error::CCatalogCash::writeRec()");
        return;
    }
    writeRec(count() - 1);
}

void CCatalogCash::wreteList()
{
    if (m_path.empty())
        return;
    dropRewrite();
    // The rewrite puts a new file in place; the open one is the old.
    closeFile();
    if (!rio::rewrite(
            m_path, static_cast<std::size_t>(count()),
            [this](std::size_t i) -> const CatalogRecord& { return at(static_cast<int>(i)); })) {
        plat::diag("Error:CCatalogCash::wreteList()-ctlgFile.Open() %d\n", errno);
        m_fileBehind = true;
        return;
    }
    m_fileBehind = false;
    if (!m_compacting) {
        m_mapped = false;
        m_filePos.clear();
        return;
    }
    // Mid-compaction the entries still move: each keeps its new place in the file.
    m_mapped = true;
    m_filePos.resize(m_list.size());
    m_fileRecords = static_cast<std::size_t>(count());
    for (std::size_t s = 0; s < m_list.size(); ++s)
        if (s < m_gapBegin || s >= m_gapEnd)
            m_filePos[s] = static_cast<std::uint32_t>(indexOfSlot(s));
}

std::size_t CCatalogCash::filePosition(int index) const
{
    return m_mapped ? m_filePos[slot(index)] : static_cast<std::size_t>(index);
}

bool CCatalogCash::writeAt(int index)
{
    if (m_fd < 0)
        m_fd = rio::openRw(m_path);
    if (m_fd < 0) {
        fileFailed();
        return false;
    }
    if (!rio::writeRecord(m_fd, at(index), filePosition(index))) {
        fileFailed();
        return false;
    }
    // A part of the replacement already written gets the change too.
    if (m_rewrite && static_cast<std::size_t>(index) < m_rewritten)
        m_rewrite->overwrite(
            at(index).bytes.data(), CatalogRecord::Size,
            static_cast<off_t>(static_cast<std::size_t>(index) * CatalogRecord::Size));
    return true;
}

void CCatalogCash::fileFailed()
{
    closeFile();
    dropRewrite();
    m_fileBehind = true;
}

void CCatalogCash::dropRewrite()
{
    m_rewrite.reset();
    m_rewritten = m_flushed = 0;
    m_commitNext = false;
}

void CCatalogCash::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CCatalogCash::indexAdd(std::size_t s)
{
    std::vector<std::size_t>& hits = m_index[catalog::recordKey(m_list[s])];
    hits.insert(std::lower_bound(hits.begin(), hits.end(), s), s);
}

// Moves slot from to slot to in the key's list, or drops it when to is past the list's end.
// Slots grow with the list's order, and nothing lies between the two, so the order holds.
void CCatalogCash::indexMove(const std::string& key, std::size_t from, std::size_t to)
{
    const auto it = m_index.find(key);
    if (it == m_index.end())
        return;
    std::vector<std::size_t>& hits = it->second;
    const auto at = std::find(hits.begin(), hits.end(), from);
    if (at == hits.end())
        return;
    if (to < m_list.size()) {
        *at = to;
        return;
    }
    hits.erase(at);
    if (hits.empty())
        m_index.erase(it);
}

void CCatalogCash::reindex()
{
    m_index.clear();
    m_index.reserve(m_list.size());
    for (std::size_t s = 0; s < m_list.size(); ++s)
        if (s < m_gapBegin || s >= m_gapEnd)
            indexAdd(s);
}
