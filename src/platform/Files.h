#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Small file helpers shared by the stores.
namespace plat {

// Creates the folder with all missing parents. True when it exists afterwards.
bool makeFolders(const std::string& path);
// As makeFolders, but every folder it creates is the owner's only (0700); folders that exist
// keep their mode.
bool makePrivateFolders(const std::string& path);

// Reads a whole file; false when it cannot be opened or read, or is larger than maxSize.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out,
                   std::uint64_t maxSize = UINT64_MAX);

// True when path names something that is not a folder (a final link is followed, so a dangling
// link does not exist).
bool fileExists(const std::string& path);
// Removes a file or a link (never its target). False when nothing was removed.
bool removeFile(const std::string& path);

// The process's current folder.
std::string currentFolder();

// a + "/" + b, without doubling the separator.
std::string joinPath(std::string_view a, std::string_view b);

// The last component of path: everything after its last "/", or the whole path when it has none.
std::string_view baseName(std::string_view path);

// True when name is usable as one path component: not empty, not "." or "..",
// no "/" and no control character.
bool isSafeComponent(std::string_view name);

} // namespace plat
