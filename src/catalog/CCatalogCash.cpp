#include "catalog/CCatalogCash.h"

#include "catalog/RecordIo.h"
#include "catalog/RecordKey.h"
#include "platform/Diag.h"

#include <cerrno>
#include <unistd.h>

namespace rio = catalog::recordio;

void CCatalogCash::setupList(const std::string& path, bool writeThrough)
{
    m_path = path;
    m_writeThrough = writeThrough;
    m_list.clear();
    m_fileBehind = false;

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
    CatalogRecord& slot = m_list[static_cast<std::size_t>(index)];
    const bool rekey = catalog::recordKey(slot) != catalog::recordKey(record);
    slot = record;
    if (rekey)
        reindex();
    if (m_writeThrough)
        writeRec(index);
}

void CCatalogCash::addRec(const CatalogRecord& record)
{
    m_list.push_back(record);
    indexAdd(count() - 1);
    if (m_writeThrough)
        appendRec(record);
}

int CCatalogCash::findRec(std::string_view originCp932, std::string_view fileNameCp932,
                          CatalogRecord* out) const
{
    const std::vector<int>& hits = indicesOf(originCp932, fileNameCp932);
    if (hits.empty())
        return -1;
    if (out)
        *out = at(hits.front());
    return hits.front();
}

const std::vector<int>& CCatalogCash::indicesOf(std::string_view originCp932,
                                                std::string_view fileNameCp932) const
{
    static const std::vector<int> none;
    const auto it = m_index.find(catalog::recordKey(originCp932, fileNameCp932));
    return it == m_index.end() ? none : it->second;
}

void CCatalogCash::assignList(std::vector<CatalogRecord> list)
{
    m_list.assign(list.begin(), list.end());
    reindex();
    if (m_writeThrough)
        wreteList();
}

void CCatalogCash::keepOnly(const std::vector<bool>& keep)
{
    std::size_t out = 0;
    for (std::size_t i = 0; i < m_list.size(); ++i)
        if (i < keep.size() && keep[i])
            m_list[out++] = m_list[i];
    m_list.resize(out);
    reindex();
    if (m_writeThrough)
        wreteList();
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

CCatalogCash::~CCatalogCash()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CCatalogCash::wreteList()
{
    if (m_path.empty())
        return;
    // The rewrite puts a new file in place; the open one is the old.
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (rio::rewrite(m_path, m_list.size(),
                     [this](std::size_t i) -> const CatalogRecord& { return m_list[i]; })) {
        m_fileBehind = false;
        return;
    }
    plat::diag("Error:CCatalogCash::wreteList()-ctlgFile.Open() %d\n", errno);
    m_fileBehind = true;
}

bool CCatalogCash::writeAt(int index)
{
    if (m_fd < 0)
        m_fd = rio::openRw(m_path);
    if (m_fd < 0) {
        m_fileBehind = true;
        return false;
    }
    const bool ok = rio::writeRecord(m_fd, at(index), static_cast<std::size_t>(index));
    if (!ok) {
        ::close(m_fd);
        m_fd = -1;
        m_fileBehind = true;
    }
    return ok;
}

void CCatalogCash::indexAdd(int index)
{
    m_index[catalog::recordKey(at(index))].push_back(index);
}

void CCatalogCash::reindex()
{
    m_index.clear();
    m_index.reserve(m_list.size());
    for (int i = 0; i < count(); ++i)
        indexAdd(i);
}
