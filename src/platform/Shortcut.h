#pragma once

#include "platform/FindRecord.h"

#include <string>
#include <string_view>

// Shortcuts are symbolic links whose name ends in ".lnk" (compared case-sensitively, so
// "A.LNK" is an ordinary file).
namespace plat {

bool isShortcutName(std::string_view name);

// Resolves the shortcut at linkPath: the absolute path of its target and the target's find
// record (whose name is the target's own name). False for a dangling link, a link that is not a
// shortcut, or a target that cannot be described.
bool resolveShortcut(const std::string& linkPath, std::string& targetPath, FindRecord& target);

// Creates (or replaces) a symbolic link at linkPath pointing at the absolute targetPath.
bool makeShortcut(const std::string& linkPath, const std::string& targetPath);

} // namespace plat
