#include "catalog/RecordIo.h"

#include "platform/AtomicFile.h"
#include "platform/Diag.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace catalog::recordio {

namespace {
constexpr std::size_t RecordsPerBlock = 80;
constexpr std::size_t BlockSize = RecordsPerBlock * CatalogRecord::Size;
} // namespace

bool writeAt(int fd, const void* data, std::size_t size, off_t offset)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, p, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

ssize_t readAt(int fd, void* data, std::size_t size, off_t offset)
{
    auto* p = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, p + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool writeRecord(int fd, const CatalogRecord& record, std::size_t position)
{
    return writeAt(fd, record.bytes.data(), CatalogRecord::Size,
                   static_cast<off_t>(position * CatalogRecord::Size));
}

bool readRecord(int fd, CatalogRecord& record, std::size_t position)
{
    return readAt(fd, record.bytes.data(), CatalogRecord::Size,
                  static_cast<off_t>(position * CatalogRecord::Size)) ==
           static_cast<ssize_t>(CatalogRecord::Size);
}

off_t forEachRecord(int fd, const std::function<void(const CatalogRecord&, std::size_t)>& fn)
{
    std::vector<std::uint8_t> block(BlockSize);
    CatalogRecord r;
    std::size_t position = 0;
    off_t offset = 0;
    for (;;) {
        const ssize_t n = readAt(fd, block.data(), block.size(), offset);
        if (n < 0)
            return -1;
        const std::size_t whole = static_cast<std::size_t>(n) / CatalogRecord::Size;
        for (std::size_t i = 0; i < whole; ++i, ++position) {
            std::copy_n(block.data() + i * CatalogRecord::Size, CatalogRecord::Size,
                        r.bytes.begin());
            fn(r, position);
        }
        offset += n;
        if (static_cast<std::size_t>(n) < block.size())
            return offset;
    }
}

bool rewrite(const std::string& path, std::size_t count,
             const std::function<const CatalogRecord&(std::size_t)>& record)
{
    plat::AtomicFile file(path);
    bool ok = file.open(0600);
    std::vector<std::uint8_t> block(BlockSize);
    for (std::size_t i = 0; ok && i < count; i += RecordsPerBlock) {
        const std::size_t n = std::min(RecordsPerBlock, count - i);
        for (std::size_t k = 0; k < n; ++k) {
            const CatalogRecord& r = record(i + k);
            std::copy(r.bytes.begin(), r.bytes.end(), block.data() + k * CatalogRecord::Size);
        }
        ok = file.write(block.data(), n * CatalogRecord::Size);
    }
    if (ok && file.commit())
        return true;
    file.discard();
    errno = file.error();
    return false;
}

int openRw(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == ELOOP)
        plat::diag("recordio: %s is a link, not opened\n", path.c_str());
    // A file written by an earlier version may still be open to others.
    struct stat st = {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::fchmod(fd, st.st_mode & 0700);
    return fd;
}

} // namespace catalog::recordio
