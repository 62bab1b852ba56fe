#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

constexpr int kNameAttempts = 100;
// "." + name + "." + 12 hexadecimal digits must still be one valid file name.
constexpr std::size_t kSuffixSize = 14;

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Hidden, so that a folder scan running meanwhile never registers it, and never ending in the
// target's own extension (".lnk" included).
std::string tempName(const std::string& name)
{
    thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFULL));
    return "." + name.substr(0, NAME_MAX - kSuffixSize) + suffix;
}

} // namespace

const AtomicFile::Ops& AtomicFile::systemOps()
{
    static const Ops ops{
        [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); },
        [](int fd) { return ::fsync(fd); },
        [](int dir, const char* from, const char* to) { return ::renameat(dir, from, dir, to); },
        [](int dir, const char* name, int flags, mode_t mode) {
            return ::openat(dir, name, flags, mode);
        },
    };
    return ops;
}

AtomicFile::AtomicFile(std::string path, const Ops& ops) : m_path(std::move(path)), m_ops(ops) {}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::fail(int error)
{
    if (m_error == 0)
        m_error = error != 0 ? error : EIO;
    return false;
}

bool AtomicFile::openFolder()
{
    const auto slash = m_path.rfind('/');
    m_name = slash == std::string::npos ? m_path : m_path.substr(slash + 1);
    if (m_name.empty() || m_name == "." || m_name == "..")
        return fail(EISDIR);
    m_dir = ::open(folderOf(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_dir >= 0 || fail(errno);
}

// create(name) makes the temporary under that name in m_dir, failing with EEXIST when the name
// is taken.
template <typename Create> bool AtomicFile::createTemp(Create create)
{
    if (m_dir >= 0 || m_error != 0)
        return fail(EALREADY);
    if (!openFolder())
        return false;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = tempName(m_name);
        if (create(name)) {
            m_temp = name;
            return true;
        }
        if (errno != EEXIST)
            return fail(errno);
    }
    return fail(EEXIST);
}

bool AtomicFile::open(std::optional<mode_t> mode)
{
    // Owner only from the start, before the final mode is set: whoever opened the temporary
    // while it was wider could read what is written later (a settings file holding a key).
    const bool created = createTemp([this](const std::string& name) {
        constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
        m_fd = m_ops.create ? m_ops.create(m_dir, name.c_str(), kFlags, 0600)
                            : systemOps().create(m_dir, name.c_str(), kFlags, 0600);
        return m_fd >= 0;
    });
    return created && applyMode(mode);
}

bool AtomicFile::applyMode(std::optional<mode_t> mode)
{
    if (!mode) {
        // Only a regular file passes its mode on: a link's own mode is always 0777. A new file
        // gets what open(2) would have given it.
        struct stat old = {};
        if (::fstatat(m_dir, m_name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(old.st_mode)) {
            mode = old.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(077);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
    }
    return ::fchmod(m_fd, *mode) == 0 || fail(errno);
}

bool AtomicFile::openLink(const std::string& target)
{
    return createTemp([this, &target](const std::string& name) {
        return ::symlinkat(target.c_str(), m_dir, name.c_str()) == 0;
    });
}

bool AtomicFile::write(const void* data, std::size_t size)
{
    return writeAll(data, size,
                    [this](const char* p, std::size_t n) { return m_ops.write(m_fd, p, n); });
}

bool AtomicFile::overwrite(const void* data, std::size_t size, off_t offset)
{
    return writeAll(data, size, [this, &offset](const char* p, std::size_t n) {
        const ssize_t written = ::pwrite(m_fd, p, n, offset);
        if (written > 0)
            offset += written;
        return written;
    });
}

// Writes all of data through one call at a time, retrying after a signal; a short write that
// makes no progress counts as a full disk.
bool AtomicFile::writeAll(const void* data, std::size_t size,
                          const std::function<ssize_t(const char*, std::size_t)>& once)
{
    if (m_fd < 0)
        return fail(EBADF);
    const auto* p = static_cast<const char*>(data);
    while (size > 0 && m_error == 0) {
        const ssize_t n = once(p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? errno : ENOSPC);
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return m_error == 0;
}

bool AtomicFile::writeBack(off_t offset, std::size_t size, bool wait)
{
    if (m_fd < 0)
        return fail(EBADF);
    const unsigned flags =
        wait ? SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER
             : SYNC_FILE_RANGE_WRITE;
    // Only a hint for the commit's sync, which still follows: a file system without it loses
    // nothing.
    if (::sync_file_range(m_fd, offset, static_cast<off_t>(size), flags) != 0 && errno != EINVAL &&
        errno != ENOSYS)
        return fail(errno);
    return m_error == 0;
}

bool AtomicFile::commit()
{
    if (m_temp.empty())
        return fail(EBADF);
    // Without the sync before the rename a crash could leave an empty file under the old name.
    if (m_fd >= 0 && m_error == 0 && m_ops.fsync(m_fd) != 0)
        fail(errno);
    if (m_fd >= 0 && ::close(m_fd) != 0)
        fail(errno);
    m_fd = -1;
    if (m_error == 0 && m_ops.rename(m_dir, m_temp.c_str(), m_name.c_str()) != 0)
        fail(errno);
    if (m_error != 0) {
        discard();
        return false;
    }
    m_temp.clear();
    // Past the rename a failure cannot be undone, so it is not reported.
    m_ops.fsync(m_dir);
    discard();
    return true;
}

void AtomicFile::discard()
{
    closeFd();
    if (!m_temp.empty())
        ::unlinkat(m_dir, m_temp.c_str(), 0);
    m_temp.clear();
    if (m_dir >= 0)
        ::close(m_dir);
    m_dir = -1;
}

void AtomicFile::closeFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool AtomicFile::save(const std::string& path, const void* data, std::size_t size,
                      std::optional<mode_t> mode)
{
    AtomicFile file(path);
    if (file.open(mode) && file.write(data, size) && file.commit())
        return true;
    file.discard();
    errno = file.error();
    return false;
}

bool AtomicFile::saveLink(const std::string& path, const std::string& target)
{
    AtomicFile file(path);
    if (file.openLink(target) && file.commit())
        return true;
    file.discard();
    errno = file.error();
    return false;
}

} // namespace plat
