#include "app/FileCopier.h"

#include "app/CopyProgress.h"
#include "platform/AtomicFile.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "platform/Shortcut.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace fs = std::filesystem;

namespace {
using plat::baseName;

constexpr std::size_t kChunk = 64 * 1024;

std::string parentOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// True when inner is outer or lies inside it (a folder copied into itself would never end).
bool isWithin(const std::string& inner, const std::string& outer)
{
    std::error_code ec1, ec2;
    const fs::path a = fs::weakly_canonical(inner, ec1);
    const fs::path b = fs::weakly_canonical(outer, ec2);
    if (ec1 || ec2)
        return false;
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai)
        if (ai == a.end() || *ai != *bi)
            return false;
    return true;
}

// What an errno value means to the user.
std::string errorText(int error)
{
    switch (error) {
    case ENOSPC:
        return "ディスクの空き容量が足りません";
    case EDQUOT:
        return "ディスクの使用量の上限を超えました";
    case EFBIG:
        return "ファイルが大きすぎます";
    case EACCES:
    case EPERM:
        return "アクセスが許可されていません";
    case EROFS:
        return "読み取り専用の場所です";
    case ENOENT:
        return "ファイルまたはフォルダがありません";
    case ENOTDIR:
        return "途中のパスがフォルダではありません";
    case EISDIR:
        return "同じ名前のフォルダがあります";
    case ENAMETOOLONG:
        return "名前が長すぎます";
    default:
        return std::strerror(error);
    }
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

std::uint64_t FileCopier::measure(const std::string& source)
{
    struct stat st;
    // The top level follows a link unless it is a shortcut, as copy does.
    if (::lstat(source.c_str(), &st) != 0)
        return 0;
    if (S_ISLNK(st.st_mode) && !plat::isShortcutName(baseName(source)) &&
        ::stat(source.c_str(), &st) != 0)
        return 0;
    if (S_ISREG(st.st_mode))
        return static_cast<std::uint64_t>(st.st_size);
    if (!S_ISDIR(st.st_mode))
        return 0;
    std::uint64_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            total += it->file_size(ec);
    return total;
}

FileCopier::Result FileCopier::copy(const std::string& source, const std::string& destination)
{
    m_failure.clear();
    return copyItem(source, destination, true);
}

FileCopier::Result FileCopier::failReading(int error)
{
    return fail(("元のファイルを読み込めません（" + errorText(error) + "）").c_str());
}

FileCopier::Result FileCopier::failWriting(int error)
{
    return fail(("保存先に書き込めません（" + errorText(error) + "）").c_str());
}

FileCopier::Result FileCopier::fail(const char* text)
{
    if (m_failure.empty())
        m_failure = text;
    return Result::Failed;
}

FileCopier::Result FileCopier::copyItem(const std::string& source, const std::string& destination,
                                        bool topLevel)
{
    struct stat st;
    if (::lstat(source.c_str(), &st) != 0) {
        const int error = errno;
        plat::diag("copyFiles: cannot read %s (errno %d)\n", source.c_str(), error);
        return failReading(error);
    }
    if (S_ISLNK(st.st_mode)) {
        // Shortcuts, and any link met inside a folder, are copied as links; a link named on its
        // own is what the user pointed at, so its target is copied.
        if (!topLevel || plat::isShortcutName(baseName(source)))
            return copyLink(source, destination);
        if (::stat(source.c_str(), &st) != 0) {
            plat::diag("copyFiles: dangling link %s\n", source.c_str());
            return fail("リンク先のファイルがありません");
        }
    }
    if (S_ISDIR(st.st_mode))
        return copyFolder(source, destination);
    if (S_ISREG(st.st_mode))
        return copyFile(source, destination);
    // Devices, pipes and sockets have no contents to copy (reading a pipe could block forever).
    plat::diag("copyFiles: not a file or folder: %s\n", source.c_str());
    return topLevel ? fail("通常のファイルではありません") : Result::Ok;
}

FileCopier::Result FileCopier::copyFolder(const std::string& source, const std::string& destination)
{
    if (isWithin(destination, source)) {
        plat::diag("copyFiles: %s lies inside %s\n", destination.c_str(), source.c_str());
        return fail("保存先がコピー元のフォルダの中にあります");
    }
    std::error_code ec;
    if (fs::exists(fs::symlink_status(destination, ec)) && !fs::is_directory(destination, ec))
        return fail("保存先に同じ名前のファイルがあります");
    if (!plat::makeFolders(destination))
        return fail("保存先のフォルダを作成できません");
    std::vector<std::string> names;
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    if (ec)
        return failReading(ec.value());
    for (const auto& name : names) {
        const Result r =
            copyItem(plat::joinPath(source, name), plat::joinPath(destination, name), false);
        if (r != Result::Ok)
            return r;
    }
    return Result::Ok;
}

bool FileCopier::mayReplace(const std::string& destination)
{
    struct stat st;
    if (::lstat(destination.c_str(), &st) != 0)
        return true;
    return !m_progress || m_progress->confirmReplace(destination);
}

FileCopier::Result FileCopier::copyFile(const std::string& source, const std::string& destination)
{
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0)
        return failReading(errno);
    if (!mayReplace(destination)) {
        // Skipped files still count towards the progress total.
        if (m_progress && !m_progress->advance(static_cast<std::uint64_t>(st.st_size)))
            return Result::Cancelled;
        return Result::Ok;
    }
    if (!plat::makeFolders(parentOf(destination)))
        return fail("保存先のフォルダを作成できません");
    // Built under a hidden name beside the destination and renamed into place only when
    // complete; a failed or cancelled copy leaves the destination as it was.
    plat::AtomicFile out(destination);
    if (!out.open())
        return failWriting(out.error());
    const Result r = writeContents(in.get(), out);
    if (r != Result::Ok)
        return r;
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::fchmod(out.fd(), st.st_mode & 07777);
    ::futimens(out.fd(), times);
    return out.commit() ? Result::Ok : failWriting(out.error());
}

FileCopier::Result FileCopier::writeContents(int in, plat::AtomicFile& out)
{
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failReading(errno);
        if (got == 0)
            return Result::Ok;
        if (!out.write(buffer.data(), static_cast<std::size_t>(got)))
            return failWriting(out.error());
        if (m_progress && !m_progress->advance(static_cast<std::uint64_t>(got)))
            return Result::Cancelled;
    }
}

FileCopier::Result FileCopier::copyLink(const std::string& source, const std::string& destination)
{
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
        return n < 0 ? failReading(errno) : fail("リンクを読み込めません");
    if (!mayReplace(destination))
        return Result::Ok;
    if (!plat::makeFolders(parentOf(destination)))
        return fail("保存先のフォルダを作成できません");
    const std::string linkTarget(target.data(), static_cast<std::size_t>(n));
    if (!plat::AtomicFile::saveLink(destination, linkTarget))
        return failWriting(errno);
    return Result::Ok;
}
