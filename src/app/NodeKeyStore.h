#pragma once

#include "platform/NodeKey.h"

#include <optional>
#include <string>

// Where a node keeps the private half of its identity key, with the party key's care: on a
// desktop in the secret service (through QtKeychain), under the working folder's name; without
// one in Pavo.ini, which is then kept readable by the owner only, and standard error says so
// once. Pavo.ini section "NODEKEY" records where the key lies ("STORE": "keychain" or "file",
// the key as hex in "KEY" for "file"), so that a key that exists but cannot be read is noticed
// instead of being silently replaced by a new one, which every peer would refuse.
class NodeKeyStore
{
public:
    struct Loaded
    {
        std::optional<plat::NodeKey> key;
        // Why there is no key (empty when there is one).
        std::string problem;
        // The key was made by this call.
        bool created = false;
    };

    NodeKeyStore(std::string iniPath, std::string workingFolder);

    // The stored key; when none was ever stored, a new one, stored before it is handed out.
    Loaded loadOrCreate() const;

private:
    std::string keychainEntry() const;
    std::optional<plat::NodeKey> readKeychain() const;
    bool store(const plat::NodeKey& key, std::string* error) const;
    bool storeInFile(const plat::NodeKey& key, std::string* error) const;

    std::string m_iniPath;
    std::string m_workingFolder;
};
