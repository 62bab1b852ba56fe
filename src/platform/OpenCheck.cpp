#include "platform/OpenCheck.h"

#include "platform/ProcWriters.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

OpenState probeOpenForWriting(const std::string& path)
{
    // O_NONBLOCK: a FIFO must not block the one thread, and a file under another process's
    // write lease answers EWOULDBLOCK at once instead of waiting out the lease-break time.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        // Only a file that is not there counts as gone; a file we may not open (or that is
        // under a lease) is still there and must be left alone until it can be opened.
        if (errno == ENOENT || errno == ENOTDIR)
            return OpenState::Missing;
        return OpenState::WriterActive;
    }
    OpenState state = OpenState::Free;
    // A writer opening the file while the lease is held makes the kernel signal the holder,
    // with SIGIO unless told otherwise, and SIGIO ends the process. SIGURG is ignored by
    // default and nothing here handles it; without it the lease is not taken at all.
    const bool quietBreak = ::fcntl(fd, F_SETSIG, SIGURG) == 0;
    if (quietBreak && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else if (quietBreak && errno == EAGAIN) {
        state = OpenState::WriterActive;
    } else {
        // No lease here: leases switched off (fs.leases-enable), a file system without them,
        // a file of another owner without CAP_LEASE, or not a regular file. Fall back to
        // looking for a writing descriptor in /proc, which sees every process of this user.
        struct stat st = {};
        if (::fstat(fd, &st) == 0 && procHasWriter(st.st_dev, st.st_ino))
            state = OpenState::WriterActive;
    }
    ::close(fd);
    return state;
}

} // namespace plat
