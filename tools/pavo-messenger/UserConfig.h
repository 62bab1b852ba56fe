#pragma once

#include <string>
#include <string_view>
#include <vector>

// What the site knows of one user it serves, from the account file (the account mode, one user)
// or the users file of the local test mode (several).
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

// Skype IDs that fit the node's 32-byte fields and every list format of the client:
// 1 to 31 bytes of letters, digits, ".", "_" and "-".
bool isValidSkypeId(std::string_view id);
// A presence word the client knows (ONLINE, AWAY, DND, NA, SKYPEME, INVISIBLE, OFFLINE),
// compared without regard to case; word is upper-cased in place when it is one.
bool normalisePresence(std::string& word);
