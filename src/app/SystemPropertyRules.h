#pragma once

#include <string>
#include <vector>

// What the system properties accept, in the order the checks run, with the message of the first
// that fails: the settings dialog and the command line's "set" refuse the same values with the
// same words. Names travel in fixed CP932 record fields and the node name also names the peers'
// receive folders, so a name taken here is never refused or cut later.
class SystemPropertyRules
{
public:
    static constexpr int kMaxNodeName = 30;
    static constexpr int kMaxPartyName = 18;
    // Expiry days outside this range are refused: 0 or less would register files that are
    // already expired, and far beyond it the expiry date can no longer be written into a record.
    static constexpr int kMinLimitDay = 1;
    static constexpr int kMaxLimitDay = 36500;
    // Listening on port 0 would take a port nobody knows; the range starts at 1.
    static constexpr int kMinPort = 1;
    static constexpr int kMaxPort = 65535;

    // The party key is made from the passphrase and the party name: a new name needs it again.
    static constexpr const char* kKeyNeedsPassphrase =
        "パーティ鍵はパーティ名から作られます。パーティ名を変えるときは合言葉も入力してください。";

    enum class Field
    {
        None,
        Party,
        Node,
        LimitDay,
        Port,
    };

    // A refusal: the Japanese pattern (the key of its translation) with its values for "%1",
    // "%2", ... in order; empty pattern when the values pass.
    struct Refusal
    {
        std::string pattern;
        std::vector<std::string> args;
        Field field = Field::None;

        bool refused() const { return !pattern.empty(); }
        // The pattern with its values put in, untranslated.
        std::string text() const;
    };

    // The lengths the fields allow, in CP932 bytes as the record fields count them.
    static Refusal checkLengths(const std::string& party, const std::string& node);
    // Party name, node name and expiry days, in that order.
    static Refusal checkValues(const std::string& party, const std::string& node, int limitDay);
    static Refusal checkPort(int port);
    // The message of a party name another running node holds.
    static Refusal partyRunning();

    // "%1", "%2", ... of pattern replaced by args.
    static std::string fill(const std::string& pattern, const std::vector<std::string>& args);
};
