#pragma once

#include "platform/TlsContext.h"

#include <optional>
#include <string>

// Where a node keeps its party key: never the passphrase, only the key derived from it. On a
// desktop the key goes to the secret service (through QtKeychain), under the working folder's
// name; without one (no D-Bus session, as on a headless node, or the service refusing) it goes
// into Pavo.ini, which is then kept readable by the owner only, and standard error says so once.
//
// Pavo.ini always records, in section "PARTYKEY", for which party the key was derived ("PARTY")
// and where it lies ("STORE": "keychain" or "file", the key itself as hex in "KEY" for "file"),
// so that a key that was set but cannot be found is noticed instead of the node silently falling
// back to plain TCP.
class PartyKeyStore
{
public:
    using Key = plat::TlsContext::Key;

    enum class State
    {
        None,    // no key set: plain TCP
        Ready,   // the key is there
        Missing, // a key was set but cannot be used; problem says why
    };

    struct Loaded
    {
        State state = State::None;
        std::optional<Key> key;
        std::string problem;
    };

    PartyKeyStore(std::string iniPath, std::string workingFolder);

    Loaded load(const std::string& partyName) const;
    // Stores the key for the party, or removes it (nullopt). False with *error when it could not.
    bool store(const std::optional<Key>& key, const std::string& partyName,
               std::string* error) const;

    // True when a secret service may be asked: a D-Bus session is there and PAVO_NO_KEYCHAIN is
    // not set. Otherwise the keychain is never called, so nothing can wait on it.
    static bool keychainUsable();

private:
    std::string keychainEntry() const;
    bool storeInFile(const Key& key, const std::string& partyName, std::string* error) const;

    std::string m_iniPath;
    std::string m_workingFolder;
};
