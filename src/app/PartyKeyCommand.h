#pragma once

#include <cstdio>
#include <string>

// "pavo --set-party-key" reads the passphrase (or a made code) from one line of input and sets
// the party key for the party of the working folder's Pavo.ini, exactly as the system properties
// dialog does; an empty line removes the key. "pavo --new-party-key" makes a random key, sets
// it and prints its code on standard output for the party's other members. Neither starts a
// node. Messages go to standard error.
class PartyKeyCommand
{
public:
    static constexpr const char* kOption = "--set-party-key";

    // 0 done; 1 refused or failed (message on standard error). Need a Qt application object
    // for the secret service.
    static int run(std::FILE* in, const std::string& workingFolder);
    static int runNew(std::FILE* out, const std::string& workingFolder);
};
