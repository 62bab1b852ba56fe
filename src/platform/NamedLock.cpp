#include "platform/NamedLock.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

// Escaped names longer than this would come near the file-name limit (255 bytes); they are
// shortened and made distinct again by a digest of the whole name.
constexpr std::size_t kMaxEscaped = 150;

bool plainChar(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

// Every byte but [A-Za-z0-9_-] becomes %XX, so "/", "..", blanks and any multi-byte text
// give a plain file name, and two different names never give the same one.
std::string escapeName(std::string_view name, std::size_t budget)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        const std::size_t width = plainChar(c) ? 1 : 3;
        if (out.size() + width > budget)
            break;
        if (width == 1) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string fileNameFor(std::string_view name)
{
    std::string out = escapeName(name, std::string::npos);
    if (out.size() <= kMaxEscaped)
        return out;
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray(name.data(), static_cast<qsizetype>(name.size())),
                                 QCryptographicHash::Sha256)
            .toHex();
    // The "#" cannot come out of the escaping, so a shortened name never equals a plain one.
    const auto digestSize = static_cast<std::size_t>(digest.size());
    return escapeName(name, kMaxEscaped - digestSize - 1) + "#" + digest.toStdString();
}

// The folder must be ours alone: another user who could create or replace files in it could
// hold our lock or point our lock file somewhere else.
bool privateFolder(const std::string& path)
{
    struct stat st = {};
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

} // namespace

NamedLock::~NamedLock()
{
    release();
}

std::string NamedLock::runtimeFolder()
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && xdg[0] == '/') {
        struct stat st = {};
        if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode))
            return xdg;
    }
    const std::string fallback = "/tmp/pavo-" + std::to_string(::getuid());
    return privateFolder(fallback) ? fallback : std::string();
}

std::string NamedLock::lockPath(std::string_view name)
{
    const std::string folder = runtimeFolder();
    if (folder.empty())
        return {};
    return folder + "/pavo-party-" + fileNameFor(name) + ".lock";
}

bool NamedLock::acquire(std::string_view name)
{
    release();
    const std::string path = lockPath(name);
    if (path.empty())
        return false;
    // The lock file is never removed: unlinking it while another process waits on the same
    // file would let two processes believe they hold the lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void NamedLock::release()
{
    if (fd_ < 0)
        return;
    ::close(fd_); // closing the last descriptor drops the flock
    fd_ = -1;
}

} // namespace plat
