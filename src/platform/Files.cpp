#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace plat {

bool makeFolders(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

bool makePrivateFolders(const std::string& path)
{
    // Each missing part is made with mkdir's own mode, so none is ever open to others, not
    // even for a moment.
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        if (::mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST)
            break;
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out, std::uint64_t maxSize)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat sb
    {
    };
    bool ok = ::fstat(fd, &sb) == 0 && !S_ISDIR(sb.st_mode) &&
              static_cast<std::uint64_t>(sb.st_size) <= maxSize;
    std::vector<std::uint8_t> data;
    if (ok && S_ISREG(sb.st_mode))
        data.reserve(static_cast<std::size_t>(sb.st_size));
    std::uint8_t buf[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            ok = errno == EINTR;
            continue;
        }
        if (n == 0)
            break;
        // The file may have grown since fstat.
        if (data.size() + static_cast<std::uint64_t>(n) > maxSize) {
            ok = false;
            break;
        }
        data.insert(data.end(), buf, buf + n);
    }
    ::close(fd);
    if (ok)
        out = std::move(data);
    return ok;
}

bool fileExists(const std::string& path)
{
    struct stat sb
    {
    };
    return ::stat(path.c_str(), &sb) == 0 && !S_ISDIR(sb.st_mode);
}

bool removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

std::string currentFolder()
{
    std::string buf(256, '\0');
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            buf.resize(std::char_traits<char>::length(buf.c_str()));
            return buf;
        }
        if (errno != ERANGE)
            return {};
        buf.resize(buf.size() * 2);
    }
}

std::string joinPath(std::string_view a, std::string_view b)
{
    if (a.empty())
        return std::string(b);
    if (b.empty())
        return std::string(a);
    std::string out(a);
    const bool aSlash = out.back() == '/';
    const bool bSlash = b.front() == '/';
    if (aSlash && bSlash)
        b.remove_prefix(1);
    else if (!aSlash && !bSlash)
        out += '/';
    out += b;
    return out;
}

bool isSafeComponent(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F)
            return false;
    }
    return true;
}

std::string_view baseName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace plat
