#pragma once

#include <string>
#include <string_view>
#include <vector>

// The account the client serves, read from the config file named with --config (format in
// README.md): a JID on an XMPP server, where its password comes from, how to reach the server,
// and the JIDs of the party members.
struct AccountConfig
{
    std::string jid;                   // bare JID, lower case: the user ID the node sees
    std::string passwordFile;          // a file of mode 0600 holding the password, or
    bool passwordInKeyring = false;    // the desktop's secret service
    std::string server;                // host to connect to; empty: the JID's domain (DNS SRV)
    int port = 0;                      // 0: the standard port for the TLS mode
    bool directTls = false;            // TLS from the first byte instead of STARTTLS
    std::string caFile;                // CA certificates trusted besides the system's
    std::vector<std::string> contacts; // bare JIDs, lower case
    std::string presence = "ONLINE";
    std::string runtimeFolder;
};

// A bare JID the node can carry as a user ID: local@domain, at most 31 bytes (the node keeps
// IDs in 32-byte fields), letters, digits and ". _ - +" only (blanks, commas, colons and equals
// signs separate IDs in the client's lists). Compared in lower case.
bool isUsableBareJid(std::string_view jid);

// Parses the file text; relative paths are taken from baseFolder, a missing runtime folder is
// defaultRuntime. False with a message naming the line on the first error.
bool parseAccountConfig(std::string_view text, const std::string& baseFolder,
                        const std::string& defaultRuntime, AccountConfig& out, std::string& error);
bool loadAccountConfig(const std::string& path, const std::string& defaultRuntime,
                       AccountConfig& out, std::string& error);
