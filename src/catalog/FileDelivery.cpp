#include "catalog/FileDelivery.h"

#include "app/CPropatyHotLine.h"
#include "catalog/CCatalogCash.h"
#include "catalog/CatalogFolders.h"
#include "catalog/ReceivedContent.h"
#include "catalog/ServedContent.h"
#include "platform/Files.h"

#include <algorithm>

using catalog::RecordLayout::NodeNameSize;

FileDelivery::FileDelivery(CPropatyHotLine& settings, const CCatalogCash& list,
                           CatalogFolders& folders)
    : m_settings(settings), m_list(list), m_folders(folders), m_floor(settings.getRecvFolder())
{
}

FileDelivery::~FileDelivery() = default;

void FileDelivery::setContentCheck(ServedContent* served)
{
    m_served = served;
    m_received.reset();
    if (served)
        m_received = std::make_unique<ReceivedContent>(
            *served, [this](const CatalogRecord& entry, std::uint32_t offset, std::size_t size,
                            std::uint8_t* out) {
                return m_folders.readContent(entry, false, offset, size, out);
            });
}

std::string FileDelivery::ownNameCp932() const
{
    return catalog::cp932Field(m_settings.getNodeName(), NodeNameSize).value_or(std::string());
}

bool FileDelivery::isOwn(const CatalogRecord& record) const
{
    const std::string own = ownNameCp932();
    return !own.empty() && record.originNodeCp932() == own;
}

bool FileDelivery::wantsFetch(const CatalogRecord& record, const std::string& own) const
{
    // An invalid record has no received-file path, so fetching it could never complete.
    return record.completeFlag() == 0 && record.originNodeCp932() != own &&
           catalog::isValidRecord(record);
}

bool FileDelivery::roomToFetch(const CatalogRecord& record)
{
    const std::uint32_t size = record.fileSize();
    const std::uint32_t have = std::min(record.bytesReceived(), size);
    return m_floor.roomFor(size - have);
}

std::optional<CatalogRecord> FileDelivery::firstToFetch() const
{
    const std::string own = ownNameCp932();
    for (int i = 0; i < m_list.count(); ++i)
        if (wantsFetch(m_list.at(i), own))
            return m_list.at(i);
    return std::nullopt;
}

std::optional<CatalogRecord> FileDelivery::nextToFetch(const CatalogRecord& record) const
{
    const int index = m_list.findRec(record.originNodeCp932(), record.fileNameCp932());
    if (index < 0)
        return std::nullopt;
    const std::string own = ownNameCp932();
    for (int i = index + 1; i < m_list.count(); ++i)
        if (wantsFetch(m_list.at(i), own))
            return m_list.at(i);
    return std::nullopt;
}

int FileDelivery::findExact(const CatalogRecord& record) const
{
    for (int index : m_list.indicesOf(record.originNodeCp932(), record.fileNameCp932()))
        if (catalog::sameVersion(m_list.at(index), record))
            return index;
    return -1;
}

std::optional<CatalogRecord> FileDelivery::exactEntry(const CatalogRecord& record) const
{
    const int index = findExact(record);
    if (index < 0)
        return std::nullopt;
    return m_list.at(index);
}

std::optional<FileDelivery::Stored> FileDelivery::storeChunk(std::uint32_t offset,
                                                             std::uint32_t length,
                                                             const CatalogRecord& record,
                                                             const std::uint8_t* bytes)
{
    const int index = findExact(record);
    if (index < 0)
        return std::nullopt;
    CatalogRecord entry = m_list.at(index);
    const std::uint32_t size = entry.fileSize();
    // Only the very next piece is taken: an earlier offset was delivered by another connection
    // already, and a later one would leave a hole that bytes received would count as present.
    if (entry.completeFlag() == 1 || isOwn(entry) || offset != entry.bytesReceived() ||
        offset > size)
        return std::nullopt;
    if (length == 0 && size != 0)
        return std::nullopt;
    // The free space is looked at when a file starts and then once per MiB written: another
    // writer may fill the disk meanwhile, but seeing that needs no statfs per chunk.
    const bool look = offset == 0 || (offset >> 20) != ((std::uint64_t(offset) + length) >> 20);
    if (look && !m_floor.roomFor(size - offset))
        return std::nullopt;
    // A peer that sends more than the file holds does not grow the file past its size.
    const std::uint32_t n = std::min(length, size - offset);
    if (!m_folders.writeReceived(entry, offset, bytes, n))
        return std::nullopt;

    if (m_received &&
        m_received->stored(entry, offset, bytes, n, m_folders.contentPath(entry, false)) ==
            ReceivedContent::Verdict::Differs) {
        discard(entry);
        return Stored{index, entry, false, true};
    }
    entry.setBytesReceived(offset + n);
    const bool done = offset + n >= size;
    if (done)
        entry.setCompleteFlag(1);
    return Stored{index, entry, done};
}

std::size_t FileDelivery::readChunk(const CatalogRecord& record, std::uint32_t offset,
                                    std::size_t size, std::uint8_t* out)
{
    const int index = findExact(record);
    if (index < 0 || m_list.at(index).completeFlag() != 1)
        return 0;
    const CatalogRecord entry = m_list.at(index);
    if (m_served && !m_served->servable(entry, m_folders.contentPath(entry, isOwn(entry))))
        return 0;
    return m_folders.readContent(entry, isOwn(entry), offset, size, out);
}

// A received file that is not what its origin registered: gone, and fetched again from nothing.
void FileDelivery::discard(CatalogRecord& entry)
{
    plat::removeFile(m_folders.contentPath(entry, false));
    entry.setBytesReceived(0);
    entry.setCompleteFlag(0);
}

std::string FileDelivery::contentPath(const CatalogRecord& record)
{
    return m_folders.contentPath(record, isOwn(record));
}
