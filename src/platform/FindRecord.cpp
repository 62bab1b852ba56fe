#include "platform/FindRecord.h"

#include "platform/Bytes.h"
#include "platform/Cp932.h"
#include "platform/LocalTime.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace plat {

static_assert(FindLayout::Attributes == 0 && FindLayout::CreationTime == 4);
static_assert(FindLayout::LastAccessTime == 12 && FindLayout::LastWriteTime == 20);
static_assert(FindLayout::SizeHigh == 28 && FindLayout::SizeLow == 32);
static_assert(FindLayout::Reserved0 == 36 && FindLayout::Reserved1 == 40);
static_assert(FindLayout::FileName == 44 && FindLayout::FileNameSize == 260);
static_assert(FindLayout::ShortName == 304 && FindLayout::ShortNameSize == 14);

std::uint32_t FindRecord::attributes() const
{
    return getU32(bytes.data() + FindLayout::Attributes);
}

std::uint64_t FindRecord::creationTime() const
{
    return getU64(bytes.data() + FindLayout::CreationTime);
}

std::uint64_t FindRecord::lastAccessTime() const
{
    return getU64(bytes.data() + FindLayout::LastAccessTime);
}

std::uint64_t FindRecord::lastWriteTime() const
{
    return getU64(bytes.data() + FindLayout::LastWriteTime);
}

std::uint32_t FindRecord::sizeHigh() const
{
    return getU32(bytes.data() + FindLayout::SizeHigh);
}

std::uint32_t FindRecord::sizeLow() const
{
    return getU32(bytes.data() + FindLayout::SizeLow);
}

std::string FindRecord::nameCp932() const
{
    return std::string(fieldView(bytes.data() + FindLayout::FileName, FindLayout::FileNameSize));
}

std::string FindRecord::nameUtf8() const
{
    return fieldToUtf8(bytes.data() + FindLayout::FileName, FindLayout::FileNameSize);
}

void FindRecord::setAttributes(std::uint32_t v)
{
    putU32(bytes.data() + FindLayout::Attributes, v);
}

void FindRecord::setCreationTime(std::uint64_t v)
{
    putU64(bytes.data() + FindLayout::CreationTime, v);
}

void FindRecord::setLastAccessTime(std::uint64_t v)
{
    putU64(bytes.data() + FindLayout::LastAccessTime, v);
}

void FindRecord::setLastWriteTime(std::uint64_t v)
{
    putU64(bytes.data() + FindLayout::LastWriteTime, v);
}

void FindRecord::setSize(std::uint64_t v)
{
    putU32(bytes.data() + FindLayout::SizeHigh, static_cast<std::uint32_t>(v >> 32));
    putU32(bytes.data() + FindLayout::SizeLow, static_cast<std::uint32_t>(v));
}

void FindRecord::setNameCp932(std::string_view cp932)
{
    copyCp932Field(bytes.data() + FindLayout::FileName, FindLayout::FileNameSize, cp932);
}

namespace {

// What the record needs from stat, whichever call provided it.
struct FileStatus
{
    mode_t mode = 0;
    std::uint64_t size = 0;
    std::int64_t accessNs = 0;
    std::int64_t writeNs = 0;
    std::int64_t birthNs = 0;
    bool hasBirth = false;
};

std::int64_t toNs(std::int64_t sec, std::int64_t nsec)
{
    return sec * 1'000'000'000 + nsec;
}

int statAt(int dirFd, const char* path, bool noFollow, FileStatus& st)
{
    const int flags = noFollow ? AT_SYMLINK_NOFOLLOW : 0;
#ifdef STATX_BTIME
    struct statx sx
    {
    };
    if (::statx(dirFd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
        st.mode = sx.stx_mode;
        st.size = sx.stx_size;
        st.accessNs = toNs(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
        st.writeNs = toNs(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
        st.hasBirth = (sx.stx_mask & STATX_BTIME) != 0;
        if (st.hasBirth)
            st.birthNs = toNs(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
        return 0;
    }
    // Kernels or sandboxes without statx answer ENOSYS (or EPERM under some seccomp filters).
    if (errno != ENOSYS && errno != EPERM)
        return -1;
#endif
    struct stat sb
    {
    };
    if (::fstatat(dirFd, path, &sb, flags) != 0)
        return -1;
    st.mode = sb.st_mode;
    st.size = static_cast<std::uint64_t>(sb.st_size);
    st.accessNs = toNs(sb.st_atim.tv_sec, sb.st_atim.tv_nsec);
    st.writeNs = toNs(sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec);
    return 0;
}

std::uint32_t attributesOf(mode_t mode, std::string_view name)
{
    std::uint32_t attr = 0;
    if (S_ISDIR(mode))
        attr |= FindAttr::Directory;
    else if (S_ISREG(mode))
        attr |= FindAttr::Archive;
    else if (S_ISLNK(mode))
        attr |= FindAttr::ReparsePoint;
    else
        attr |= FindAttr::Device;
    // A link's own permission bits say nothing about its target.
    if (!S_ISLNK(mode) && (mode & S_IWUSR) == 0)
        attr |= FindAttr::ReadOnly;
    if (!name.empty() && name.front() == '.')
        attr |= FindAttr::Hidden;
    return attr;
}

FindResult describe(int dirFd, const char* path, std::string_view name, bool noFollow,
                    FindRecord& out)
{
    out = FindRecord{};
    FileStatus st;
    if (statAt(dirFd, path, noFollow, st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FindResult::NotFound : FindResult::Error;
    out.setAttributes(attributesOf(st.mode, name));
    out.setCreationTime(fileTimeFromUnixNs(st.hasBirth ? st.birthNs : st.writeNs));
    out.setLastAccessTime(fileTimeFromUnixNs(st.accessNs));
    out.setLastWriteTime(fileTimeFromUnixNs(st.writeNs));
    // Only a regular file's size means its content; a folder's or a link's would mislead.
    out.setSize(S_ISREG(st.mode) ? st.size : 0);
    const auto cp932 = toCp932(name);
    if (!cp932 || cp932->size() >= FindLayout::FileNameSize)
        return FindResult::BadName;
    out.setNameCp932(*cp932);
    return FindResult::Ok;
}

std::string_view lastComponent(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos || path.size() == 1)
        return path;
    return path.substr(slash + 1);
}

} // namespace

FindResult statFindRecord(const std::string& path, FindRecord& out, bool noFollow)
{
    return describe(AT_FDCWD, path.c_str(), lastComponent(path), noFollow, out);
}

std::vector<FolderEntry> listFolder(const std::string& folder, bool* ok)
{
    std::vector<FolderEntry> entries;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (ok)
        *ok = dir != nullptr;
    if (!dir)
        return entries;
    const int fd = ::dirfd(dir);
    errno = 0;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name = d->d_name;
        if (name == "." || name == "..")
            continue;
        FolderEntry e;
        e.name = std::string(name);
        e.result = describe(fd, d->d_name, name, true, e.record);
        entries.push_back(std::move(e));
        errno = 0;
    }
    // readdir returns null both at the end and on error; only errno tells them apart.
    if (errno != 0 && ok)
        *ok = false;
    ::closedir(dir);
    return entries;
}

} // namespace plat
