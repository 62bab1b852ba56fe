#include "catalog/CatalogFolders.h"

#include "catalog/RecordIo.h"
#include "platform/Cp932.h"
#include "platform/Files.h"
#include "platform/LocalTime.h"
#include "platform/Shortcut.h"

#include <fcntl.h>
#include <unistd.h>

namespace rio = catalog::recordio;

namespace {

std::string utf8Of(std::string_view cp932)
{
    return plat::fromCp932(cp932).value_or(std::string());
}

} // namespace

CatalogFolders::CatalogFolders(std::string catalogFolder, std::string recvFolder,
                               std::string sendFolder)
    : m_recvFolder(std::move(recvFolder)), m_sendFolder(std::move(sendFolder)),
      m_errorFile(plat::joinPath(catalogFolder, "catalogErroRec.err"))
{
}

std::string CatalogFolders::receivedPath(const CatalogRecord& record) const
{
    if (!catalog::isValidRecord(record))
        return {};
    return plat::joinPath(plat::joinPath(m_recvFolder, utf8Of(record.originNodeCp932())),
                          utf8Of(record.fileNameCp932()));
}

std::string CatalogFolders::contentPath(const CatalogRecord& record, bool own)
{
    if (!catalog::isValidRecord(record))
        return {};
    if (!own)
        return receivedPath(record);
    if (record.linkFlag() != 1)
        return plat::joinPath(m_sendFolder, utf8Of(record.fileNameCp932()));

    const std::string name(record.fileNameCp932());
    if (const auto it = m_shortcuts.find(name); it != m_shortcuts.end())
        return it->second;
    std::string target;
    if (findShortcut(record, &target).empty())
        return {};
    m_shortcuts.emplace(name, target);
    return target;
}

std::string CatalogFolders::findShortcut(const CatalogRecord& record, std::string* target) const
{
    for (const plat::FolderEntry& e : plat::listFolder(m_sendFolder)) {
        if (!plat::isShortcutName(e.name))
            continue;
        const std::string link = plat::joinPath(m_sendFolder, e.name);
        std::string resolved;
        plat::FindRecord described;
        if (plat::resolveShortcut(link, resolved, described) &&
            described.nameCp932() == record.fileNameCp932()) {
            *target = resolved;
            return link;
        }
    }
    return {};
}

void CatalogFolders::deleteContent(const CatalogRecord& record, bool own)
{
    if (!catalog::isValidRecord(record))
        return;
    std::string path;
    if (!own) {
        path = receivedPath(record);
    } else if (record.linkFlag() == 1) {
        path = registeredShortcut(record);
    } else {
        path = plat::joinPath(m_sendFolder, utf8Of(record.fileNameCp932()));
        if (!sameVersion(record, path, true))
            path.clear();
    }
    // unlink() removes a link itself, never what it points at.
    if (!path.empty())
        plat::removeFile(path);
}

// Size and last write time as the entry recorded them: a file of that name saved since the
// registration was deleted is another file, which the folder watch registers as new.
bool CatalogFolders::sameVersion(const CatalogRecord& record, const std::string& path,
                                 bool noFollow)
{
    plat::FindRecord now;
    if (plat::statFindRecord(path, now, noFollow) != plat::FindResult::Ok ||
        (now.attributes() & plat::FindAttr::ReparsePoint) != 0)
        return false;
    const plat::FindRecord described = record.fileDescription();
    return now.size() == described.size() && now.lastWriteTime() == described.lastWriteTime();
}

std::string CatalogFolders::registeredShortcut(const CatalogRecord& record) const
{
    std::string target;
    const std::string link = findShortcut(record, &target);
    if (link.empty() || !sameVersion(record, target, false))
        return {};
    // The link itself must predate the registration: one made since (the same document dropped
    // again after its registration was deleted) is a new registration.
    plat::FindRecord linkItself;
    const auto registered = plat::unixFromLocal(record.registrationTime());
    if (plat::statFindRecord(link, linkItself, true) != plat::FindResult::Ok || !registered)
        return {};
    const std::int64_t linkSeconds =
        plat::unixNsFromFileTime(linkItself.lastWriteTime()) / 1'000'000'000;
    return linkSeconds <= *registered ? link : std::string();
}

std::size_t CatalogFolders::readContent(const std::string& path, std::uint32_t offset,
                                        std::size_t size, std::uint8_t* out) const
{
    if (path.empty())
        return 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t n = rio::readAt(fd, out, size, static_cast<off_t>(offset));
    ::close(fd);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool CatalogFolders::writeReceived(const CatalogRecord& record, std::uint32_t offset,
                                   const std::uint8_t* bytes, std::size_t n) const
{
    const std::string path = receivedPath(record);
    if (path.empty())
        return false;
    if (!plat::makeFolders(plat::joinPath(m_recvFolder, utf8Of(record.originNodeCp932()))))
        return false;
    if (offset == 0)
        plat::removeFile(path);
    // O_NOFOLLOW: a link planted under the receive folder must not redirect the write.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    const bool ok = n == 0 || rio::writeAt(fd, bytes, n, static_cast<off_t>(offset));
    return ::close(fd) == 0 && ok;
}

void CatalogFolders::writeErrorRecord(const CatalogRecord& record) const
{
    const int fd = rio::openRw(m_errorFile);
    if (fd < 0)
        return;
    rio::writeRecord(fd, record, 0);
    ::close(fd);
}
