#pragma once

#include "UserConfig.h"

#include <string>
#include <string_view>
#include <vector>

// The users of the local test mode, read from a small ini-like file (format in README.md).
struct LocalConfig
{
    std::vector<UserConfig> users;
};

// Parses the file text; relative runtime folders are taken from baseFolder, a missing one is
// defaultRuntime. False with a message naming the line on the first error.
bool parseLocalConfig(std::string_view text, const std::string& baseFolder,
                      const std::string& defaultRuntime, LocalConfig& out, std::string& error);
bool loadLocalConfig(const std::string& path, const std::string& defaultRuntime, LocalConfig& out,
                     std::string& error);
