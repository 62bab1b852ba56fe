#include "platform/Shortcut.h"

#include "platform/Files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

constexpr std::string_view kSuffix = ".lnk";

std::string_view folderOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A name beside linkPath that no one else uses; hidden, and not ending in ".lnk", so that a
// folder scan running meanwhile never takes it for a shortcut.
std::string tempLinkName(const std::string& linkPath, int attempt)
{
    static unsigned counter = 0;
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.%d.tmp", static_cast<long>(::getpid()), ++counter,
                  attempt);
    std::string out = joinPath(folderOf(linkPath), ".");
    out += baseName(linkPath);
    out += suffix;
    return out;
}

} // namespace

bool isShortcutName(std::string_view name)
{
    return name.size() >= kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix;
}

bool resolveShortcut(const std::string& linkPath, std::string& targetPath, FindRecord& target)
{
    if (!isShortcutName(baseName(linkPath)))
        return false;
    struct stat sb
    {
    };
    if (::lstat(linkPath.c_str(), &sb) != 0 || !S_ISLNK(sb.st_mode))
        return false;
    // realpath follows the whole chain, so two shortcuts reaching one file by different routes
    // resolve to the same path, and fails for a dangling link.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(linkPath.c_str(), nullptr),
                                                         &std::free);
    if (!resolved)
        return false;
    FindRecord record;
    if (statFindRecord(resolved.get(), record) != FindResult::Ok)
        return false;
    targetPath = resolved.get();
    target = record;
    return true;
}

bool makeShortcut(const std::string& linkPath, const std::string& targetPath)
{
    if (targetPath.empty())
        return false;
    const std::string target =
        targetPath.front() == '/' ? targetPath : joinPath(currentFolder(), targetPath);
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::string temp = tempLinkName(linkPath, attempt);
        if (::symlink(target.c_str(), temp.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        // rename replaces an existing link in one step, so readers see the old or the new one.
        if (::rename(temp.c_str(), linkPath.c_str()) == 0)
            return true;
        ::unlink(temp.c_str());
        return false;
    }
    return false;
}

} // namespace plat
