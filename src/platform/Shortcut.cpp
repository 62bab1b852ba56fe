#include "platform/Shortcut.h"

#include "platform/AtomicFile.h"
#include "platform/Files.h"

#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace plat {
namespace {

constexpr std::string_view kSuffix = ".lnk";

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
    // Readers see the old link or the new one, never none: the new link is made under a hidden
    // name that does not end in ".lnk" and renamed over the old.
    return AtomicFile::saveLink(linkPath, target);
}

} // namespace plat
