#include "catalog/CatalogFolders.h"

#include "catalog/RecordIo.h"
#include "platform/Cp932.h"
#include "platform/Files.h"
#include "platform/LocalTime.h"
#include "platform/Shortcut.h"

#include "platform/Diag.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

CatalogFolders::~CatalogFolders()
{
    for (const OpenReceived& o : m_open)
        ::close(o.fd);
}

int CatalogFolders::openForWrite(const CatalogRecord& record) const
{
    const std::string path = receivedPath(record);
    for (std::size_t i = 0; i < m_open.size(); ++i) {
        if (m_open[i].path == path) {
            const OpenReceived o = m_open[i];
            m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(i));
            m_open.push_back(o);
            return o.fd;
        }
    }
    const int fd = openReceived(record, O_WRONLY | O_CREAT, true);
    if (fd < 0)
        return -1;
    if (m_open.size() >= kOpenReceived) {
        ::close(m_open.front().fd);
        m_open.erase(m_open.begin());
    }
    m_open.push_back({path, fd});
    return fd;
}

void CatalogFolders::closeCached(const std::string& path) const
{
    for (std::size_t i = 0; i < m_open.size(); ++i) {
        if (m_open[i].path == path) {
            ::close(m_open[i].fd);
            m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

std::string CatalogFolders::receivedPath(const CatalogRecord& record) const
{
    if (!catalog::isValidRecord(record))
        return {};
    return plat::joinPath(plat::joinPath(m_recvFolder, utf8Of(record.originNodeCp932())),
                          utf8Of(record.fileNameCp932()));
}

int CatalogFolders::openOriginFolder(const CatalogRecord& record, bool make) const
{
    if (make && !plat::makePrivateFolders(m_recvFolder))
        return -1;
    // The receive folder itself is the user's; only what lies in it is refused as a link.
    const int recv = ::open(m_recvFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (recv < 0)
        return -1;
    const std::string origin = utf8Of(record.originNodeCp932());
    if (make && ::mkdirat(recv, origin.c_str(), 0700) != 0 && errno != EEXIST) {
        ::close(recv);
        return -1;
    }
    const int dir = ::openat(recv, origin.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    ::close(recv);
    if (dir < 0 && (error == ELOOP || error == ENOTDIR))
        plat::diag("CatalogFolders: %s/%s is a link or not a folder, refused\n",
                   m_recvFolder.c_str(), origin.c_str());
    return dir;
}

int CatalogFolders::openReceived(const CatalogRecord& record, int flags, bool makeFolder) const
{
    if (!catalog::isValidRecord(record))
        return -1;
    const int dir = openOriginFolder(record, makeFolder);
    if (dir < 0)
        return -1;
    const std::string name = utf8Of(record.fileNameCp932());
    // O_NONBLOCK: a pipe planted under the name must not hang the node on open.
    // Received files are this node's user's alone.
    const int fd = ::openat(dir, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const int error = errno;
    ::close(dir);
    if (fd < 0) {
        if (error == ELOOP)
            plat::diag("CatalogFolders: received file %s is a link, refused\n", name.c_str());
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        plat::diag("CatalogFolders: received file %s is not a plain file, refused\n", name.c_str());
        ::close(fd);
        return -1;
    }
    // A file received by an earlier version may still be open to others.
    if ((flags & O_ACCMODE) != O_RDONLY && (st.st_mode & 077) != 0)
        ::fchmod(fd, st.st_mode & 0700);
    return fd;
}

std::string CatalogFolders::contentPath(const CatalogRecord& record, bool own)
{
    if (!catalog::isValidRecord(record))
        return {};
    if (!own) {
        // Taken out by path: only when neither the folder nor the file is a link.
        const int fd = openReceived(record, O_RDONLY, false);
        if (fd < 0)
            return {};
        ::close(fd);
        return receivedPath(record);
    }
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
        // unlinkat in the origin's folder opened without following: a linked origin folder
        // would otherwise have the purge delete in whatever folder it points at.
        closeCached(receivedPath(record));
        const int dir = openOriginFolder(record, false);
        if (dir >= 0) {
            ::unlinkat(dir, utf8Of(record.fileNameCp932()).c_str(), 0);
            ::close(dir);
        }
        return;
    }
    if (record.linkFlag() == 1) {
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

std::size_t CatalogFolders::readContent(const CatalogRecord& record, bool own, std::uint32_t offset,
                                        std::size_t size, std::uint8_t* out)
{
    int fd = -1;
    if (own) {
        const std::string path = contentPath(record, true);
        if (!path.empty())
            fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } else {
        fd = openReceived(record, O_RDONLY, false);
    }
    if (fd < 0)
        return 0;
    const ssize_t n = rio::readAt(fd, out, size, static_cast<off_t>(offset));
    ::close(fd);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool CatalogFolders::writeReceived(const CatalogRecord& record, std::uint32_t offset,
                                   const std::uint8_t* bytes, std::size_t n) const
{
    if (!catalog::isValidRecord(record))
        return false;
    // A fresh download replaces whatever lay under the name, a planted link included (the
    // link itself goes, never what it points at).
    if (offset == 0) {
        closeCached(receivedPath(record));
        const int dir = openOriginFolder(record, true);
        if (dir < 0)
            return false;
        ::unlinkat(dir, utf8Of(record.fileNameCp932()).c_str(), 0);
        ::close(dir);
    }
    const int fd = openForWrite(record);
    if (fd < 0)
        return false;
    const bool ok = n == 0 || rio::writeAt(fd, bytes, n, static_cast<off_t>(offset));
    // The last chunk (or a failed write) closes the file, so its close reports errors too.
    if (!ok || std::uint64_t(offset) + n >= record.fileSize()) {
        for (std::size_t i = 0; i < m_open.size(); ++i) {
            if (m_open[i].fd == fd) {
                m_open.erase(m_open.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
        return ::close(fd) == 0 && ok;
    }
    return ok;
}

void CatalogFolders::writeErrorRecord(const CatalogRecord& record) const
{
    const int fd = rio::openRw(m_errorFile);
    if (fd < 0)
        return;
    rio::writeRecord(fd, record, 0);
    ::close(fd);
}
