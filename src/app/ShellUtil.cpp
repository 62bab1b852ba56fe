#include "app/ShellUtil.h"

#include "app/CopyProgress.h"
#include "app/FileCopier.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "platform/Shortcut.h"

#include <filesystem>

namespace fs = std::filesystem;

#ifndef PAVO_VERSION
#error "PAVO_VERSION must be defined by the build"
#endif

namespace {

FolderChooser g_folderChooser;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// ASCII punctuation only: bytes of multi-byte characters never end a token.
bool isPunct(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
           (u >= 0x7B && u <= 0x7E);
}

} // namespace

const std::string& getVersionText()
{
    static const std::string text = std::string("Ver.:") + PAVO_VERSION;
    return text;
}

std::optional<std::string_view> nextToken(std::string_view text, std::string& token,
                                          const char* delimiters)
{
    token.clear();
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    for (; i < text.size() && text[i] != '\0'; ++i) {
        const char c = text[i];
        const bool ends =
            isSpace(c) || (delimiters ? (delimiters[0] != '\0' && c == delimiters[0]) : isPunct(c));
        if (ends)
            return text.substr(i + 1);
        token.push_back(c);
    }
    return std::nullopt;
}

int GetTargetFile(const std::string& shortcutPath, plat::FindRecord& description,
                  std::string& targetPath)
{
    plat::diag("GetTargetFile() start \n");
    const bool ok = plat::resolveShortcut(shortcutPath, targetPath, description);
    plat::diag("GetTargetFile() end \n");
    return ok ? 1 : 0;
}

int createShortcut(const std::string& workingFolder, const std::string& shortcutPath,
                   const std::string& targetPath)
{
    if (targetPath.empty() || shortcutPath.empty())
        return 0;
    std::string target = targetPath;
    if (target.front() != '/')
        target =
            plat::joinPath(workingFolder.empty() ? plat::currentFolder() : workingFolder, target);
    return plat::makeShortcut(shortcutPath, target) ? 1 : 0;
}

void setFolderChooser(FolderChooser chooser)
{
    g_folderChooser = std::move(chooser);
}

std::optional<std::string> selectFolder(const std::string& initialFolder)
{
    if (!g_folderChooser)
        return std::nullopt;
    auto chosen = g_folderChooser(initialFolder, "フォルダの選択");
    std::error_code ec;
    if (!chosen || chosen->empty() || !fs::is_directory(*chosen, ec))
        return std::nullopt;
    return chosen;
}

int copyFiles(const std::vector<std::string>& destinations, const std::vector<std::string>& sources,
              CopyProgress* progress, std::string* failure)
{
    if (destinations.size() != sources.size())
        return 0;
    std::uint64_t total = 0;
    for (const auto& source : sources)
        total += FileCopier::measure(source);
    if (progress)
        progress->start(total);
    FileCopier copier(progress);
    FileCopier::Result result = FileCopier::Result::Ok;
    for (std::size_t i = 0; i < sources.size() && result == FileCopier::Result::Ok; ++i)
        result = copier.copy(sources[i], destinations[i]);
    if (progress)
        progress->finish();
    if (failure)
        *failure = result == FileCopier::Result::Failed ? copier.failure() : std::string();
    return result == FileCopier::Result::Ok ? 1 : 0;
}
