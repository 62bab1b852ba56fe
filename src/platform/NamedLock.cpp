#include "platform/NamedLock.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

void addReason(std::string* why, const std::string& path, const std::string& reason)
{
    if (!why)
        return;
    if (!why->empty())
        *why += "; ";
    *why += path + ": " + reason;
}

// The folder must be ours alone: another user who could create or replace files in it could
// hold our lock (a second start would then read as "already running") or point our lock file
// somewhere else. One whose mode was loosened may already hold such files, so it is not taken.
bool privateFolder(const std::string& path, bool create, std::string* why)
{
    if (create && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        addReason(why, path, std::strerror(errno));
        return false;
    }
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0) {
        addReason(why, path, std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        addReason(why, path, "not a folder");
        return false;
    }
    if (st.st_uid != ::getuid()) {
        addReason(why, path, "owned by user " + std::to_string(st.st_uid));
        return false;
    }
    if ((st.st_mode & 0777) != 0700) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
        addReason(why, path, std::string("mode ") + mode + ", not 0700");
        return false;
    }
    return true;
}

// Creates the missing parents of a folder below the user's home (mode 0700 for new ones).
void makeParents(const std::string& path)
{
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        ::mkdir(path.substr(0, at).c_str(), 0700);
}

std::string absoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

} // namespace

NamedLock::~NamedLock()
{
    release();
}

std::string NamedLock::runtimeFolder(std::string* why)
{
    // The session's own folder is made by the system for this user; it is only checked.
    if (const std::string xdg = absoluteEnv("XDG_RUNTIME_DIR"); !xdg.empty()) {
        struct stat st = {};
        if (::stat(xdg.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
            (st.st_mode & 022) == 0)
            return xdg;
        addReason(why, xdg, "not a folder of this user's alone");
    }
    std::string tmp = absoluteEnv("TMPDIR");
    if (tmp.empty())
        tmp = "/tmp";
    const std::string underTmp = tmp + "/pavo-" + std::to_string(::getuid());
    if (privateFolder(underTmp, true, why))
        return underTmp;
    std::string cache = absoluteEnv("XDG_CACHE_HOME");
    if (cache.empty()) {
        const std::string home = absoluteEnv("HOME");
        if (home.empty()) {
            addReason(why, "$HOME", "not set");
            return {};
        }
        cache = home + "/.cache";
    }
    const std::string underCache = cache + "/pavo";
    makeParents(underCache);
    if (privateFolder(underCache, true, why))
        return underCache;
    return {};
}

std::string NamedLock::lockPath(std::string_view name, std::string* why)
{
    const std::string folder = runtimeFolder(why);
    if (folder.empty())
        return {};
    return folder + "/pavo-party-" + fileNameFor(name) + ".lock";
}

bool NamedLock::acquire(std::string_view name)
{
    release();
    failure_.clear();
    std::string why;
    const std::string path = lockPath(name, &why);
    if (path.empty()) {
        failure_ = why;
        return false;
    }
    // The lock file is never removed: unlinking it while another process waits on the same
    // file would let two processes believe they hold the lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        failure_ = path + ": " + std::strerror(errno);
        return false;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno != EWOULDBLOCK)
            failure_ = path + ": " + std::strerror(errno);
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
