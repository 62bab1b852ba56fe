#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace plat {

// Replaces a whole file so that after a crash or a power loss the path holds either the old or
// the new contents, never a torn mix: the new contents go to a hidden temporary file in the same
// folder, which is synced, renamed over the path, and then the folder is synced (without that the
// rename itself may not survive a power loss). Whatever is at the path stays untouched until the
// rename; a symbolic link there is replaced, never followed. An object destroyed without a
// successful commit() removes its temporary file.
class AtomicFile
{
public:
    // The calls that can fail once the temporary exists; tests hand in their own to inject faults
    // or watch the order of the syncs.
    struct Ops
    {
        std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
        std::function<int(int fd)> fsync;
        std::function<int(int dir, const char* from, const char* to)> rename;
        // Creates the temporary (openat); unset: the system's.
        std::function<int(int dir, const char* name, int flags, mode_t mode)> create = {};
    };
    static const Ops& systemOps();

    explicit AtomicFile(std::string path, const Ops& ops = systemOps());
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file. Without a mode, a regular file at the path passes its
    // permissions on and a new one gets 0666 less the umask.
    bool open(std::optional<mode_t> mode = std::nullopt);
    // Creates the temporary as a symbolic link to target: the commit puts that link at the path.
    bool openLink(const std::string& target);
    // The open temporary file, for calls such as futimens; -1 when there is none.
    int fd() const { return m_fd; }
    // Appends size bytes. A failure makes the commit fail too.
    bool write(const void* data, std::size_t size);
    // Writes size bytes over the part at offset that was already written (a later change to
    // it). A failure makes the commit fail too.
    bool overwrite(const void* data, std::size_t size, off_t offset);
    // Has the system start putting the size bytes at offset on the disk, and with wait, waits
    // until they are there: a file written in slices then leaves the commit's sync little to do.
    bool writeBack(off_t offset, std::size_t size, bool wait);
    // True once the new contents are at the path. On false the path is as it was before and the
    // temporary is gone.
    bool commit();
    // Drops the temporary; the path is left as it was.
    void discard();
    // The errno of the first failure, 0 while there was none.
    int error() const { return m_error; }

    // open, write and commit in one call; on false errno tells why.
    static bool save(const std::string& path, const void* data, std::size_t size,
                     std::optional<mode_t> mode = std::nullopt);
    static bool saveLink(const std::string& path, const std::string& target);

private:
    bool openFolder();
    template <typename Create> bool createTemp(Create create);
    bool applyMode(std::optional<mode_t> mode);
    bool fail(int error);
    bool writeAll(const void* data, std::size_t size,
                  const std::function<ssize_t(const char*, std::size_t)>& once);
    void closeFd();

    std::string m_path;
    const Ops& m_ops;
    int m_dir = -1;
    int m_fd = -1;
    std::string m_name;
    std::string m_temp;
    int m_error = 0;
};

} // namespace plat
