#pragma once

#include "platform/FindRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CopyProgress;

// "Ver.:" followed by the program's version.
const std::string& getVersionText();

// Splits the next token off text. Leading white space is skipped; the token ends at white space
// or, when delimiters is given, at its first character (an empty text: white space only), or,
// when delimiters is nullptr, at any ASCII punctuation character. The ending character is
// dropped. Returns the text after it, or nullopt when the text ended first (token still holds
// what was read).
std::optional<std::string_view> nextToken(std::string_view text, std::string& token,
                                          const char* delimiters);

// Resolves a shortcut: its target's absolute path and find record. 1 on success, 0 otherwise
// (not a shortcut, dangling, or the target cannot be described).
int GetTargetFile(const std::string& shortcutPath, plat::FindRecord& description,
                  std::string& targetPath);

// Creates (or replaces) the shortcut shortcutPath pointing at targetPath. A relative target is
// taken relative to workingFolder, or to the current folder when workingFolder is empty.
int createShortcut(const std::string& workingFolder, const std::string& shortcutPath,
                   const std::string& targetPath);

// Copies each sources[i] to the full name destinations[i]: files, shortcuts (as the links
// themselves) and folders (recursively; links inside are kept as links). Missing parent folders
// are created. Each file is written under a temporary name and renamed when complete, so a
// failed or cancelled copy never leaves a truncated file under its final name. progress may be
// nullptr: no display, and existing files are replaced without asking. 1 when everything was
// copied (files the user chose not to replace are skipped), 0 when the copy was cancelled or
// failed. When it failed, *failure (if given) says why, for the user; it stays empty when the
// user cancelled.
int copyFiles(const std::vector<std::string>& destinations, const std::vector<std::string>& sources,
              CopyProgress* progress, std::string* failure = nullptr);

// Asks the user for a folder: (initial folder, title) → the chosen path, or nullopt on cancel.
using FolderChooser =
    std::function<std::optional<std::string>(const std::string& initial, const std::string& title)>;
// Installs the user interface's folder browser; an empty chooser makes selectFolder choose none.
void setFolderChooser(FolderChooser chooser);

// Lets the user pick a folder, starting at initialFolder. nullopt when cancelled, when no chooser
// is installed, or when the choice is not an existing folder.
std::optional<std::string> selectFolder(const std::string& initialFolder);
