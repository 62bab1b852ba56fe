#pragma once

#include <string>
#include <string_view>
#include <vector>

// The users of the local test mode, read from a small ini-like file (format in README.md).
enum class AttachAnswer
{
    Accept,
    Refuse,
    Unavailable
};

struct UserConfig
{
    std::string id;
    std::string runtimeFolder;
    std::vector<std::string> contacts;
    std::string presence = "ONLINE";
    AttachAnswer attach = AttachAnswer::Accept;
    int availableAfterMs = -1; // with Unavailable: when the client becomes available; -1 never
    int authoriseAfterMs = 0;  // pause between "waiting for authorisation" and "attached"
    // The contacts come from the hub (the account's roster) rather than from this config.
    bool contactsFromHub = false;
};

struct LocalConfig
{
    std::vector<UserConfig> users;
};

// Skype IDs that fit the node's 32-byte fields and every list format of the client:
// 1 to 31 bytes of letters, digits, ".", "_" and "-".
bool isValidSkypeId(std::string_view id);
// A presence word the client knows (ONLINE, AWAY, DND, NA, SKYPEME, INVISIBLE, OFFLINE),
// compared without regard to case; word is upper-cased in place when it is one.
bool normalisePresence(std::string& word);

// Parses the file text; relative runtime folders are taken from baseFolder, a missing one is
// defaultRuntime. False with a message naming the line on the first error.
bool parseLocalConfig(std::string_view text, const std::string& baseFolder,
                      const std::string& defaultRuntime, LocalConfig& out, std::string& error);
bool loadLocalConfig(const std::string& path, const std::string& defaultRuntime, LocalConfig& out,
                     std::string& error);
