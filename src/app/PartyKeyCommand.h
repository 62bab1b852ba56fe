#pragma once

#include <cstdio>
#include <string>

// "pavo --set-party-key": reads the passphrase from one line of input, derives the party key for
// the party of the working folder's Pavo.ini exactly as the system properties dialog does, and
// stores it; an empty line removes the key. Starts no node. Messages go to standard error.
class PartyKeyCommand
{
public:
    static constexpr const char* kOption = "--set-party-key";
    // The longest passphrase line taken.
    static constexpr std::size_t kMaxLine = 1024;

    // 0 done; 1 refused or failed (message on standard error). Needs a Qt application object
    // for the secret service.
    static int run(std::FILE* in, const std::string& workingFolder);
};
