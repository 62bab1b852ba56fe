#pragma once

#include <string>

// What a configured connection must hold, with the message of the first check that fails: the
// connection dialog and the command line's "connections add|rename" refuse the same entries with
// the same words.
class ConnectionRules
{
public:
    // The node name names the peer's pending file and must fit a record's name field.
    static constexpr int kMaxNodeNameBytes = 31;
    static constexpr const char* kTooMany = "接続先は10件までしか設定できません。";

    // tcp: a TCP connection (host, node name) rather than a Skype one (Skype ID). Empty when the
    // entry passes.
    static std::string check(bool tcp, const std::string& host, const std::string& nodeName,
                             const std::string& skypeId);
    // Only the node name's own checks (space, characters, length).
    static std::string checkNodeName(const std::string& nodeName);
};
